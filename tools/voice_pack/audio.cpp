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

Samples TrimSilence(const Samples& sound, int rate, double threshold_dbfs) {
    const size_t frame = std::max(1, rate / 200);  // 5 ms
    const size_t margin = rate / 100;              // 10 ms, two frames
    // Padded with a margin of silence, so that the fades fall outside the
    // frames that reach the threshold even when the sound runs to its ends.
    Samples in(margin, 0);
    in.insert(in.end(), sound.begin(), sound.end());
    in.insert(in.end(), margin, 0);
    const size_t frames = in.size() / frame + (in.size() % frame ? 1 : 0);
    std::vector<double> rms(frames);
    for (size_t f = 0; f < frames; ++f) {
        double sum = 0;
        size_t end = std::min(in.size(), (f + 1) * frame);
        for (size_t i = f * frame; i < end; ++i) sum += double(in[i]) * in[i];
        rms[f] = std::sqrt(sum / double(end - f * frame));
    }
    const double threshold = 32768.0 * std::pow(10.0, threshold_dbfs / 20);
    size_t first = frames, last = 0;
    for (size_t f = 0; f < frames; ++f) {
        if (rms[f] >= threshold) {
            first = std::min(first, f);
            last = f;
        }
    }
    if (first == frames) return {};
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
    if (PeakDbfs(s) >= kMaxPeakDbfs) return "peaks at " + std::to_string(PeakDbfs(s)) + " dBFS";
    if (std::abs(ActiveRmsDbfs(s, rate) - kActiveDbfs) > kActiveToleranceDb)
        return "active level " + std::to_string(ActiveRmsDbfs(s, rate)) + " dBFS";
    const EdgeSilence edges = EdgeSilenceSeconds(s, rate, kEdgeDbfs);
    if (edges.lead > kMaxEdgeSeconds || edges.trail > kMaxEdgeSeconds)
        return "silent for " + std::to_string(edges.lead) + " s before and " + std::to_string(edges.trail) +
               " s after";
    return "";
}

namespace {

// RMS of each frame of the given length (the last one may be shorter).
std::vector<double> FrameRms(const Samples& s, size_t frame) {
    std::vector<double> out;
    for (size_t at = 0; at < s.size(); at += frame) {
        size_t end = std::min(s.size(), at + frame);
        double sum = 0;
        for (size_t i = at; i < end; ++i) sum += double(s[i]) * s[i];
        out.push_back(std::sqrt(sum / double(end - at)));
    }
    return out;
}

}  // namespace

double ActiveRmsDbfs(const Samples& s, int rate) {
    const auto rms = FrameRms(s, std::max(1, rate / 100));
    if (rms.empty()) return -200;
    const double loudest = *std::max_element(rms.begin(), rms.end());
    if (loudest <= 0) return -200;
    double sum = 0;
    size_t n = 0;
    for (double r : rms) {
        if (r >= loudest * 0.1) {
            sum += r * r;
            ++n;
        }
    }
    return Db(std::sqrt(sum / double(n)) / 32768.0);
}

Samples Normalise(const Samples& s, int rate, double target_dbfs) {
    const double level = ActiveRmsDbfs(s, rate);
    if (level <= -200) return s;
    const double gain = std::pow(10.0, (target_dbfs - level) / 20);
    Samples out(s.size());
    for (size_t i = 0; i < s.size(); ++i)
        out[i] = static_cast<int16_t>(std::clamp(std::lround(s[i] * gain), -32767L, 32767L));
    return out;
}

EdgeSilence EdgeSilenceSeconds(const Samples& s, int rate, double threshold_dbfs) {
    const size_t frame = std::max(1, rate / 200);
    const auto rms = FrameRms(s, frame);
    const double threshold = 32768.0 * std::pow(10.0, threshold_dbfs / 20);
    size_t first = rms.size(), last = rms.size();
    for (size_t f = 0; f < rms.size(); ++f) {
        if (rms[f] >= threshold) {
            if (first == rms.size()) first = f;
            last = f;
        }
    }
    const double seconds = double(s.size()) / rate;
    if (first == rms.size()) return {seconds, seconds};
    return {double(first * frame) / rate, std::max(0.0, seconds - double((last + 1) * frame) / rate)};
}

std::vector<double> PitchTrack(const Samples& in, int rate) {
    // Low-passed first (two RBJ biquads at 500 Hz): the first formant's
    // ripple within each period makes the correlation of a slightly
    // jittered voice collapse, while the fundamental survives the filter.
    std::vector<double> s(in.begin(), in.end());
    const double w = 2 * M_PI * 500 / rate, alpha = std::sin(w) / (2 * std::sqrt(0.5)), cw = std::cos(w);
    const double a0 = 1 + alpha, b0 = (1 - cw) / 2 / a0, b1 = (1 - cw) / a0, a1 = -2 * cw / a0, a2 = (1 - alpha) / a0;
    for (int pass = 0; pass < 2; ++pass) {
        double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
        for (double& v : s) {
            const double y = b0 * v + b1 * x1 + b0 * x2 - a1 * y1 - a2 * y2;
            x2 = x1, x1 = v, y2 = y1, y1 = y;
            v = y;
        }
    }
    const size_t step = rate / 100, window = rate * 3 / 100;
    const size_t min_lag = rate / 400, max_lag = rate / 60;
    std::vector<double> f0, level;
    for (size_t at = 0; at + window + max_lag <= s.size(); at += step) {
        double energy = 0;
        for (size_t i = at; i < at + window; ++i) energy += s[i] * s[i];
        level.push_back(energy);
        std::vector<double> r(max_lag + 1, 0);
        double best = 0;
        for (size_t lag = min_lag; lag <= max_lag; ++lag) {
            double xy = 0, yy = 0;
            for (size_t i = at; i < at + window; ++i) {
                xy += s[i] * s[i + lag];
                yy += s[i + lag] * s[i + lag];
            }
            r[lag] = (energy > 0 && yy > 0) ? xy / std::sqrt(energy * yy) : 0;
            best = std::max(best, r[lag]);
        }
        double hz = 0;
        if (best >= 0.7) {
            for (size_t lag = min_lag + 1; lag < max_lag; ++lag) {
                // The first peak near the best: the period, not a multiple of it.
                if (r[lag] >= 0.8 * best && r[lag] >= r[lag - 1] && r[lag] >= r[lag + 1]) {
                    const double a = r[lag - 1], b = r[lag], c = r[lag + 1];
                    const double denom = a - 2 * b + c;
                    const double shift = denom != 0 ? 0.5 * (a - c) / denom : 0;
                    hz = rate / (double(lag) + shift);
                    break;
                }
            }
        }
        f0.push_back(hz);
    }
    if (!level.empty()) {
        const double loudest = *std::max_element(level.begin(), level.end());
        for (size_t i = 0; i < f0.size(); ++i)
            if (level[i] < loudest * 1e-3) f0[i] = 0;
    }
    return f0;
}

double Semitones(double hz) { return 12 * std::log2(hz / 100); }

Samples Beep(int rate) {
    const size_t n = static_cast<size_t>(0.3 * rate);
    const size_t fade = rate / 100;
    // As loud as the syllables: an RMS of kActiveDbfs.
    const double amplitude = 32768 * std::sqrt(2.0) * std::pow(10.0, kActiveDbfs / 20);
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
