#include "control/core/variant.h"

#include "platform/code_page.h"

std::string ToAnsi(const std::u16string& wide) { return codepage::FromWide(CP_ACP, wide); }

std::u16string FromAnsi(const std::string& ansi) { return codepage::ToWide(CP_ACP, ansi); }
