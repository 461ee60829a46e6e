// The picture of one call: a time axis, the events and the caller's
// actions above it, the keys, the prompts as labelled spans, then the
// waveform of what the caller heard and of what was recorded. Drawn with
// cairo into an SVG and a PNG.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/call_record.h"

struct TimelineSound {
    std::string name;
    double start = 0;  // clock seconds of the first sample
    unsigned rate = 8000;
    std::vector<int16_t> samples;
};

struct TimelineInput {
    const CallRecord* call = nullptr;
    TimelineSound heard;
    std::vector<TimelineSound> recorded;
};

// False when a file could not be written.
bool DrawTimeline(const TimelineInput& in, const std::string& svgPath, const std::string& pngPath);
// Frees cairo's and fontconfig's caches (at the end of a session, after
// the last picture), so a leak checker sees only real leaks.
void ReleaseTimelineCaches();
