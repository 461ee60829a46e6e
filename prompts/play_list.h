// The play-list sequencer's entry for English phrases.
#pragma once

#include <string>

#include "platform/platform.h"

struct Module;

// Hands one phrase to the speech engine for output device `device` and
// starts the poll timer on `window`. An error of the engine is raised as
// AutomationError.
LONG SpeakEnglish(Module& m, HWND window, LONG device, const std::string& text);
