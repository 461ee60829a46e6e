#include "host/timeline.h"

#include <cairo-svg.h>
#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

constexpr double kWidth = 1600, kHeight = 600;
constexpr double kLeft = 130, kRight = 30;
// Lanes, top to bottom.
constexpr double kMarksTop = 62, kMarksBottom = 222;
constexpr double kKeysTop = 232, kKeysBottom = 268;
constexpr double kPromptsTop = 278, kPromptsBottom = 318;
constexpr double kHeardTop = 330, kHeardBottom = 430;
constexpr double kRecTop = 442, kRecBottom = 542;
constexpr double kAxis = 556;
const char* const kFont = "WenQuanYi Micro Hei";

struct Rgb {
    double r, g, b;
};
const Rgb kEventColour{0.16, 0.35, 0.70}, kControlColour{0.10, 0.50, 0.25}, kCallerColour{0.85, 0.40, 0.05},
    kKeyColour{0.55, 0.15, 0.60}, kHeardColour{0.16, 0.35, 0.70}, kRecColour{0.75, 0.20, 0.15};

void Colour(cairo_t* cr, Rgb c, double alpha = 1) { cairo_set_source_rgba(cr, c.r, c.g, c.b, alpha); }

void Text(cairo_t* cr, double x, double y, const std::string& s, double size, bool bold = false) {
    cairo_select_font_face(cr, kFont, CAIRO_FONT_SLANT_NORMAL, bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, size);
    cairo_move_to(cr, x, y);
    cairo_show_text(cr, s.c_str());
}

double TextWidth(cairo_t* cr, const std::string& s, double size) {
    cairo_select_font_face(cr, kFont, CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, size);
    cairo_text_extents_t e;
    cairo_text_extents(cr, s.c_str(), &e);
    return e.x_advance;
}

class Scale {
public:
    Scale(double t0, double t1) : t0_(t0), span_(std::max(t1 - t0, 1.0)) {}
    double X(double t) const { return kLeft + (t - t0_) / span_ * (kWidth - kLeft - kRight); }
    double t0() const { return t0_; }
    double span() const { return span_; }

private:
    double t0_, span_;
};

void LaneLabel(cairo_t* cr, double top, double bottom, const std::string& label) {
    cairo_set_source_rgb(cr, 0.96, 0.96, 0.97);
    cairo_rectangle(cr, kLeft, top, kWidth - kLeft - kRight, bottom - top);
    cairo_fill(cr);
    cairo_set_source_rgb(cr, 0.25, 0.25, 0.25);
    Text(cr, 12, (top + bottom) / 2 + 5, label, 14, true);
}

// One waveform: per pixel column the smallest and largest sample.
void Wave(cairo_t* cr, const Scale& sc, const TimelineSound& s, double top, double bottom, Rgb c) {
    if (s.samples.empty() || s.rate == 0) return;
    const double mid = (top + bottom) / 2, half = (bottom - top) / 2 - 2;
    const double x0 = sc.X(s.start), x1 = sc.X(s.start + static_cast<double>(s.samples.size()) / s.rate);
    Colour(cr, c);
    cairo_set_line_width(cr, 1);
    for (double x = std::max(x0, kLeft); x < std::min(x1, kWidth - kRight); x += 1) {
        size_t a = static_cast<size_t>((x - x0) / (x1 - x0) * static_cast<double>(s.samples.size()));
        size_t b = static_cast<size_t>((x + 1 - x0) / (x1 - x0) * static_cast<double>(s.samples.size()));
        b = std::min(std::max(b, a + 1), s.samples.size());
        int lo = 0, hi = 0;
        for (size_t i = a; i < b; ++i) {
            lo = std::min<int>(lo, s.samples[i]);
            hi = std::max<int>(hi, s.samples[i]);
        }
        cairo_move_to(cr, x + 0.5, mid - hi / 32768.0 * half - 0.5);
        cairo_line_to(cr, x + 0.5, mid - lo / 32768.0 * half + 0.5);
    }
    cairo_stroke(cr);
}

