#include "host/sound_card.h"

#include <cstdio>
#include <string>

#include "platform/sim/alsa_output.h"
#include "platform/sim/wave_devices.h"

void SetUpSoundCard(bool audible, bool listen) {
    sim::SetSoundCardAudible(audible);
    sim::SetAudibleDevice(listen ? sim::kLineDevice : sim::kSoundCardDevice);
    sim::SetSoundCardNotice([](const std::string& reason) {
        fprintf(stderr, "marlune: %s (MARLUNE_ALSA_DEVICE names the ALSA device; --no-sound turns it off)\n",
                reason.c_str());
    });
}

void FinishSoundCard() { sim::WaitSoundCardIdle(2 * sim::kSecond); }
