// The clean-up of interrupted writes at start: what a crash leaves is removed, and nothing that
// belongs to the documents, the mailer or the user is touched.

#include "tests/support/TestSupport.h"

#include "monitor/data/Leftovers.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>

namespace sentorix::test
{
namespace
{

std::vector<std::string> sorted(std::vector<std::string> names)
{
    std::sort(names.begin(), names.end());
    return names;
}

TEST(Leftovers, InterruptedWritesAreRemovedAndEverythingElseIsKept)
{
    TempDir folder;
    const std::vector<std::string> leftovers = {
        ".News.data.a8Zk2Q",
        ".News.content.Qx81mB",
        ".News.middle.000000",
        ".News.previous.zzzzzz",
        ".Sentorix.option.0Tz3pL",
        ".Sentorix.mail.AbCdEf",
        ".Sentorix.mail.tmp.q1w2e3",
        ".Sentorix.digests.7hJk2L",
        ".two words.data.XyZ123",
        "KTP1.tmp",
        "KTPFFFF.tmp",
        "KTPa0b.tmp",
    };
    const std::vector<std::string> kept = {
        "News.data",
        "News.content",
        "News.middle",
        "Sentorix.option",
        "Sentorix.mail",
        "Sentorix.mail.tmp",
        "Sentorix.digests",
        "Postavo.msg",
        "Postavo.msg.4242.0.claimed",
        "Sentorix.lock",
        "notes.txt",
        ".hidden",
        ".News.data",         // no random part
        ".News.data.a8Zk2",   // five characters
        ".News.data.a8Zk2Q7", // seven
        ".News.data.a8Z-2Q",  // not a random character
        "..data.a8Zk2Q",      // an extension without a name
        ".notes.txt.a8Zk2Q",  // not a file the programs replace
        "News.data.a8Zk2Q",   // not hidden
        "KTP.tmp",            // no number
        "KTP12345.tmp",       // five digits
        "KTPXY.tmp",          // not hex
        "ktp1.tmp.keep",
    };
    for (const std::string& name : leftovers)
        writeFile(folder.file(name), "partial");
    for (const std::string& name : kept)
        writeFile(folder.file(name), "mine");
    // A link and a folder in a leftover's name are not regular files: kept, and the link's
    // target is untouched.
    writeFile(folder.file("target.txt"), "linked");
    ASSERT_EQ(
        ::symlink(folder.file("target.txt").c_str(), folder.file(".Link.data.abcdef").c_str()), 0);
    std::filesystem::create_directories(folder.file("KTP2.tmp"));
    // A subfolder's files are not the DataFolder's.
    std::filesystem::create_directories(folder.file("sub"));
    writeFile(folder.file("sub/.News.data.a8Zk2Q"), "elsewhere");
    // The name test's scratch folders: one with its probe file, one empty, one holding more.
    std::filesystem::create_directories(folder.file(".name-test-Ab12Cd"));
    writeFile(folder.file(".name-test-Ab12Cd/News.content"), "");
    std::filesystem::create_directories(folder.file(".name-test-Zz99Yy"));
    std::filesystem::create_directories(folder.file(".name-test-Keep01"));
    writeFile(folder.file(".name-test-Keep01/photo.jpg"), "mine");

    EXPECT_EQ(removeInterruptedWrites(folder.path()), static_cast<int>(leftovers.size()) + 2);

    std::vector<std::string> expected = kept;
    for (const char* extra :
         {"target.txt", ".Link.data.abcdef", "KTP2.tmp", "sub", ".name-test-Keep01"})
        expected.push_back(extra);
    EXPECT_EQ(sorted(listFolder(folder.path())), sorted(expected));
    for (const std::string& name : kept)
        EXPECT_EQ(readFile(folder.file(name)), "mine") << name;
    EXPECT_EQ(readFile(folder.file("target.txt")), "linked");
    EXPECT_TRUE(exists(folder.file("sub/.News.data.a8Zk2Q")));
    EXPECT_TRUE(exists(folder.file(".name-test-Keep01/photo.jpg")));

    EXPECT_EQ(removeInterruptedWrites(folder.path()), 0) << "a second run finds nothing";
    EXPECT_EQ(removeInterruptedWrites(folder.file("missing")), 0);
}

} // namespace
} // namespace sentorix::test