void Draw(cairo_t* cr, const TimelineInput& in) {
    const CallRecord& call = *in.call;
    const double t1 = call.end > call.start ? call.end : call.start + 1;
    const double pad = (t1 - call.start) * 0.01;
    Scale sc(call.start - pad, t1 + pad);

    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    char title[512];
    snprintf(title, sizeof title, "Call %d  \xC2\xB7  %s %s  \xC2\xB7  %.1f s to %.1f s  \xC2\xB7  keys: %s",
             call.number, call.outgoing ? "outgoing to" : "incoming from",
             call.party.empty() ? "(no number)" : call.party.c_str(), call.start, call.end,
             call.keys.empty() ? "none" : call.keys.c_str());
    cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
    Text(cr, 12, 34, title, 20, true);

    LaneLabel(cr, kMarksTop, kMarksBottom, "events");
    LaneLabel(cr, kKeysTop, kKeysBottom, "keys");
    LaneLabel(cr, kPromptsTop, kPromptsBottom, "prompts");
    LaneLabel(cr, kHeardTop, kHeardBottom, "heard");
    LaneLabel(cr, kRecTop, kRecBottom, "recorded");

    // Marks: a thin line down through the lanes, the label in the first
    // row where it does not run into the one before.
    constexpr int kRows = 7;
    double rowEnd[kRows];
    std::fill(rowEnd, rowEnd + kRows, -1e9);
    for (auto& m : call.marks) {
        if (m.kind == CallMark::Key) continue;
        Rgb c = m.kind == CallMark::Event ? kEventColour : m.kind == CallMark::Control ? kControlColour : kCallerColour;
        const double x = sc.X(m.t);
        const std::string label = m.kind == CallMark::Caller ? "caller " + m.label : m.label;
        const double w = TextWidth(cr, label, 12);
        // Near the right edge the label goes to the left of its line.
        const double tx = x + 6 + w > kWidth - kRight ? x - 6 - w : x + 6;
        int row = 0;
        while (row < kRows - 1 && rowEnd[row] > std::min(x, tx)) ++row;
        rowEnd[row] = std::max(x, tx + w) + 8;
        const double y = kMarksTop + 18 + row * 21;
        Colour(cr, c, 0.35);
        cairo_set_line_width(cr, 1);
        cairo_move_to(cr, x + 0.5, y + 3);
        cairo_line_to(cr, x + 0.5, kRecBottom);
        cairo_stroke(cr);
        Colour(cr, c);
        cairo_arc(cr, x + 0.5, y - 4, 3, 0, 2 * M_PI);
        cairo_fill(cr);
        Text(cr, tx, y, label, 12);
    }
    // Keys, each in a box at the moment it arrived; keys pressed close
    // together are moved apart (right, or left at the edge) so each stays
    // readable, a tick under the box marking when it came.
    constexpr double kKeyBox = 22, kKeyGap = 2;
    std::vector<const CallMark*> keys;
    for (auto& m : call.marks)
        if (m.kind == CallMark::Key) keys.push_back(&m);
    std::vector<double> at(keys.size()), box(keys.size());
    for (size_t i = 0; i < keys.size(); ++i) {
        at[i] = sc.X(keys[i]->t);
        box[i] = i ? std::max(at[i], box[i - 1] + kKeyBox + kKeyGap) : at[i];
    }
    for (size_t i = keys.size(); i-- > 0;) {
        const double limit = i + 1 < keys.size() ? box[i + 1] - kKeyBox - kKeyGap : kWidth - kRight - kKeyBox / 2;
        box[i] = std::max(kLeft + kKeyBox / 2, std::min(box[i], limit));
    }
    for (size_t i = 0; i < keys.size(); ++i) {
        const double x = box[i];
        Colour(cr, kKeyColour);
        cairo_rectangle(cr, x - kKeyBox / 2, kKeysTop + 5, kKeyBox, kKeysBottom - kKeysTop - 12);
        cairo_fill(cr);
        cairo_set_line_width(cr, 1.5);
        cairo_move_to(cr, at[i], kKeysBottom - 7);
        cairo_line_to(cr, at[i], kKeysBottom);
        cairo_stroke(cr);
        cairo_set_source_rgb(cr, 1, 1, 1);
        Text(cr, x - TextWidth(cr, keys[i]->label, 18) / 2, kKeysBottom - 13, keys[i]->label, 18, true);
    }
    // Prompts as spans with their text, cut to the span.
    for (auto& p : call.phrases) {
        const double x0 = sc.X(p.start), x1 = std::max(sc.X(p.end), x0 + 4);
        Colour(cr, kControlColour, 0.18);
        cairo_rectangle(cr, x0, kPromptsTop + 4, x1 - x0, kPromptsBottom - kPromptsTop - 8);
        cairo_fill_preserve(cr);
        Colour(cr, kControlColour);
        cairo_set_line_width(cr, 1);
        cairo_stroke(cr);
        cairo_save(cr);
        cairo_rectangle(cr, x0, kPromptsTop, x1 - x0, kPromptsBottom - kPromptsTop);
        cairo_clip(cr);
        cairo_set_source_rgb(cr, 0.05, 0.25, 0.1);
        Text(cr, x0 + 5, kPromptsBottom - 14, p.text, 15);
        cairo_restore(cr);
    }
    Wave(cr, sc, in.heard, kHeardTop, kHeardBottom, kHeardColour);
    for (auto& r : in.recorded) {
        Wave(cr, sc, r, kRecTop, kRecBottom, kRecColour);
        cairo_set_source_rgb(cr, 0.4, 0.1, 0.1);
        Text(cr, sc.X(r.start) + 4, kRecTop + 14, r.name, 12);
    }

    // The time axis, in seconds of the session clock.
    cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
    cairo_set_line_width(cr, 1);
    cairo_move_to(cr, kLeft, kAxis + 0.5);
    cairo_line_to(cr, kWidth - kRight, kAxis + 0.5);
    cairo_stroke(cr);
    double step = 1;
    for (double s : {1.0, 2.0, 5.0, 10.0, 30.0, 60.0, 300.0})
        if (sc.span() / s <= 30) {
            step = s;
            break;
        }
    for (double t = std::ceil(sc.t0() / step) * step; t <= sc.t0() + sc.span(); t += step) {
        const double x = sc.X(t);
        cairo_move_to(cr, x + 0.5, kAxis);
        cairo_line_to(cr, x + 0.5, kAxis + 6);
        cairo_stroke(cr);
        char label[32];
        snprintf(label, sizeof label, "%g", t);
        Text(cr, x - TextWidth(cr, label, 12) / 2, kAxis + 20, label, 12);
    }
    Text(cr, kWidth - kRight - 120, kAxis + 38, "clock (seconds)", 12);
    Text(cr, 12, kAxis + 38, "\xE2\x97\x8F event   ", 12);
    Colour(cr, kEventColour);
    Text(cr, 12, kAxis + 38, "\xE2\x97\x8F", 12);
    cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
    Text(cr, 110, kAxis + 38, "\xE2\x97\x8F control", 12);
    Colour(cr, kControlColour);
    Text(cr, 110, kAxis + 38, "\xE2\x97\x8F", 12);
    cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
    Text(cr, 210, kAxis + 38, "\xE2\x97\x8F caller", 12);
    Colour(cr, kCallerColour);
    Text(cr, 210, kAxis + 38, "\xE2\x97\x8F", 12);
}

}  // namespace

