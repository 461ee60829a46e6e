// The serial link to a voice modem: the device opened raw, a reader thread
// that splits what the modem sends into result lines, DLE events and voice
// data, and a writer on the same thread, so that the caller never waits on
// the device. What is read is handed over as items; `arrived` is called on
// the reader thread after each batch (the provider posts a message).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace atmodem {

struct Item {
    enum Kind { Line, Dle, Voice, Gone } kind;
    std::string text;  // the line; the DLE code (one byte); the voice bytes
};

// Splits the byte stream. In command state, lines end at CR or LF (empty
// ones are dropped) and bytes that are not printable are noise. DLE and a
// code is an event in either state; in the data state (after CONNECT while
// `ExpectData` was set) DLE DLE is a literal 0x10 and DLE ETX ends the data.
// A DLE at the end of one read pairs with the first byte of the next.
class Parser {
public:
    void ExpectData(bool on) { expectData_ = on; }
    void Feed(const char* bytes, size_t n, std::vector<Item>& out);

private:
    void EndLine(std::vector<Item>& out);
    bool expectData_ = false;
    bool data_ = false;
    bool dle_ = false;
    bool skipLf_ = false;  // the LF after the CR that ended CONNECT
    std::string line_;
    std::string voice_;
};

class Link {
public:
    ~Link();
    // Opens `path` raw at 115200 8N1; false when it cannot be opened.
    bool Open(const std::string& path, std::function<void()> arrived);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }
    // Queues bytes for the device (any thread).
    void Send(const std::string& bytes);
    // Takes every item read so far.
    std::vector<Item> Take();
    // Waits up to `ms` wall milliseconds for an item (for set-up only).
    bool WaitForItem(int ms);
    void ExpectData(bool on);
    // Bytes handed to Send, and bytes the device has taken, since opening.
    uint64_t Queued() const { return queued_; }
    uint64_t Written() const { return written_; }

private:
    void Run();
    int fd_ = -1;
    int wake_[2] = {-1, -1};
    uint64_t toModem_ = 0, fromModem_ = 0;
    std::thread thread_;
    std::mutex lock_;
    std::condition_variable_any ready_;
    std::deque<Item> items_;
    std::string out_;
    Parser parser_;
    std::atomic<bool> expect_{false};
    std::atomic<uint64_t> queued_{0}, written_{0};
    std::function<void()> arrived_;
};

}  // namespace atmodem
