#include <cstring>

#include "tests/native/test_dir.h"

class SettingsTest : public SettingsDirTest {};

static void ExpectDefaults(const FilterSettings &s) {
    EXPECT_EQ(s.radius, 20);
    EXPECT_EQ(s.smooth, 1);
    EXPECT_EQ(s.background, 0x00FFFFFFu);
    for (COLORREF colour : s.customColors) EXPECT_EQ(colour, 0x00808080u);
}

TEST_F(SettingsTest, MissingFileGivesExactlyTheDefaultsWhateverWasInMemory) {
    memset(&g_settings, 0x5A, sizeof g_settings);
    EXPECT_EQ(LoadSettings(dir.c_str()), 1);
    ExpectDefaults(g_settings);
    EXPECT_EQ(OpenFileCount(), 0);
}

TEST_F(SettingsTest, FileIsLoadedByteForByteAndOutOfRangeValuesKept) {
    WriteSettings(SettingsWith(-3, 7, 0x00123456));
    EXPECT_EQ(LoadSettings(dir.c_str()), 1);
    FilterSettings expected = SettingsWith(-3, 7, 0x00123456);
    EXPECT_EQ(memcmp(&g_settings, &expected, sizeof expected), 0);
    EXPECT_EQ(OpenFileCount(), 0);
}

TEST_F(SettingsTest, ShortFileReplacesOnlyTheLeadingFields) {
    // 12 bytes: radius 9, smooth 0, background 0x00ABCDEF.
    WriteSettingsBytes(std::string("\x09\0\0\0\0\0\0\0\xEF\xCD\xAB\0", 12));
    g_settings = SettingsWith(1, 1, 0);
    EXPECT_EQ(LoadSettings(dir.c_str()), 1);
    EXPECT_EQ(g_settings.radius, 9);
    EXPECT_EQ(g_settings.smooth, 0);
    EXPECT_EQ(g_settings.background, 0x00ABCDEFu);
    for (int i = 0; i < 16; i++) EXPECT_EQ(g_settings.customColors[i], 0x00010101u * i);
}

TEST_F(SettingsTest, SaveWritesThe76BytesOfTheRecord) {
    g_settings = SettingsWith(999, 0, 0x00010203);
    EXPECT_EQ(SaveSettings(dir.c_str()), 1);
    std::string bytes = ReadSettingsBytes();
    ASSERT_EQ(bytes.size(), 76u);
    EXPECT_EQ(bytes.substr(0, 12), std::string("\xE7\x03\0\0\0\0\0\0\x03\x02\x01\0", 12));
    EXPECT_EQ(memcmp(bytes.data(), &g_settings, 76), 0);
    EXPECT_EQ(OpenFileCount(), 0);
}

TEST_F(SettingsTest, SaveReplacesALongerFile) {
    WriteSettingsBytes(std::string(200, 'x'));
    g_settings = SettingsWith(5, 1, 0);
    EXPECT_EQ(SaveSettings(dir.c_str()), 1);
    EXPECT_EQ(ReadSettingsBytes().size(), 76u);
}

TEST_F(SettingsTest, DirectoryWithoutSeparatorGluesTheFileNameOn) {
    std::string glued = dir + "x";  // .../x followed directly by the name
    g_settings = SettingsWith(33, 0, 0);
    EXPECT_EQ(SaveSettings(glued.c_str()), 1);
    std::ifstream in(dir + "xveZezezIvovo.dat", std::ios::binary);
    EXPECT_TRUE(in.good());
}

TEST_F(SettingsTest, UncreatableFileFailsTheSave) {
    std::string missing = dir + "no/such/dir/";
    EXPECT_EQ(SaveSettings(missing.c_str()), 0);
    EXPECT_EQ(OpenFileCount(), 0);
}

// The path buffer is 256 bytes with the NUL, so the directory may hold 239
// characters: one more must neither overflow nor reach a truncated path.
TEST_F(SettingsTest, DirectoryLengthLimit) {
    std::string longest = dir + std::string(239 - dir.size() - 1, 'd') + "/";
    ASSERT_EQ(longest.size(), 239u);
    ASSERT_EQ(system(("mkdir -p '" + longest + "'").c_str()), 0);
    g_settings = SettingsWith(42, 0, 0x00112233);
    EXPECT_EQ(SaveSettings(longest.c_str()), 1);
    g_settings = SettingsWith(0, 0, 0);
    LoadSettings(longest.c_str());
    EXPECT_EQ(g_settings.radius, 42);

    std::string tooLong = longest + "e";
    g_settings = SettingsWith(43, 0, 0);
    EXPECT_EQ(SaveSettings(tooLong.c_str()), 0);
    EXPECT_EQ(LoadSettings(tooLong.c_str()), 1);
    ExpectDefaults(g_settings);
    std::string huge(5000, 'z');
    EXPECT_EQ(SaveSettings(huge.c_str()), 0);
    EXPECT_EQ(LoadSettings(huge.c_str()), 1);
    ExpectDefaults(g_settings);
}

TEST_F(SettingsTest, NullDirectoryActsAsNoFile) {
    g_settings = SettingsWith(1, 0, 0);
    EXPECT_EQ(LoadSettings(nullptr), 1);
    ExpectDefaults(g_settings);
    EXPECT_EQ(SaveSettings(nullptr), 0);
}