bool DrawTimeline(const TimelineInput& in, const std::string& svgPath, const std::string& pngPath) {
    if (!in.call) return false;
    bool ok = true;
    {
        cairo_surface_t* svg = cairo_svg_surface_create(svgPath.c_str(), kWidth, kHeight);
        cairo_t* cr = cairo_create(svg);
        Draw(cr, in);
        cairo_destroy(cr);
        cairo_surface_finish(svg);
        ok = cairo_surface_status(svg) == CAIRO_STATUS_SUCCESS;
        cairo_surface_destroy(svg);
    }
    cairo_surface_t* png = cairo_image_surface_create(CAIRO_FORMAT_RGB24, static_cast<int>(kWidth),
                                                      static_cast<int>(kHeight));
    cairo_t* cr = cairo_create(png);
    Draw(cr, in);
    cairo_destroy(cr);
    ok = cairo_surface_write_to_png(png, pngPath.c_str()) == CAIRO_STATUS_SUCCESS && ok;
    cairo_surface_destroy(png);
    return ok;
}

void ReleaseTimelineCaches() {
    cairo_debug_reset_static_data();
    FcFini();
}

// The draw module's entry points (host/modules.h, timeline_module.cpp).
extern "C" bool marlune_draw_timeline(const TimelineInput& in, const std::string& svgPath, const std::string& pngPath) {
    return DrawTimeline(in, svgPath, pngPath);
}
extern "C" void marlune_release_timeline_caches() { ReleaseTimelineCaches(); }
