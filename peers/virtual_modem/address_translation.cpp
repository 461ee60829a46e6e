// Address translation for lineTranslateAddress and lineMakeCall: canonical
// numbers (+country (area) subscriber) against the current location.
#include "peers/virtual_modem/modem_state.h"

namespace vmodem_impl {

namespace {

std::string DigitsOf(const std::string& s) {
    std::string d;
    for (char c : s)
        if (c >= '0' && c <= '9') d += c;
    return d;
}

}  // namespace

bool Translate(const std::string& in, Translation& t) {
    const Location* here = CurrentLocation();
    t.currentCountry = here ? here->country : 1;
    t.destCountry = t.currentCountry;
    std::string main = in.substr(0, in.find_first_of("|^"));
    if (in[0] != '+') {
        t.dialable = in;
        t.displayable = main;
        return true;
    }
    // Canonical: +country (area) subscriber
    size_t p = 1;
    std::string country;
    while (p < main.size() && main[p] >= '0' && main[p] <= '9') country += main[p++];
    if (country.empty() || country.size() > 4) return false;
    while (p < main.size() && main[p] == ' ') ++p;
    std::string area;
    if (p < main.size() && main[p] == '(') {
        size_t close = main.find(')', p);
        if (close == std::string::npos) return false;
        area = DigitsOf(main.substr(p + 1, close - p - 1));
        p = close + 1;
    }
    std::string subscriber = DigitsOf(main.substr(p));
    if (subscriber.empty()) return false;
    DWORD cc = static_cast<DWORD>(std::stoul(country));
    t.destCountry = cc;
    t.results = LINETRANSLATERESULT_CANONICAL;
    if (cc == t.currentCountry) {
        if (here && area == here->city) {
            t.dialable = subscriber;
            t.results |= LINETRANSLATERESULT_LOCAL;
        } else {
            t.dialable = (cc == 1 ? "1" : "0") + area + subscriber;
            t.results |= LINETRANSLATERESULT_LONGDISTANCE;
        }
    } else {
        t.dialable = (t.currentCountry == 1 ? "011" : "00") + country + area + subscriber;
        t.results |= LINETRANSLATERESULT_INTERNATIONAL;
    }
    t.displayable = main;
    return true;
}

}  // namespace vmodem_impl
