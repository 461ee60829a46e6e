// The history in a real browser: headless Chromium loads the call list, the
// list filtered as the form asks, and a call page; the checks are on what a
// person sees (the rendered DOM and a screenshot).
#include <cairo.h>

#include <algorithm>

#include "tests/history/served_history.h"

namespace {

// The test is compiled to GBK; the pages are UTF-8.
std::string U8(const char8_t* s) { return reinterpret_cast<const char*>(s); }

class BrowserTest : public ServedHistory {
protected:
    // `chromium --dump-dom URL` (and a screenshot when `png` is given), with
    // a fresh profile.
    static std::string Browse(const std::string& path, const std::string& png = "") {
        static int run = 0;
        const std::string profile = root_ + "/profile-" + std::to_string(++run);
        const std::string dom = root_ + "/dom-" + std::to_string(run) + ".html";
        std::string cmd = "cd " + root_ + " && chromium --headless --no-sandbox --disable-gpu --disable-quic "
                          "--no-first-run --disable-background-networking --disable-component-update --disable-sync "
                          "--hide-scrollbars --window-size=1280,1800 --user-data-dir=" + profile;
        if (!png.empty()) cmd += " --screenshot=" + png;
        cmd += " --dump-dom '" + base_ + path + "' > " + dom + " 2>" + dom + ".err";
        int rc = system(cmd.c_str());
        EXPECT_EQ(rc, 0) << cmd << "\n" << testenv::ReadFile(dom + ".err");
        return testenv::ReadFile(dom);
    }
    static std::vector<std::string> Numbers(const std::string& dom) {
        std::vector<std::string> numbers;
        const std::string cell = "<td class=\"number\">";
        for (size_t at = dom.find(cell); at != std::string::npos; at = dom.find(cell, at + 1))
            numbers.push_back(dom.substr(at + cell.size(), dom.find('<', at + cell.size()) - at - cell.size()));
        return numbers;
    }
};

TEST_F(BrowserTest, TheListShowsTheCallsNewestFirstAndTheFiltersNarrowIt) {
    ASSERT_EQ(system("command -v chromium > /dev/null"), 0) << "chromium is not installed (scripts/setup.sh)";
    std::string dom = Browse("/");
    EXPECT_EQ(Numbers(dom), (std::vector<std::string>{"13600000000", "02087654321", "13912345678", "13800138000"})) << dom;
    EXPECT_TRUE(Has(dom, "<p id=\"count\">4 calls, 1 to 4 shown</p>"));
    // The form's own query: every call has a 1 in its number, one has a
    // recording; the choices stay chosen.
    dom = Browse("/?number=1&from=&to=&recorded=yes&ended=");
    EXPECT_EQ(Numbers(dom), (std::vector<std::string>{"13912345678"})) << dom;
    EXPECT_TRUE(Has(dom, "<option value=\"yes\" selected=\"\">")) << dom;
    dom = Browse("/?ended=caller");
    EXPECT_EQ(Numbers(dom), (std::vector<std::string>{"02087654321"}));
}

TEST_F(BrowserTest, ACallPageShowsItsPictureSoundsKeysAndLog) {
    const std::string png = root_ + "/call.png";
    std::string dom = Browse("/call/2", png);
    EXPECT_TRUE(Has(dom, "Call from 13912345678")) << dom;
    EXPECT_TRUE(Has(dom, "<td>2</td>")) << dom;  // the keys
    EXPECT_TRUE(Has(dom, "<td>#</td>"));
    EXPECT_TRUE(Has(dom, "message-2.wav"));
    EXPECT_TRUE(Has(dom, "<pre id=\"log\">"));
    EXPECT_TRUE(Has(dom, U8(u8"请在提示音后留言"))) << dom;  // a prompt, and in the log
    auto sounds = Attributes(dom, "<audio", "src");
    ASSERT_EQ(sounds.size(), 2u);
    for (auto& src : sounds) {
        HttpAnswer wav = Http(src);
        EXPECT_EQ(wav.headers["content-type"], "audio/wav") << src;
        EXPECT_EQ(wav.body.substr(8, 4), "WAVE") << src;
    }

    // The picture loaded: the screenshot holds the timeline's colours (a
    // broken image shows only an icon and grey).
    cairo_surface_t* shot = cairo_image_surface_create_from_png(png.c_str());
    ASSERT_EQ(cairo_surface_status(shot), CAIRO_STATUS_SUCCESS) << png;
    const int w = cairo_image_surface_get_width(shot), h = cairo_image_surface_get_height(shot);
    const int stride = cairo_image_surface_get_stride(shot);
    const unsigned char* px = cairo_image_surface_get_data(shot);
    long coloured = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const unsigned char* p = px + y * stride + x * 4;
            int hi = std::max({p[0], p[1], p[2]}), lo = std::min({p[0], p[1], p[2]});
            if (hi - lo > 80) ++coloured;
        }
    cairo_surface_destroy(shot);
    EXPECT_GT(coloured, 3000) << png;
}

}  // namespace
