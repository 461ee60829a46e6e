// The daily event log: one timestamped entry per call, appended to
// "<%Y-%B-%d>modem.txt" in the current directory.
#pragma once

#include <string>

class EventLog {
public:
    // Off until the first control is constructed; nothing turns it off.
    void Enable() { enabled_ = true; }
    bool enabled() const { return enabled_; }
    // Appends one entry; never reports failure.
    void Write(const char* text) const;
    void Write(const std::string& text) const { Write(text.c_str()); }

    // The file an entry at `when` goes to, e.g. "2004-March-05modem.txt".
    static std::string FileNameFor(time_t when);

private:
    bool enabled_ = false;
};
