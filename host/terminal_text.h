// Text from callers, applications and files shown on a terminal: control
// characters (C0, DEL and the C1 range, raw or UTF-8) are written as
// escapes, so that no text can move the cursor, clear the screen or forge
// lines.
#pragma once

#include <string>

std::string TerminalText(const std::string& text);
