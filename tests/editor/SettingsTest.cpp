#include "editor/Settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

using namespace kv;

namespace {

std::string Bytes(std::initializer_list<int> List)
{
    std::string s;
    for (int b : List)
        s += char(b);
    return s;
}

std::string ReadFile(const std::string& Name)
{
    std::ifstream in(Name, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class SettingsFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        Dir = std::filesystem::temp_directory_path() /
              ("kv_settings_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(Dir);
        std::filesystem::create_directories(Dir);
    }
    void TearDown() override { std::filesystem::remove_all(Dir); }
    std::string Path(const char* Name) const { return (Dir / Name).string(); }
    std::filesystem::path Dir;
};

} // namespace

// ---- View.ziv ------------------------------------------------------------------------

TEST(ViewSettings, WritesChessOrColourStringWithCrLf)
{
    EXPECT_EQ(ViewSettingsText({true, clGray}), "CHESS\r\n");
    EXPECT_EQ(ViewSettingsText({false, RGB(0x12, 0x34, 0x56)}), "$00563412\r\n");
    EXPECT_EQ(ViewSettingsText({false, clGray}), "clGray\r\n");
    EXPECT_EQ(ViewSettingsText({false, clBtnFace}), "clBtnFace\r\n");
}

TEST(ViewSettings, ReadsChessNamesAndHexAndFallsBackToDefault)
{
    TEditorBackground b = ParseViewSettings("CHESS\r\n");
    EXPECT_TRUE(b.Chess);
    EXPECT_EQ(b.Color, clGray);

    b = ParseViewSettings("$00563412\r\n");
    EXPECT_FALSE(b.Chess);
    EXPECT_EQ(b.Color, RGB(0x12, 0x34, 0x56));

    b = ParseViewSettings("clRed\nsecond line ignored");
    EXPECT_FALSE(b.Chess);
    EXPECT_EQ(b.Color, clRed);

    // Case-sensitive match, junk, clNone, an empty file and a stray top byte: the default.
    for (const char* bad : {"chess", "CHESS2", "garbage", "clNone", "", "$12345678", "$FFFFFFFFF"}) {
        b = ParseViewSettings(bad);
        EXPECT_TRUE(b.Chess) << bad;
        EXPECT_EQ(b.Color, clGray) << bad;
    }
    // Only the first 30 characters count: "CHESS" padded out past 30 is still junk.
    EXPECT_TRUE(ParseViewSettings("clWhite                          x").Chess == false);
}

// ---- CForm.ziv -----------------------------------------------------------------------

TEST(WindowRecord, NormalWindowBytesAreExact)
{
    TMemoryStream m;
    WriteWindowRecord(m, {wsNormal, 100, 50, 800, 600});
    const std::vector<uint8_t> bytes = m.Bytes();
    std::string got(bytes.begin(), bytes.end());
    EXPECT_EQ(got, Bytes({0x00, 0, 0, 0, 0x64, 0, 0, 0, 0x32, 0, 0, 0, 0x20, 0x03, 0, 0, 0x58, 0x02, 0, 0}));
}

TEST(WindowRecord, ReadsStatesNegativeBoundsAndRejectsShortFiles)
{
    std::string bytes = Bytes(
        {0x02, 0xAA, 0xBB, 0xCC, 0xF6, 0xFF, 0xFF, 0xFF, 0x32, 0, 0, 0, 0x20, 0x03, 0, 0, 0x58, 0x02, 0, 0, 0x99});
    TReadOnlyMemoryStream s(bytes.data(), int64_t(bytes.size()));
    TWindowRecord r;
    ASSERT_TRUE(ReadWindowRecord(s, r));
    EXPECT_EQ(r, (TWindowRecord{wsMaximized, -10, 50, 800, 600}));

    bytes[0] = 7; // no such state
    TReadOnlyMemoryStream s2(bytes.data(), int64_t(bytes.size()));
    ASSERT_TRUE(ReadWindowRecord(s2, r));
    EXPECT_EQ(r.State, wsNormal);

    TReadOnlyMemoryStream shortStream(bytes.data(), 19);
    TWindowRecord untouched{wsMinimized, 1, 2, 3, 4};
    EXPECT_FALSE(ReadWindowRecord(shortStream, untouched));
    EXPECT_EQ(untouched, (TWindowRecord{wsMinimized, 1, 2, 3, 4}));
}

TEST(WindowRecord, ClampsToTheScreenAndCentresTheDefault)
{
    TRect screen = Rect(0, 0, 1280, 1024);
    EXPECT_EQ(DefaultWindowRecord(screen), (TWindowRecord{wsNormal, 237, 209, 805, 606}));
    // Off to the bottom right: pulled back so the whole window shows.
    EXPECT_EQ(ClampWindowRecord({wsNormal, 5000, 5000, 800, 600}, screen),
              (TWindowRecord{wsNormal, 480, 424, 800, 600}));
    // Negative position, tiny size: moved on and grown to the minimum.
    EXPECT_EQ(ClampWindowRecord({wsNormal, -300, -20, 5, -7}, screen), (TWindowRecord{wsNormal, 0, 0, 320, 240}));
    // Larger than the screen: shrunk to it.
    EXPECT_EQ(ClampWindowRecord({wsNormal, 10, 10, 4000, 3000}, screen), (TWindowRecord{wsNormal, 0, 0, 1280, 1024}));
    // Extreme values do not overflow.
    TWindowRecord r =
        ClampWindowRecord({wsNormal, INT32_MAX, INT32_MIN, INT32_MAX, INT32_MAX}, Rect(100, 50, 900, 650));
    EXPECT_EQ(r, (TWindowRecord{wsNormal, 100, 50, 800, 600}));
}

// ---- Dirs.lst ------------------------------------------------------------------------

TEST(RecentListFile, ReadsClearEmptyBlankAndOverlongLists)
{
    EXPECT_TRUE(ParseRecentList("Clear\r\n/a/x.bmp\r\n").empty());
    EXPECT_TRUE(ParseRecentList("Empty\r\n").empty());
    EXPECT_TRUE(ParseRecentList("").empty());
    EXPECT_EQ(ParseRecentList("/1\n\n  \n/2\r\n/3\n/4\n/5\n/6\n/7\n"),
              (std::vector<std::string>{"/1", "/2", "/3", "/4", "/5"}));
    EXPECT_EQ(ParseRecentList("/no/line/end"), (std::vector<std::string>{"/no/line/end"}));
    std::string longLine(5000, 'x');
    EXPECT_EQ(ParseRecentList("/" + longLine + "\r\n/ok\r\n"), (std::vector<std::string>{"/ok"}));
}

TEST(RecentListFile, WritesCaptionsWithCrLfAndThePlaceholder)
{
    EXPECT_EQ(RecentListText({}), "Empty\r\n");
    EXPECT_EQ(RecentListText({"/p/b.bmp", "/p/a b.jpg"}), "/p/b.bmp\r\n/p/a b.jpg\r\n");
}

TEST(RecentList, SixOpensKeepTheNewestFive)
{
    TRecentList list;
    EXPECT_EQ(list.Captions(), (std::vector<std::string>{"Empty"}));
    EXPECT_TRUE(list.IsPlaceholder(0));
    for (const char* f : {"a", "b", "c", "d", "e", "f"})
        if (list.IsNewRecent(f))
            list.AddRecentFile(f);
    EXPECT_EQ(list.Captions(), (std::vector<std::string>{"f", "e", "d", "c", "b"}));
    EXPECT_EQ(list.Marked(), 0);
    EXPECT_EQ(RecentListText(list.Files()), "f\r\ne\r\nd\r\nc\r\nb\r\n");
    EXPECT_FALSE(list.IsNewRecent("c"));
    EXPECT_TRUE(list.IsNewRecent("C")); // exact and case-sensitive
}

TEST(RecentList, SecondFileMovesTheFirstDown)
{
    TRecentList list(std::vector<std::string>{"/x"});
    list.AddRecentFile("/y");
    EXPECT_EQ(list.Captions(), (std::vector<std::string>{"/y", "/x"}));
    TRecentList three(std::vector<std::string>{"1", "2", "3"});
    three.AddRecentFile("0");
    EXPECT_EQ(three.Captions(), (std::vector<std::string>{"0", "1", "2", "3"}));
}

// ---- Files ---------------------------------------------------------------------------

TEST_F(SettingsFiles, MissingFilesGiveDefaults)
{
    EXPECT_TRUE(LoadViewSettings(Path("View.ziv")).Chess);
    TWindowRecord r{wsMinimized, 1, 2, 3, 4};
    EXPECT_FALSE(LoadWindowRecord(Path("CForm.ziv"), r));
    EXPECT_TRUE(LoadRecentList(Path("Dirs.lst")).empty());
}

TEST_F(SettingsFiles, RoundTripsAndReplacesTheOldFile)
{
    SaveViewSettings(Path("View.ziv"), {false, RGB(1, 2, 3)});
    EXPECT_EQ(ReadFile(Path("View.ziv")), "$00030201\r\n");
    EXPECT_EQ(LoadViewSettings(Path("View.ziv")).Color, RGB(1, 2, 3));

    SaveWindowRecord(Path("CForm.ziv"), {wsNormal, 100, 50, 800, 600});
    SaveWindowRecord(Path("CForm.ziv"), {wsMaximized, 1, 2, 3, 4});
    EXPECT_EQ(std::filesystem::file_size(Path("CForm.ziv")), 20u);
    TWindowRecord r;
    ASSERT_TRUE(LoadWindowRecord(Path("CForm.ziv"), r));
    EXPECT_EQ(r, (TWindowRecord{wsMaximized, 1, 2, 3, 4}));

    SaveRecentList(Path("Dirs.lst"), {});
    EXPECT_EQ(ReadFile(Path("Dirs.lst")), "Empty\r\n");
    SaveRecentList(Path("Dirs.lst"), {"/a/\xD0\xAF.bmp"});
    EXPECT_EQ(LoadRecentList(Path("Dirs.lst")), (std::vector<std::string>{"/a/\xD0\xAF.bmp"}));
}

TEST_F(SettingsFiles, WriteIntoAMissingFolderRaisesAndLeavesNothing)
{
    EXPECT_THROW(SaveViewSettings(Path("no/such/View.ziv"), {}), Exception);
}
