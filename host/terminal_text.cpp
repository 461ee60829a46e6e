#include "host/terminal_text.h"

#include <cstdio>

std::string TerminalText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        char buf[8];
        if (c < 0x20 || c == 0x7F) {
            snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        } else if (c == 0xC2 && next >= 0x80 && next <= 0x9F) {
            snprintf(buf, sizeof buf, "\\u%04X", next);
            out += buf;
            ++i;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}
