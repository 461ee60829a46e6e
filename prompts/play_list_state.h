// The play list: items to speak one after the other, with the sounds of the
// sound items.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "audio/wave_sound.h"
#include "platform/platform.h"

struct PlayList {
    static constexpr int MaxItems = 9999;

    LONG ThisF = 1;                      // index of the next item to play
    std::vector<std::string> ItemKinds;  // "e" for English, else a sound path
    std::vector<std::string> ItemTexts;  // English text, "" for a sound
    std::vector<char*> lpWaveData1 = std::vector<char*>(MaxItems, nullptr);
    std::vector<DWORD> ItemSizes = std::vector<DWORD>(MaxItems, 0);
    std::vector<WAVEFORMATEX*> ItemFormats = std::vector<WAVEFORMATEX*>(MaxItems, nullptr);
    // Per sound item: the size of its format record (the device is reopened
    // with it after a phrase).
    std::vector<DWORD> ItemFormatSizes = std::vector<DWORD>(MaxItems, 0);
    std::string PendingText;
    LONG PendingDev = 0;

    // Moves the current sound's blocks into entry k; from then on the list
    // owns them. Several entries may share blocks (a failed read leaves the
    // previous sound current).
    void TakeSound(int k, WaveSound& sound) {
        lpWaveData1[k] = sound.data;
        ItemSizes[k] = sound.dataSize;
        ItemFormats[k] = sound.format;
        ItemFormatSizes[k] = sound.formatSize;
        sound.owned = false;
    }

    // Releases every block the tables hold, each once, and clears them.
    void ReleaseSounds() {
        std::vector<void*> blocks;
        for (int k = 0; k < MaxItems; ++k) {
            if (lpWaveData1[k]) blocks.push_back(lpWaveData1[k]);
            if (ItemFormats[k]) blocks.push_back(ItemFormats[k]);
        }
        std::sort(blocks.begin(), blocks.end());
        blocks.erase(std::unique(blocks.begin(), blocks.end()), blocks.end());
        for (void* b : blocks) free(b);
        std::fill(lpWaveData1.begin(), lpWaveData1.end(), nullptr);
        std::fill(ItemSizes.begin(), ItemSizes.end(), 0);
        std::fill(ItemFormats.begin(), ItemFormats.end(), nullptr);
        std::fill(ItemFormatSizes.begin(), ItemFormatSizes.end(), 0);
    }

    PlayList() = default;
    PlayList(const PlayList&) = delete;
    PlayList& operator=(const PlayList&) = delete;
    ~PlayList() { ReleaseSounds(); }
};
