#include "resampler.h"

#include <dlfcn.h>
#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
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

// Empty when loaded; else why not, said once on stderr.
const std::string& LoadSoxr() {
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
    static const bool said = !failure.empty() &&
        std::fprintf(stderr, "rate conversion is linear: cannot load libsoxr.so.0: %s\n", failure.c_str()) > 0;
    (void)said;
    return failure;
}

}  // namespace

Resampler::Resampler(double from, double to, unsigned channels) : ratio_(to / from), channels_(channels) {
    if (!LoadSoxr().empty()) return;
    soxr_error_t err = nullptr;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    s_ = soxr_create(from, to, channels, &err, &io, &quality, nullptr);
    if (err || !s_) throw std::runtime_error(std::string("soxr: ") + (err ? err : "cannot create"));
}

Resampler::~Resampler() {
    if (s_) soxr_delete(s_);
}

// Output frame k lies `at_ + k / ratio_` input frames after the previous
// input frame; each is drawn between the two input frames around it.
void Resampler::Linear(const float* in, size_t frames, std::vector<float>& out) {
    if (!frames) return;
    if (last_.empty()) {
        last_.assign(in, in + channels_);
        in += channels_;
        --frames;
    }
    const double step = 1.0 / ratio_;
    for (; at_ < static_cast<double>(frames); at_ += step) {
        const size_t i = static_cast<size_t>(at_);
        const double f = at_ - static_cast<double>(i);
        const float* a = i == 0 ? last_.data() : in + (i - 1) * channels_;
        const float* b = in + i * channels_;
        for (unsigned c = 0; c < channels_; ++c) out.push_back(static_cast<float>(a[c] + f * (b[c] - a[c])));
    }
    at_ -= static_cast<double>(frames);
    if (frames) last_.assign(in + (frames - 1) * channels_, in + frames * channels_);
}

void Resampler::Run(const float* in, size_t frames, std::vector<float>& out) {
    if (!s_) return Linear(in, frames, out);
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
