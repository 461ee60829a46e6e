#include "tools/voice_pack/contour.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace voice_pack {

double DcPercent(const Samples& s) {
    if (s.empty()) return 0;
    double sum = 0;
    for (int16_t v : s) sum += v;
    return 100 * sum / double(s.size()) / 32768;
}

namespace {

// One pass of an RBJ high-pass biquad, Q = 1/sqrt(2).
void HighPass(std::vector<double>& x, int rate, double hz) {
    const double w = 2 * M_PI * hz / rate, alpha = std::sin(w) / std::sqrt(2.0), cw = std::cos(w);
    const double a0 = 1 + alpha, b0 = (1 + cw) / 2 / a0, b1 = -(1 + cw) / a0, a1 = -2 * cw / a0, a2 = (1 - alpha) / a0;
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    for (double& v : x) {
        const double y = b0 * v + b1 * x1 + b0 * x2 - a1 * y1 - a2 * y2;
        x2 = x1, x1 = v, y2 = y1, y1 = y;
        v = y;
    }
}

Samples ToSamples(const std::vector<double>& x) {
    Samples out(x.size());
    for (size_t i = 0; i < x.size(); ++i) out[i] = static_cast<int16_t>(std::lround(std::clamp(x[i], -32767.0, 32767.0)));
    return out;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

Samples RemoveDc(const Samples& s, int rate) {
    std::vector<double> x(s.begin(), s.end());
    double mean = 0;
    for (double v : x) mean += v;
    mean = x.empty() ? 0 : mean / double(x.size());
    for (double& v : x) v -= mean;
    HighPass(x, rate, 50);
    std::reverse(x.begin(), x.end());
    HighPass(x, rate, 50);
    std::reverse(x.begin(), x.end());
    return ToSamples(x);
}

Samples LevelOnset(const Samples& s, int rate, int tone) {
    if (tone != 1 && tone != 4) return s;
    std::vector<double> f0 = PitchTrack(s, rate);
    const size_t step = rate / 100;  // PitchTrack's frames: 10 ms apart, 30 ms long
    // Frames more than 5 semitones off the voiced median are octave errors:
    // treated as unvoiced.
    std::vector<double> voiced;
    for (double f : f0)
        if (f > 0) voiced.push_back(f);
    if (voiced.size() < 8) return s;
    const double median = Median(voiced);
    for (double& f : f0)
        if (f > 0 && std::abs(12 * std::log2(f / median)) > 5) f = 0;
    size_t first = 0, last = f0.size();
    while (first < f0.size() && f0[first] <= 0) ++first;
    while (last > first && f0[last - 1] <= 0) --last;
    if (last - first < 8) return s;
    // The top, and the frame from which the contour is left as it is.
    double top = 0;
    size_t from = first;
    if (tone == 1) {
        std::vector<double> late;
        for (size_t i = (first + last) / 2; i < last; ++i)
            if (f0[i] > 0) late.push_back(f0[i]);
        top = Median(late);
        for (size_t i = first; i < last && (f0[i] <= 0 || f0[i] < top); ++i) from = i + 1;
    } else {
        for (size_t i = first; i < last; ++i)
            if (f0[i] > top) top = f0[i], from = i;
    }
    if (from <= first) return s;
    // The pitch period at each sample (0: unvoiced) and the ratio wanted.
    auto frame_of = [&](size_t n) { return std::min(f0.size() - 1, n >= step ? (n - step) / step : 0); };
    auto period = [&](size_t n) {
        const double f = f0[frame_of(n)];
        return f > 0 ? rate / f : 0.0;
    };
    auto ratio = [&](size_t n) {
        const size_t k = frame_of(n);
        return (k >= first && k < from && f0[k] > 0) ? top / f0[k] : 1.0;
    };
    // Analysis marks: a pitch period apart on the peaks of voiced stretches,
    // 5 ms apart elsewhere.
    // Marks on the peaks of the fundamental: the sound low-passed (two
    // biquads at 500 Hz), its largest positive sample in each period.
    std::vector<double> low(s.begin(), s.end());
    {
        const double w = 2 * M_PI * 500 / rate, alpha = std::sin(w) / std::sqrt(2.0), cw = std::cos(w);
        const double a0 = 1 + alpha, b0 = (1 - cw) / 2 / a0, b1 = (1 - cw) / a0, a1 = -2 * cw / a0, a2 = (1 - alpha) / a0;
        for (int pass = 0; pass < 2; ++pass) {
            double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
            for (double& v : low) {
                const double y = b0 * v + b1 * x1 + b0 * x2 - a1 * y1 - a2 * y2;
                x2 = x1, x1 = v, y2 = y1, y1 = y;
                v = y;
            }
        }
    }
    std::vector<size_t> marks;
    const size_t hop = rate / 200;
    for (size_t n = 0; n < s.size();) {
        const double p = period(n);
        if (p <= 0) {
            marks.push_back(n);
            n += hop;
            continue;
        }
        // The first peak of a stretch: the largest sample within a period;
        // the next: the largest within 20 % of a period either side of one
        // period on.
        const bool follows = !marks.empty() && period(marks.back()) > 0 && n - marks.back() < size_t(2 * p);
        const size_t lo = follows ? marks.back() + size_t(0.8 * p) : n;
        const size_t hi = std::min(s.size(), follows ? marks.back() + size_t(1.2 * p) + 1 : n + size_t(p));
        if (lo >= hi) break;
        size_t best = lo;
        for (size_t i = lo; i < hi; ++i)
            if (low[i] > low[best]) best = i;
        marks.push_back(best);
        n = best + std::max<size_t>(1, size_t(0.8 * p));
    }
    marks.erase(std::unique(marks.begin(), marks.end()), marks.end());
    // Synthesis: grains of two analysis periods under a Hann window, placed
    // a period divided by the ratio apart; each sample divided by the sum of
    // the windows over it.
    std::vector<double> out(s.size(), 0), weight(s.size(), 0);
    size_t k = 0;
    const size_t stop = std::min(s.size(), (from + 1) * step + rate * 3 / 100 + rate / 100 + rate / 50);
    for (double t = double(marks.front()); t < double(stop);) {
        const size_t at = size_t(t);
        while (k + 1 < marks.size() && std::abs(double(marks[k + 1]) - t) <= std::abs(double(marks[k]) - t)) ++k;
        const size_t m = marks[k];
        const double pa = period(m) > 0 ? period(m) : double(hop);
        const double half = std::max(pa, double(hop));
        const double r = ratio(m);
        for (double d = -half; d <= half; d += 1) {
            const long src = long(m) + long(d), dst = long(at) + long(d);
            if (src < 0 || dst < 0 || size_t(src) >= s.size() || size_t(dst) >= s.size()) continue;
            const double w = 0.5 + 0.5 * std::cos(M_PI * d / half);
            out[size_t(dst)] += w * s[size_t(src)];
            weight[size_t(dst)] += w;
        }
        t += std::max(1.0, pa / r);
    }
    // From the frame where the contour is left as it is, the sound itself,
    // crossfaded over 10 ms.
    const size_t join = std::min(s.size(), (from + 1) * step + rate * 3 / 100), fade = rate / 100;
    for (size_t i = 0; i < out.size(); ++i) {
        const double shifted = weight[i] > 0.05 ? out[i] / weight[i] : s[i];
        const double g = i < join ? 1.0 : i >= join + fade ? 0.0 : 1.0 - double(i - join) / double(fade);
        out[i] = g * shifted + (1 - g) * s[i];
    }
    return ToSamples(out);
}

}  // namespace voice_pack
