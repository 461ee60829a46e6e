// What a Playback keeps to itself, read by tests: its outputs (open, or
// closed with a buffer still out) and whether any holds a buffer.
#pragma once

#include <algorithm>
#include <cstddef>

#include "audio/playback.h"

struct PlaybackProbe {
    static size_t Outputs(const Playback& p) { return p.outputs_.size(); }
    static bool HasBuffer(const Playback& p) {
        return std::any_of(p.outputs_.begin(), p.outputs_.end(),
                           [](const Playback::Output& o) { return o.header != nullptr; });
    }
};
