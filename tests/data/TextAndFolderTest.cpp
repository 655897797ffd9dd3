// Fixed-width text fields, the time text and the folder rules of both programs.
#include "DataTestHelpers.h"
#include "tests/support/TestSupport.h"

#include "common/DataFolder.h"
#include "common/FixedText.h"
#include "common/TimeText.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

using namespace sentorix;
using namespace sentorix::test;

namespace
{

TEST(FixedText, Utf8PrefixNeverEndsInsideACharacter)
{
    struct Case {
        std::string text;
        std::size_t maxBytes;
        std::size_t expected;
    };
    const Case cases[] = {
        {"abc", 5, 3},
        {"abc", 2, 2},
        {"a\xC3\xA9", 2, 1}, // é needs two bytes
        {"a\xC3\xA9", 3, 3},
        {"\xE2\x82\xAC"
         "x",
         2, 0}, // € needs three
        {"\xF0\x9F\x98\x80"
         "x",
         4, 4}, // an emoji needs four
        {"\xF0\x9F\x98\x80"
         "x",
         3, 0},
        {"\xFF\xFE\xFD", 2, 2}, // bytes that are no UTF-8 count one by one
        {"a\xC3"
         "b",
         2, 2},                 // a lead byte without its continuation
        {"\x80\x80\x80", 1, 1}, // stray continuation bytes
        {"\xED\xA0\x80"
         "x",
         2, 2}, // a surrogate is not a character
    };
    for (const Case& c : cases)
        EXPECT_EQ(utf8PrefixLength(c.text, c.maxBytes), c.expected)
            << testing::PrintToString(c.text) << " max " << c.maxBytes;
}

TEST(FixedText, SetFieldTextKeepsATerminatorAndZeroFillsTheRest)
{
    char field[8];
    std::memset(field, 'X', sizeof field);
    EXPECT_TRUE(setFieldText(field, "abc"));
    EXPECT_EQ(std::string(field, sizeof field), std::string("abc\0\0\0\0\0", 8));

    // Too long for the field: seven bytes and the terminator.
    EXPECT_FALSE(setFieldText(field, "abcdefghij"));
    EXPECT_EQ(std::string(field, sizeof field), std::string("abcdefg\0", 8));

    // Cut at a character boundary, never inside é.
    EXPECT_FALSE(setFieldText(field, "abcdef\xC3\xA9"));
    EXPECT_EQ(std::string(field, sizeof field), std::string("abcdef\0\0", 8));

    // The caller's limit below the field width.
    EXPECT_FALSE(setFieldText(field, "abcdef", 3));
    EXPECT_EQ(fieldText(field), "abc");

    // Readers stop at a NUL, so the text is stored up to it.
    EXPECT_FALSE(setFieldText(field, std::string("ab\0cd", 5)));
    EXPECT_EQ(std::string(field, sizeof field), std::string("ab\0\0\0\0\0\0", 8));
}

TEST(FixedText, FieldTextOfAnUnterminatedFieldStopsAtItsEnd)
{
    char field[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(fieldText(field), "abcd");
}

TEST(TimeText, FormatsFourDigitYearAndTwoDigitFields)
{
    std::tm when{};
    when.tm_year = 2011 - 1900;
    when.tm_mon = 4;
    when.tm_mday = 7;
    when.tm_hour = 9;
    when.tm_min = 3;
    when.tm_sec = 0;
    EXPECT_EQ(formatTimeText(when), "2011/05/07 [09:03:00]");
    when.tm_hour = 23;
    when.tm_min = 59;
    when.tm_sec = 59;
    EXPECT_EQ(formatTimeText(when), "2011/05/07 [23:59:59]");
}

TEST(TimeText, BufferFormIsAlwaysTerminated)
{
    char buffer[kTimeTextSize];
    std::memset(buffer, 'X', sizeof buffer);
    formatTimeText(buffer, sizeof buffer);
    EXPECT_EQ(strnlen(buffer, sizeof buffer), kTimeTextSize - 1);
    EXPECT_EQ(buffer[4], '/');
    EXPECT_EQ(buffer[11], '[');

    char small[5];
    std::memset(small, 'X', sizeof small);
    formatTimeText(small, sizeof small);
    EXPECT_EQ(std::string(small), std::string(buffer, 4));
}

TEST(Folders, UserDataFolderFollowsXdgThenHome)
{
    struct Case {
        std::optional<std::string> xdg;
        std::optional<std::string> home;
        std::string expected;
    };
    const Case cases[] = {
        {"/data/home", "/home/u", "/data/home/Tarnwick/Sentorix"},
        {"", "/home/u", "/home/u/.local/share/Tarnwick/Sentorix"},
        {"relative/dir", "/home/u", "/home/u/.local/share/Tarnwick/Sentorix"},
        {std::nullopt, "/home/u", "/home/u/.local/share/Tarnwick/Sentorix"},
        {std::nullopt, std::nullopt, ""},
        {std::nullopt, "", ""},
    };
    for (const Case& c : cases) {
        ScopedEnv xdg("XDG_DATA_HOME", c.xdg);
        ScopedEnv home("HOME", c.home);
        EXPECT_EQ(userDataFolderPath(), c.expected) << "XDG_DATA_HOME=" << c.xdg.value_or("(unset)")
                                                    << " HOME=" << c.home.value_or("(unset)");
    }
}

TEST(Folders, MonitorCreatesTheFolderPrivateOrFallsBackToInstallFolder)
{
    TempDir dir;
    {
        ScopedEnv xdg("XDG_DATA_HOME", dir.file("deep/share"));
        const std::string expected = dir.file("deep/share/Tarnwick/Sentorix");
        EXPECT_EQ(monitorDataFolder("/install"), expected);
        struct stat st {
        };
        ASSERT_EQ(::stat(expected.c_str(), &st), 0);
        EXPECT_TRUE(S_ISDIR(st.st_mode));
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        // A second start finds it in place.
        EXPECT_EQ(monitorDataFolder("/install"), expected);
    }
    {
        // A regular file where a parent folder should be: the folder cannot be had.
        writeFile(dir.file("blocker"), "x");
        ScopedEnv xdg("XDG_DATA_HOME", dir.file("blocker"));
        EXPECT_EQ(monitorDataFolder("/install"), "/install");
    }
    {
        ScopedEnv xdg("XDG_DATA_HOME", std::nullopt);
        ScopedEnv home("HOME", std::nullopt);
        EXPECT_EQ(monitorDataFolder("/install"), "/install");
    }
}

TEST(Folders, MailerNeverCreatesTheFolder)
{
    TempDir dir;
    ScopedEnv xdg("XDG_DATA_HOME", dir.path());
    EXPECT_EQ(mailerDataFolder(), ".");
    EXPECT_FALSE(exists(dir.file("Tarnwick")));

    std::filesystem::create_directories(dir.file("Tarnwick/Sentorix"));
    EXPECT_EQ(mailerDataFolder(), dir.file("Tarnwick/Sentorix"));

    ScopedEnv noXdg("XDG_DATA_HOME", std::nullopt);
    ScopedEnv noHome("HOME", std::nullopt);
    EXPECT_EQ(mailerDataFolder(), ".");
}

TEST(Folders, InstallFolderFromEnvironmentElseTheExecutablesFolder)
{
    {
        ScopedEnv install("SENTORIX_INSTALL_DIR", "/opt/sentorix");
        EXPECT_EQ(findInstallFolder(), "/opt/sentorix");
    }
    ScopedEnv install("SENTORIX_INSTALL_DIR", std::nullopt);
    const std::string exe = std::filesystem::read_symlink("/proc/self/exe").string();
    EXPECT_EQ(findInstallFolder(), exe.substr(0, exe.rfind('/')));
}

TEST(Folders, JoinPathUsesOneSlash)
{
    EXPECT_EQ(joinPath("/a/b", "c.data"), "/a/b/c.data");
    EXPECT_EQ(joinPath("/a/b/", "c.data"), "/a/b/c.data");
    EXPECT_EQ(joinPath(".", "Postavo.msg"), "./Postavo.msg");
}

} // namespace
