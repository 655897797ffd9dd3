// Unique temporary files and their removal, in a temporary folder.
#include "tests/support/TestSupport.h"

#include "platform/TempFile.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace sentorix;
using namespace sentorix::test;

namespace
{

std::string nameOf(const std::string& path)
{
    return path.substr(path.rfind('/') + 1);
}

} // namespace

TEST(TempFile, CreatesAnEmptyPrivateFileWithAHexName)
{
    TempDir dir;
    const std::regex pattern("KTP[0-9A-F]{1,4}\\.tmp");
    for (int i = 0; i < 20; ++i) {
        std::string path = createTempFile(dir.path());
        ASSERT_FALSE(path.empty());
        EXPECT_EQ(path.rfind(dir.path() + "/", 0), 0u);
        EXPECT_TRUE(std::regex_match(nameOf(path), pattern)) << path;
        struct stat st {
        };
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(st.st_size, 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
    }
    EXPECT_EQ(listFolder(dir.path()).size(), 20u);
}

TEST(TempFile, FailsWithoutAFolder)
{
    TempDir dir;
    EXPECT_EQ(createTempFile(dir.file("missing")), "");
}

TEST(TempFile, ConcurrentCallersGetDistinctFiles)
{
    TempDir dir;
    constexpr int kThreads = 8;
    constexpr int kEach = 300;
    std::vector<std::vector<std::string>> got(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i)
                got[t].push_back(createTempFile(dir.path()));
        });
    for (auto& thread : threads)
        thread.join();

    std::set<std::string> distinct;
    for (const auto& list : got)
        for (const auto& path : list) {
            EXPECT_FALSE(path.empty());
            distinct.insert(path);
        }
    EXPECT_EQ(distinct.size(), std::size_t{kThreads * kEach});
    EXPECT_EQ(listFolder(dir.path()).size(), distinct.size());
}

// With every name but one taken, the search wraps round and finds it; with all taken it
// gives up with an empty result.
TEST(TempFile, TriesEveryNumberBeforeGivingUp)
{
    TempDir dir;
    for (unsigned n = 1; n <= 0xFFFF; ++n) {
        if (n == 0x8001)
            continue;
        char name[32];
        std::snprintf(name, sizeof name, "/KTP%X.tmp", n);
        int fd = ::open((dir.path() + name).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
    EXPECT_EQ(createTempFile(dir.path()), dir.file("KTP8001.tmp"));
    EXPECT_EQ(createTempFile(dir.path()), "");
    EXPECT_FALSE(createTempFile(dir.path(), "Other").empty()) << "another prefix has room";
}

TEST(TempFile, DeleteTempFilesRemovesOnlyRegularTmpFiles)
{
    TempDir dir;
    TempDir outside;
    std::string target = outside.file("target.tmp");
    writeFile(target, "keep");

    struct Entry {
        std::string name;
        enum { File, Folder, Link } type;
        bool removed;
    } entries[] = {
        {"KTP1A2.tmp", Entry::File, true},        {"upper.TMP", Entry::File, true},
        {"mixed.tMp", Entry::File, true},         {".tmp", Entry::File, true},
        {"Sentorix.mail.tmp", Entry::File, true}, {"doc.content", Entry::File, false},
        {"doc.tmpx", Entry::File, false},         {"tmp", Entry::File, false},
        {"doc_tmp", Entry::File, false},          {"folder.tmp", Entry::Folder, false},
        {"link.tmp", Entry::Link, false},
    };
    for (const auto& e : entries) {
        std::string path = dir.file(e.name);
        if (e.type == Entry::File)
            writeFile(path, "x");
        else if (e.type == Entry::Folder)
            ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
        else
            ASSERT_EQ(::symlink(target.c_str(), path.c_str()), 0);
    }

    deleteTempFiles(dir.path());

    std::vector<std::string> expected;
    for (const auto& e : entries)
        if (!e.removed)
            expected.push_back(e.name);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(listFolder(dir.path()), expected);
    EXPECT_EQ(readFile(target), "keep");

    deleteTempFiles(dir.file("missing")); // nothing to do, nothing reported
}
