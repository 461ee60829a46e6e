// Waveform audio and multimedia file I/O for the Linux build: the subset of
// mmsystem the control calls, with the published record layouts and values.
#pragma once

#include "win_types.h"
#include "win_user.h"

typedef UINT MMRESULT;
typedef UINT* LPUINT;
typedef DWORD FOURCC;
DECLARE_HANDLE(HWAVEOUT);
DECLARE_HANDLE(HWAVEIN);
DECLARE_HANDLE(HMMIO);
typedef HWAVEOUT* LPHWAVEOUT;
typedef HWAVEIN* LPHWAVEIN;
typedef char* HPSTR;

#define MAKEFOURCC(a, b, c, d) \
    ((DWORD)(BYTE)(a) | ((DWORD)(BYTE)(b) << 8) | ((DWORD)(BYTE)(c) << 16) | ((DWORD)(BYTE)(d) << 24))
#define mmioFOURCC(a, b, c, d) MAKEFOURCC(a, b, c, d)

// Results
#define MMSYSERR_NOERROR 0
#define MMSYSERR_ERROR 1
#define MMSYSERR_BADDEVICEID 2
#define MMSYSERR_NOTENABLED 3
#define MMSYSERR_ALLOCATED 4
#define MMSYSERR_INVALHANDLE 5
#define MMSYSERR_NODRIVER 6
#define MMSYSERR_NOMEM 7
#define MMSYSERR_NOTSUPPORTED 8
#define MMSYSERR_INVALFLAG 10
#define MMSYSERR_INVALPARAM 11
#define WAVERR_BADFORMAT 32
#define WAVERR_STILLPLAYING 33
#define WAVERR_UNPREPARED 34
#define WAVERR_SYNC 35
#define MMIOERR_CANNOTOPEN 259
#define MMIOERR_CANNOTREAD 261
#define MMIOERR_CHUNKNOTFOUND 265

// Device ids and open flags
#define WAVE_MAPPER ((UINT)-1)
#define WAVE_FORMAT_QUERY 0x0001
#define WAVE_ALLOWSYNC 0x0002
#define WAVE_MAPPED 0x0004
#define CALLBACK_NULL 0x00000000L
#define CALLBACK_WINDOW 0x00010000L
#define CALLBACK_FUNCTION 0x00030000L

// Notifications
#define MM_WOM_OPEN 0x3BB
#define MM_WOM_CLOSE 0x3BC
#define MM_WOM_DONE 0x3BD
#define MM_WIM_OPEN 0x3BE
#define MM_WIM_CLOSE 0x3BF
#define MM_WIM_DATA 0x3C0

// Format tags
#define WAVE_FORMAT_PCM 1
#define WAVE_FORMAT_ALAW 6
#define WAVE_FORMAT_MULAW 7

// Header flags
#define WHDR_DONE 0x00000001
#define WHDR_PREPARED 0x00000002
#define WHDR_BEGINLOOP 0x00000004
#define WHDR_ENDLOOP 0x00000008
#define WHDR_INQUEUE 0x00000010

// mmio flags
#define MMIO_READ 0x00000000
#define MMIO_WRITE 0x00000001
#define MMIO_READWRITE 0x00000002
#define MMIO_ALLOCBUF 0x00010000
#define MMIO_FINDCHUNK 0x0010
#define MMIO_FINDRIFF 0x0020
#define MMIO_FINDLIST 0x0040
#define FOURCC_RIFF mmioFOURCC('R', 'I', 'F', 'F')
#define FOURCC_LIST mmioFOURCC('L', 'I', 'S', 'T')

#pragma pack(push, 1)
typedef struct tWAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;
} WAVEFORMATEX, *LPWAVEFORMATEX;
typedef const WAVEFORMATEX* LPCWAVEFORMATEX;
#pragma pack(pop)

typedef struct wavehdr_tag {
    LPSTR lpData;
    DWORD dwBufferLength;
    DWORD dwBytesRecorded;
    DWORD_PTR dwUser;
    DWORD dwFlags;
    DWORD dwLoops;
    struct wavehdr_tag* lpNext;
    DWORD_PTR reserved;
} WAVEHDR, *LPWAVEHDR;

typedef struct _MMCKINFO {
    FOURCC ckid;
    DWORD cksize;
    FOURCC fccType;
    DWORD dwDataOffset;
    DWORD dwFlags;
} MMCKINFO, *LPMMCKINFO;
typedef const MMCKINFO* LPCMMCKINFO;

typedef struct _MMIOINFO MMIOINFO, *LPMMIOINFO;

extern "C" {
HMMIO WINAPI mmioOpenA(LPSTR fileName, LPMMIOINFO info, DWORD flags);
MMRESULT WINAPI mmioClose(HMMIO hmmio, UINT flags);
LONG WINAPI mmioRead(HMMIO hmmio, HPSTR buffer, LONG count);
MMRESULT WINAPI mmioDescend(HMMIO hmmio, LPMMCKINFO ck, const MMCKINFO* parent, UINT flags);
MMRESULT WINAPI mmioAscend(HMMIO hmmio, LPMMCKINFO ck, UINT flags);
// origin SEEK_SET, SEEK_CUR or SEEK_END; the new position, or -1.
LONG WINAPI mmioSeek(HMMIO hmmio, LONG offset, int origin);

MMRESULT WINAPI waveOutOpen(LPHWAVEOUT handle, UINT deviceId, LPCWAVEFORMATEX format, DWORD_PTR callback,
                            DWORD_PTR instance, DWORD flags);
MMRESULT WINAPI waveOutClose(HWAVEOUT handle);
MMRESULT WINAPI waveOutPrepareHeader(HWAVEOUT handle, LPWAVEHDR header, UINT size);
MMRESULT WINAPI waveOutUnprepareHeader(HWAVEOUT handle, LPWAVEHDR header, UINT size);
MMRESULT WINAPI waveOutWrite(HWAVEOUT handle, LPWAVEHDR header, UINT size);
MMRESULT WINAPI waveOutReset(HWAVEOUT handle);
UINT WINAPI waveOutGetNumDevs();

MMRESULT WINAPI waveInOpen(LPHWAVEIN handle, UINT deviceId, LPCWAVEFORMATEX format, DWORD_PTR callback,
                           DWORD_PTR instance, DWORD flags);
MMRESULT WINAPI waveInClose(HWAVEIN handle);
MMRESULT WINAPI waveInPrepareHeader(HWAVEIN handle, LPWAVEHDR header, UINT size);
MMRESULT WINAPI waveInUnprepareHeader(HWAVEIN handle, LPWAVEHDR header, UINT size);
MMRESULT WINAPI waveInAddBuffer(HWAVEIN handle, LPWAVEHDR header, UINT size);
MMRESULT WINAPI waveInStart(HWAVEIN handle);
MMRESULT WINAPI waveInStop(HWAVEIN handle);
MMRESULT WINAPI waveInReset(HWAVEIN handle);
UINT WINAPI waveInGetNumDevs();
}
#define mmioOpen mmioOpenA
