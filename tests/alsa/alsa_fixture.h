// A real ALSA configuration for the tests: ALSA_CONFIG_PATH names a file in
// the test's folder defining "marlune_capture", a `file` PCM over `null`
// that writes what it is given, raw, to capture.raw.
#pragma once

#include <time.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/sim/alsa_output.h"
#include "tests/support/audio_fixture.h"

class AlsaTest : public MarluneTest {
protected:
    void SetUp() override {
        MarluneTest::SetUp();
        capture = dir + "/capture.raw";
        std::ofstream(dir + "/asoundrc") << "pcm.marlune_capture {\n"
                                            "    type file\n"
                                            "    slave.pcm { type null }\n"
                                            "    file \"" << capture << "\"\n"
                                            "    format \"raw\"\n"
                                            "}\n";
        setenv("ALSA_CONFIG_PATH", (dir + "/asoundrc").c_str(), 1);
        setenv("MARLUNE_ALSA_DEVICE", "marlune_capture", 1);
        sim::SetSoundCardNotice([this](const std::string& reason) { notices.push_back(reason); });
    }
    void TearDown() override {
        ctrl.reset();
        sim::WaitSoundCardIdle(2 * sim::kSecond);
        MarluneTest::TearDown();
        unsetenv("MARLUNE_ALSA_DEVICE");
        unsetenv("ALSA_CONFIG_PATH");
    }
    // What the PCM wrote, as 16-bit samples.
    std::vector<int16_t> Captured() const {
        const std::string bytes = testenv::ReadFile(capture);
        std::vector<int16_t> v(bytes.size() / 2);
        for (size_t i = 0; i < v.size(); ++i)
            v[i] = static_cast<int16_t>(static_cast<uint8_t>(bytes[2 * i]) | (static_cast<uint8_t>(bytes[2 * i + 1]) << 8));
        return v;
    }
    // The monotonic wall clock, in microseconds (<chrono> does not build with
    // the tests' GBK execution character set).
    static sim::Micros WallNow() {
        timespec t{};
        clock_gettime(CLOCK_MONOTONIC, &t);
        return static_cast<sim::Micros>(t.tv_sec) * sim::kSecond + t.tv_nsec / 1000;
    }
    static sim::Micros Since(sim::Micros from) { return WallNow() - from; }

    std::string capture;
    std::vector<std::string> notices;  // written from the writer thread; read once it is idle
};
