// The play list: items to speak one after the other, with the sounds of the
// sound items.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

struct PlayList {
    static constexpr int MaxItems = 9999;

    LONG ThisF = 1;                      // index of the next item to play
    std::vector<std::string> ItemKinds;  // "e" for English, else a sound path
    std::vector<std::string> ItemTexts;  // English text, "" for a sound
    std::vector<char*> lpWaveData1 = std::vector<char*>(MaxItems, nullptr);
    std::vector<DWORD> ItemSizes = std::vector<DWORD>(MaxItems, 0);
    std::vector<WAVEFORMATEX*> ItemFormats = std::vector<WAVEFORMATEX*>(MaxItems, nullptr);
    std::string PendingText;
    LONG PendingDev = 0;
};
