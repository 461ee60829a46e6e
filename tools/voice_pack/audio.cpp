#include "tools/voice_pack/audio.h"

#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace voice_pack {
namespace {

double Db(double ratio) { return ratio > 0 ? 20 * std::log10(ratio) : -200; }

void Put16(std::string& out, uint16_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>(v >> 8);
}
void Put32(std::string& out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}
uint32_t Get32(const std::string& b, size_t at) {
    return uint8_t(b[at]) | uint8_t(b[at + 1]) << 8 | uint8_t(b[at + 2]) << 16 | uint32_t(uint8_t(b[at + 3])) << 24;
}
uint16_t Get16(const std::string& b, size_t at) { return uint8_t(b[at]) | uint8_t(b[at + 1]) << 8; }

}  // namespace

Samples Resample(const Samples& in, int in_rate, int out_rate) {
    if (in.empty()) return {};
    size_t out_len = static_cast<size_t>(std::ceil(double(in.size()) * out_rate / in_rate)) + 16;
    Samples out(out_len);
    size_t done = 0;
    soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
    io.flags |= SOXR_NO_DITHER;  // dither is random: the same input gives the same file
    soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    soxr_error_t err = soxr_oneshot(in_rate, out_rate, 1, in.data(), in.size(), nullptr, out.data(), out.size(),
                                    &done, &io, &quality, nullptr);
    if (err) throw std::runtime_error(std::string("soxr: ") + err);
    out.resize(done);
    return out;
}

Samples TrimSilence(const Samples& in, int rate) {
    const size_t frame = std::max(1, rate / 200);  // 5 ms
    const size_t frames = in.size() / frame + (in.size() % frame ? 1 : 0);
    std::vector<double> rms(frames);
    for (size_t f = 0; f < frames; ++f) {
        double sum = 0;
        size_t end = std::min(in.size(), (f + 1) * frame);
        for (size_t i = f * frame; i < end; ++i) sum += double(in[i]) * in[i];
        rms[f] = std::sqrt(sum / double(end - f * frame));
    }
    double loudest = frames ? *std::max_element(rms.begin(), rms.end()) : 0;
    double threshold = std::max(loudest * 0.01, 32768.0 * std::pow(10.0, -50.0 / 20));
    size_t first = frames, last = 0;
    for (size_t f = 0; f < frames; ++f) {
        if (rms[f] >= threshold) {
            first = std::min(first, f);
            last = f;
        }
    }
    if (first == frames) return {};
    const size_t margin = rate / 100;  // 10 ms
    size_t begin = first * frame > margin ? first * frame - margin : 0;
    size_t end = std::min(in.size(), (last + 1) * frame + margin);
    Samples out(in.begin() + begin, in.begin() + end);
    size_t fade = std::min(margin, out.size() / 2);
    for (size_t i = 0; i < fade; ++i) {
        double g = double(i) / double(fade);
        out[i] = static_cast<int16_t>(std::lround(out[i] * g));
        out[out.size() - 1 - i] = static_cast<int16_t>(std::lround(out[out.size() - 1 - i] * g));
    }
    return out;
}

double PeakDbfs(const Samples& s) {
    int peak = 0;
    for (int16_t v : s) peak = std::max(peak, std::abs(int(v)));
    return Db(peak / 32768.0);
}

double RmsDbfs(const Samples& s) {
    if (s.empty()) return -200;
    double sum = 0;
    for (int16_t v : s) sum += double(v) * v;
    return Db(std::sqrt(sum / double(s.size())) / 32768.0);
}

double AudibleSeconds(const Samples& s, int rate) {
    const size_t frame = std::max(1, rate / 200);
    const double threshold = 32768.0 * std::pow(10.0, -40.0 / 20);
    size_t audible = 0;
    for (size_t at = 0; at + frame <= s.size(); at += frame) {
        double sum = 0;
        for (size_t i = at; i < at + frame; ++i) sum += double(s[i]) * s[i];
        audible += std::sqrt(sum / double(frame)) >= threshold;
    }
    return double(audible * frame) / rate;
}

std::string CheckSound(const Samples& s, int rate) {
    double seconds = double(s.size()) / rate;
    if (seconds < kMinSeconds || seconds > kMaxSeconds)
        return "lasts " + std::to_string(seconds) + " s, outside " + std::to_string(kMinSeconds) + " to " +
               std::to_string(kMaxSeconds) + " s";
    if (std::any_of(s.begin(), s.end(), [](int16_t v) { return v >= 32767 || v <= -32767; })) return "clips";
    if (PeakDbfs(s) < -30) return "is silent: peak " + std::to_string(PeakDbfs(s)) + " dBFS";
    if (RmsDbfs(s) < -45) return "is silent: RMS " + std::to_string(RmsDbfs(s)) + " dBFS";
    if (AudibleSeconds(s, rate) < kMinAudibleSeconds)
        return "is silent but for " + std::to_string(AudibleSeconds(s, rate)) + " s";
    return "";
}

Samples Beep(int rate) {
    const size_t n = static_cast<size_t>(0.3 * rate);
    const size_t fade = rate / 100;
    const double amplitude = 32767 * std::pow(10.0, -12.0 / 20);
    Samples out(n);
    for (size_t i = 0; i < n; ++i) {
        double g = std::min({1.0, double(i) / fade, double(n - 1 - i) / fade});
        out[i] = static_cast<int16_t>(std::lround(amplitude * g * std::sin(2 * M_PI * 425 * double(i) / rate)));
    }
    return out;
}

std::string WavBytes(const Samples& s, int rate) {
    const uint32_t data = static_cast<uint32_t>(s.size() * 2);
    std::string out = "RIFF";
    Put32(out, 36 + data);
    out += "WAVEfmt ";
    Put32(out, 16);
    Put16(out, 1);  // PCM
    Put16(out, 1);
    Put32(out, rate);
    Put32(out, rate * 2);
    Put16(out, 2);
    Put16(out, 16);
    out += "data";
    Put32(out, data);
    for (int16_t v : s) Put16(out, static_cast<uint16_t>(v));
    return out;
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!f) throw std::runtime_error("cannot write " + path);
}

WavInfo ReadWav(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) throw std::runtime_error("cannot open " + path);
    std::string b((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    if (b.size() < 12 || b.compare(0, 4, "RIFF") != 0 || b.compare(8, 4, "WAVE") != 0)
        throw std::runtime_error(path + ": not a RIFF/WAVE file");
    WavInfo info;
    bool have_fmt = false, have_data = false;
    for (size_t at = 12; at + 8 <= b.size();) {
        std::string id = b.substr(at, 4);
        uint32_t size = Get32(b, at + 4);
        if (size > b.size() - at - 8) throw std::runtime_error(path + ": chunk " + id + " runs past the end");
        if (id == "fmt " && size >= 16) {
            info.format = Get16(b, at + 8);
            info.channels = Get16(b, at + 10);
            info.rate = static_cast<int>(Get32(b, at + 12));
            info.bits = Get16(b, at + 22);
            have_fmt = true;
        } else if (id == "data") {
            info.samples.resize(size / 2);
            std::memcpy(info.samples.data(), b.data() + at + 8, info.samples.size() * 2);
            have_data = true;
        }
        at += 8 + size + (size & 1);
    }
    if (!have_fmt || !have_data) throw std::runtime_error(path + ": no fmt or data chunk");
    return info;
}

}  // namespace voice_pack
