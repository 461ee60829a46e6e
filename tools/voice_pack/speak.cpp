#include "tools/voice_pack/speak.h"

#include <espeak-ng/speak_lib.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace voice_pack {
namespace {

Samples* g_sink = nullptr;

int OnSamples(short* wav, int count, espeak_EVENT*) {
    if (wav && g_sink) g_sink->insert(g_sink->end(), wav, wav + count);
    return 0;
}

std::string Normalise(const std::string& phonemes) {
    std::string out;
    for (char c : phonemes)
        if (c != '_' && c != '|' && c != '\'' && c != ',' && c != ' ' && c != '\n' && c != '\t' && c != '\r') out += c;
    return out;
}

// espeak-ng is initialised once per process and never terminated: it does
// not come back from a second initialisation.
int InitialiseOnce() {
    int rate = espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, nullptr, 0);
    if (rate <= 0) throw std::runtime_error("espeak-ng cannot be initialised");
    espeak_SetSynthCallback(OnSamples);
    return rate;
}

}  // namespace

Speaker::Speaker(const VoiceSettings& settings) {
    static const int rate = InitialiseOnce();
    rate_ = rate;
    if (espeak_SetVoiceByName(settings.voice.c_str()) != EE_OK)
        throw std::runtime_error("espeak-ng has no voice \"" + settings.voice + "\"");
    // Speed, pitch and volume are reset by a voice change: set them after it.
    espeak_SetParameter(espeakRATE, settings.words_per_minute, 0);
    espeak_SetParameter(espeakVOLUME, settings.volume, 0);
    espeak_SetParameter(espeakPITCH, settings.pitch, 0);
    espeak_SetParameter(espeakRANGE, settings.range, 0);
}

Spoken Speaker::Speak(const std::string& phonemes) {
    Spoken out;
    out.rate = rate_;
    char* trace_buf = nullptr;
    size_t trace_len = 0;
    FILE* trace = open_memstream(&trace_buf, &trace_len);
    if (!trace) throw std::runtime_error("no memory for the phoneme trace");
    espeak_SetPhonemeTrace(espeakPHONEMES_SHOW, trace);
    g_sink = &out.samples;
    std::string text = "[[" + phonemes + "]]";
    espeak_ERROR err = espeak_Synth(text.c_str(), text.size() + 1, 0, POS_CHARACTER, 0,
                                    espeakCHARS_UTF8 | espeakPHONEMES, nullptr, nullptr);
    espeak_Synchronize();
    g_sink = nullptr;
    espeak_SetPhonemeTrace(0, nullptr);
    std::fclose(trace);
    out.trace.assign(trace_buf, trace_len);
    std::free(trace_buf);
    if (err != EE_OK) throw std::runtime_error("espeak-ng cannot speak " + text);
    return out;
}

std::string CheckTrace(const std::string& phonemes, const std::string& trace) {
    if (trace.find('(') != std::string::npos)
        return "falls back to another language: " + trace;
    if (Normalise(trace) != Normalise(phonemes))
        return "speaks \"" + Normalise(trace) + "\" for \"" + phonemes + "\"";
    return "";
}

}  // namespace voice_pack
