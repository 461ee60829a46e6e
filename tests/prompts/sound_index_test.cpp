// The character sound index: byte-scan semantics, the first entry winning,
// a name that ends the file, a changed file taking effect at once, and a
// missing file.
#include "prompts/sound_index.h"
#include "tests/prompts/prompts_fixture.h"

namespace {

class SoundIndexTest : public PromptsTest {
protected:
    std::string Lookup(const std::string& character) { return module->composer.GetSoundName(character); }
};

TEST_F(SoundIndexTest, FirstEntryWinsAndZeroBytesMaySeparateEntries) {
    wav::Save("hanzi.dat", Entry("你", "ni3") + std::string(5, '\0') + Entry("好", "hao3") + Entry("你", "other"));
    MarkLog();
    EXPECT_EQ(Lookup("你"), "ni3");
    EXPECT_EQ(NewLog(), (Texts{"begin read", "ni3"}));
    EXPECT_EQ(Lookup("好"), "hao3");
    MarkLog();
    EXPECT_EQ(Lookup("们"), "_long");
    EXPECT_EQ(NewLog(), Texts{"begin read"}) << "a miss logs no name";
}

TEST_F(SoundIndexTest, LastNameMayEndTheFileAndNamesMayBeShared) {
    wav::Save("hanzi.dat", Entry("你", "ni3") + "拟" + std::string(1, '\0') + "x" + "ni3");
    EXPECT_EQ(Lookup("拟"), "ni3");
    EXPECT_EQ(Lookup("你"), "ni3");
    // A key needs its two bytes followed by a 0 byte or the end of the file.
    wav::Save("hanzi.dat", std::string("你好") + std::string(1, '\0') + "xhao3");
    EXPECT_EQ(Lookup("你"), "_long");
    EXPECT_EQ(Lookup("好"), "hao3") << "the string at every offset counts";
    wav::Save("hanzi.dat", "");
    EXPECT_EQ(Lookup("你"), "_long");
    wav::Save("hanzi.dat", std::string("你") + std::string(1, '\0'));
    EXPECT_EQ(Lookup("你"), "") << "an entry cut short has an empty name";
}

// The index is kept between lookups, but a new file takes effect at the
// very next character: rewritten in place with the same size, or replaced.
TEST_F(SoundIndexTest, AChangedIndexTakesEffectAtTheNextLookup) {
    wav::Save("hanzi.dat", Entry("你", "aaa"));
    EXPECT_EQ(Lookup("你"), "aaa");
    wav::Save("hanzi.dat", Entry("你", "bbb"));
    EXPECT_EQ(Lookup("你"), "bbb");
    wav::Save("next.dat", Entry("你", "ccc"));
    ASSERT_EQ(std::rename("next.dat", "hanzi.dat"), 0);
    EXPECT_EQ(Lookup("你"), "ccc");
}

TEST_F(SoundIndexTest, MissingIndexIsAnErrorNamingTheFile) {
    MarkLog();
    try {
        Lookup("你");
        FAIL() << "no error";
    } catch (const AutomationError& e) {
        EXPECT_EQ(static_cast<uint32_t>(e.code()), 0x800A0035u);
        EXPECT_NE(std::string(e.what()).find("hanzi.dat"), std::string::npos);
    }
    EXPECT_EQ(NewLog(), Texts{"begin read"});
    mkdir("hanzi.dat", 0777);
    EXPECT_THROW(Lookup("你"), AutomationError) << "a folder is no index";
}

}  // namespace
