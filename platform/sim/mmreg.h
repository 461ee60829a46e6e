// Wave format records beyond PCM, with the layouts and values of the
// published mmreg.h and ksmedia.h: IEEE float, A-law, and the extensible
// record whose sub-format GUID names the sample type.
#pragma once

#include "mmsystem.h"
#include "win_types.h"

#ifndef GUID_DEFINED
#define GUID_DEFINED
typedef struct _GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
} GUID;
#endif

#define WAVE_FORMAT_IEEE_FLOAT 0x0003
#define WAVE_FORMAT_EXTENSIBLE 0xFFFE

// Speaker positions of dwChannelMask.
#define SPEAKER_FRONT_LEFT 0x1
#define SPEAKER_FRONT_RIGHT 0x2
#define SPEAKER_FRONT_CENTER 0x4
#define SPEAKER_LOW_FREQUENCY 0x8
#define SPEAKER_BACK_LEFT 0x10
#define SPEAKER_BACK_RIGHT 0x20
#define SPEAKER_SIDE_LEFT 0x200
#define SPEAKER_SIDE_RIGHT 0x400

#pragma pack(push, 1)
typedef struct {
    WAVEFORMATEX Format;
    union {
        WORD wValidBitsPerSample;
        WORD wSamplesPerBlock;
        WORD wReserved;
    } Samples;
    DWORD dwChannelMask;
    GUID SubFormat;
} WAVEFORMATEXTENSIBLE, *PWAVEFORMATEXTENSIBLE;
#pragma pack(pop)

// KSDATAFORMAT_SUBTYPE_PCM and _IEEE_FLOAT: the format tag in Data1 of
// {xxxxxxxx-0000-0010-8000-00aa00389b71}.
inline GUID WaveSubFormat(WORD tag) { return GUID{tag, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}}; }
#define KSDATAFORMAT_SUBTYPE_PCM WaveSubFormat(WAVE_FORMAT_PCM)
#define KSDATAFORMAT_SUBTYPE_IEEE_FLOAT WaveSubFormat(WAVE_FORMAT_IEEE_FLOAT)
