// The call pictures for the lua module: drawn by the draw module, loaded
// with the first picture. Without it the other outputs of a call are
// written all the same, and the reason is printed once.
#include <cstdio>
#include <string>

#include "host/modules.h"
#include "host/timeline.h"

namespace {

using DrawFunction = bool (*)(const TimelineInput&, const std::string&, const std::string&);
using ReleaseFunction = void (*)();

bool gDrawLoaded = false;

}  // namespace

bool DrawTimeline(const TimelineInput& in, const std::string& svgPath, const std::string& pngPath) {
    static std::string error;
    static const auto draw = reinterpret_cast<DrawFunction>(HostModuleEntry("draw", "marlune_draw_timeline", error));
    if (!draw) {
        if (!error.empty()) fprintf(stderr, "marlune: the call pictures are not drawn: %s\n", error.c_str());
        error.clear();
        return false;
    }
    gDrawLoaded = true;
    return draw(in, svgPath, pngPath);
}

void ReleaseTimelineCaches() {
    if (!gDrawLoaded) return;
    std::string error;
    if (auto release = reinterpret_cast<ReleaseFunction>(HostModuleEntry("draw", "marlune_release_timeline_caches", error)))
        release();
}
