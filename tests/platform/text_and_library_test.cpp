#include <dlfcn.h>

#include "platform/sim/component.h"
#include "tests/support/test_env.h"

namespace {

std::u16string ToWide(UINT cp, const std::string& bytes, DWORD flags = 0) {
    int n = MultiByteToWideChar(cp, flags, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::u16string w(static_cast<size_t>(n), u'\0');
    if (n) MultiByteToWideChar(cp, flags, bytes.data(), static_cast<int>(bytes.size()), reinterpret_cast<LPWSTR>(w.data()), n);
    return w;
}

std::string ToBytes(UINT cp, const std::u16string& w) {
    int n = WideCharToMultiByte(cp, 0, reinterpret_cast<LPCWSTR>(w.data()), static_cast<int>(w.size()), nullptr, 0,
                                nullptr, nullptr);
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(cp, 0, reinterpret_cast<LPCWSTR>(w.data()), static_cast<int>(w.size()), s.data(), n, nullptr,
                        nullptr);
    return s;
}

}  // namespace

TEST(CodePages, GbkAndBig5RoundTrip) {
    EXPECT_EQ(GetACP(), 936u);
    EXPECT_EQ(ToWide(936, "\xCF\xDF\xC2\xB7"), u"线路");
    EXPECT_EQ(ToBytes(CP_ACP, u"线路"), "\xCF\xDF\xC2\xB7");
    EXPECT_EQ(ToWide(950, "\xc1\xc2\xc1\xc2\xb1\x7a"), u"謝謝您");
    EXPECT_EQ(ToBytes(950, u"謝謝您"), "\xc1\xc2\xc1\xc2\xb1\x7a");
    EXPECT_EQ(ToWide(CP_UTF8, "\xe7\xba\xbf"), u"线");
}

TEST(CodePages, SizesFollowTheWin32Contract) {
    // -1 counts the terminating zero; a zero output size asks for the size.
    EXPECT_EQ(MultiByteToWideChar(936, 0, "\xCF\xDF" "a", -1, nullptr, 0), 3);
    char16_t small[1];
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(936, 0, "abc", 3, reinterpret_cast<LPWSTR>(small), 1), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(MultiByteToWideChar(12345, 0, "abc", 3, nullptr, 0), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(CodePages, AsciiIsTheSameInEveryCodePage) {
    const std::string ascii("Az 09~\x7F\0!", 10);
    const std::u16string wide(u"Az 09~\x7F\0!", 10);
    for (UINT cp : {936u, 950u, static_cast<UINT>(CP_UTF8), 1252u, 20127u, static_cast<UINT>(CP_ACP)}) {
        SCOPED_TRACE(cp);
        EXPECT_EQ(ToWide(cp, ascii), wide);
        EXPECT_EQ(ToBytes(cp, wide), ascii);
        EXPECT_EQ(MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, "ab", -1, nullptr, 0), 3);
        EXPECT_EQ(WideCharToMultiByte(cp, 0, reinterpret_cast<LPCWSTR>(u"ab"), -1, nullptr, 0, nullptr, nullptr), 3);
    }
    // One byte above ASCII is the code page's own: CP1252 0x80 is the euro.
    EXPECT_EQ(ToWide(1252, "a\x80"), u"a\u20AC");
    EXPECT_EQ(ToBytes(20127, u"a\u00E9"), "a?");
}

TEST(CodePages, InvalidBytesAreReplacedOrRefused) {
    // A lead byte with no trail byte.
    EXPECT_EQ(ToWide(936, std::string("a\xCF", 2)), u"a\uFFFD");
    EXPECT_EQ(MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, "a\xCF", 2, nullptr, 0), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
    BOOL usedDefault = FALSE;
    char out[8];
    const char16_t thai[] = u"\u0E01";
    int n = WideCharToMultiByte(936, 0, reinterpret_cast<LPCWSTR>(thai), 1, out, sizeof out, nullptr, &usedDefault);
    EXPECT_EQ(std::string(out, n), "?");
    EXPECT_TRUE(usedDefault);
}

class LibraryTest : public MarluneTest {};

TEST_F(LibraryTest, DllNamesMapToSharedObjects) {
    EXPECT_EQ(sim::SharedObjectName("TAPI32.DLL"), "libtapi32.so");
    EXPECT_EQ(sim::SharedObjectName("C:\\Windows\\System32\\Espeak_TTS.dll"), "libespeak_tts.so");
    EXPECT_EQ(sim::SharedObjectName("plain"), "libplain.so");
}

TEST_F(LibraryTest, LoadsAPeerAndResolvesItsExports) {
    HMODULE lib = LoadLibraryA("ESPEAK_TTS.DLL");
    ASSERT_NE(lib, nullptr);
    EXPECT_NE(GetProcAddress(lib, "MarluneComponentCreate"), nullptr);
    EXPECT_EQ(GetProcAddress(lib, "NoSuchExport"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    sim::HideExport("espeak_tts.dll", "MarluneComponentCreate");
    EXPECT_EQ(GetProcAddress(lib, "MarluneComponentCreate"), nullptr);
    EXPECT_EQ(sim::LoadAttempts("Espeak_Tts.Dll"), 1);
}

TEST_F(LibraryTest, HiddenOrMissingLibrariesDoNotLoad) {
    sim::HideLibrary("ESPEAK_TTS.DLL");
    EXPECT_EQ(LoadLibraryA("ESPEAK_TTS.DLL"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(LoadLibraryA("NO_SUCH_LIBRARY.DLL"), nullptr);
    EXPECT_EQ(sim::LoadAttempts("ESPEAK_TTS.DLL"), 1);
    sim::Reset();
    EXPECT_NE(LoadLibraryA("ESPEAK_TTS.DLL"), nullptr);  // reset lifts the injection
}

TEST_F(LibraryTest, ALibraryTheProgramProvidesIsTheProgramUnlessMapped) {
    sim::ProvideLibrary("tapi32.dll");
    HMODULE self = LoadLibraryA("TAPI32.DLL");
    void* program = dlopen(nullptr, RTLD_NOW);
    EXPECT_EQ(self, reinterpret_cast<HMODULE>(program));
    EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(self, "lineInitializeExA")), dlsym(program, "lineInitializeExA"));
    sim::HideExport("TAPI32.DLL", "lineShutdown");  // the fault hooks still apply
    EXPECT_EQ(GetProcAddress(self, "lineShutdown"), nullptr);
    FreeLibrary(self);
    // A mapping wins: the library it names is loaded instead.
    sim::MapLibrary("TAPI32.DLL", "libespeak_tts.so");
    HMODULE mapped = LoadLibraryA("TAPI32.DLL");
    EXPECT_NE(mapped, self);
    EXPECT_NE(GetProcAddress(mapped, "MarluneComponentCreate"), nullptr);
    FreeLibrary(mapped);
    sim::MapLibrary("TAPI32.DLL", "");
    sim::ProvideLibrary("TAPI32.DLL", false);
    HMODULE loaded = LoadLibraryA("TAPI32.DLL");
    EXPECT_NE(loaded, reinterpret_cast<HMODULE>(program));
    EXPECT_NE(GetProcAddress(loaded, "lineInitializeExA"), nullptr);
    FreeLibrary(loaded);
    dlclose(program);
}

TEST(CodePages, KeptDescriptorsStartCleanAfterAFailedOrCutConversion) {
    // A strict conversion stopped by a bad sequence, then one cut inside a
    // double-byte character: the next uses of each direction are whole.
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        EXPECT_EQ(MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, "\xCF\xDF\xFF\xFF", 4, nullptr, 0), 0);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
        EXPECT_EQ(ToWide(936, "\xCF"), u"\xFFFD");
        EXPECT_EQ(ToWide(936, "\xCF\xDF\xC2\xB7"), u"线路");
        EXPECT_EQ(ToBytes(936, u"线路"), "\xCF\xDF\xC2\xB7");
        EXPECT_EQ(ToWide(950, "\xc1\xc2"), u"謝");
        EXPECT_EQ(ToBytes(950, u"謝"), "\xc1\xc2");
        EXPECT_EQ(ToBytes(936, u"謝\x20AC"), "\xD6\x78\x80") << "GBK has both";
    }
}

TEST_F(LibraryTest, TheSpeechEngineLoadsItsEngineWithTheFirstPhraseNotAtCreation) {
    auto loaded = [] {
        void* h = dlopen("libespeak-ng.so.1", RTLD_NOW | RTLD_NOLOAD);
        if (h) dlclose(h);
        return h != nullptr;
    };
    HMODULE lib = LoadLibraryA("ESPEAK_TTS.DLL");
    ASSERT_NE(lib, nullptr);
    auto create = reinterpret_cast<MarluneComponentCreateFn>(GetProcAddress(lib, "MarluneComponentCreate"));
    auto invoke = reinterpret_cast<MarluneComponentInvokeFn>(GetProcAddress(lib, "MarluneComponentInvoke"));
    auto destroy = reinterpret_cast<MarluneComponentDestroyFn>(GetProcAddress(lib, "MarluneComponentDestroy"));
    ASSERT_TRUE(create && invoke && destroy);
    void* engine = create(nullptr);
    ASSERT_NE(engine, nullptr);
    EXPECT_FALSE(loaded()) << "creating the component loads no engine";
    LONG busy = 0;
    ASSERT_EQ(invoke(engine, 10, DISPATCH_PROPERTYGET, 0, nullptr, &busy, nullptr, 0), S_OK);
    EXPECT_EQ(busy, 0);
    EXPECT_FALSE(loaded());
    char error[128] = {};
    ASSERT_EQ(invoke(engine, 2, DISPATCH_METHOD, 0, "hello", nullptr, error, sizeof error), S_OK) << error;
    EXPECT_TRUE(loaded());
    ASSERT_EQ(invoke(engine, 10, DISPATCH_PROPERTYGET, 0, nullptr, &busy, nullptr, 0), S_OK);
    EXPECT_EQ(busy, 1) << "the phrase lasts on the clock";
    destroy(engine);
}
