#include "resampler.h"

#include <dlfcn.h>
#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <type_traits>

namespace sim {

namespace {

// libsoxr is loaded the first time a rate is converted, so that a program
// that never converts does not load it (nor the OpenMP runtime it brings).
// The pointers carry the functions' own names: the calls below read as
// calls of the library.
decltype(&::soxr_io_spec) soxr_io_spec;
decltype(&::soxr_quality_spec) soxr_quality_spec;
decltype(&::soxr_create) soxr_create;
decltype(&::soxr_delete) soxr_delete;
decltype(&::soxr_process) soxr_process;

void LoadSoxr() {
    static const std::string failure = [] {
        void* lib = dlopen("libsoxr.so.0", RTLD_NOW | RTLD_LOCAL);
        if (!lib) return std::string(dlerror());
        auto bind = [lib](auto& fn, const char* name) {
            fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(dlsym(lib, name));
            return fn != nullptr;
        };
        if (!bind(soxr_io_spec, "soxr_io_spec") || !bind(soxr_quality_spec, "soxr_quality_spec") ||
            !bind(soxr_create, "soxr_create") || !bind(soxr_delete, "soxr_delete") || !bind(soxr_process, "soxr_process"))
            return std::string(dlerror());
        return std::string();
    }();
    if (!failure.empty()) throw std::runtime_error("soxr: cannot load libsoxr.so.0: " + failure);
}

}  // namespace

Resampler::Resampler(double from, double to, unsigned channels) : ratio_(to / from), channels_(channels) {
    LoadSoxr();
    soxr_error_t err = nullptr;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    s_ = soxr_create(from, to, channels, &err, &io, &quality, nullptr);
    if (err || !s_) throw std::runtime_error(std::string("soxr: ") + (err ? err : "cannot create"));
}

Resampler::~Resampler() { soxr_delete(s_); }

void Resampler::Run(const float* in, size_t frames, std::vector<float>& out) {
    // Room for what this input gives plus some of what is held back; asked
    // again while the output fills it.
    const size_t room = static_cast<size_t>(std::ceil(static_cast<double>(frames) * ratio_)) + 256;
    size_t used = 0;
    for (;;) {
        const size_t base = out.size();
        out.resize(base + room * channels_);
        size_t idone = 0, odone = 0;
        soxr_process(s_, in ? in + used * channels_ : nullptr, in ? frames - used : 0, &idone, out.data() + base,
                     room, &odone);
        out.resize(base + odone * channels_);
        used += idone;
        if (odone < room && (!in || used >= frames)) return;
    }
}

void Resampler::Process(const float* in, size_t frames, std::vector<float>& out) {
    if (frames) Run(in, frames, out);
}

void Resampler::Flush(std::vector<float>& out) { Run(nullptr, 0, out); }

std::vector<float> ResampleAll(const float* in, size_t frames, unsigned channels, double from, double to,
                               size_t outFrames) {
    std::vector<float> out;
    if (from == to) {
        out.assign(in, in + std::min(frames, outFrames) * channels);
    } else if (frames) {
        Resampler r(from, to, channels);
        r.Process(in, frames, out);
        r.Flush(out);
    }
    out.resize(outFrames * channels, 0.0f);
    return out;
}

}  // namespace sim
