// The MessageLog shared by appending writers (threads of this process and other processes) and
// a mailer that claims it again and again: every entry must end up whole in exactly one file.
#include "DataTestHelpers.h"
#include "tests/support/TestSupport.h"

#include "common/MailHandoff.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <thread>

using namespace sentorix;
using namespace sentorix::test;

namespace
{

// Long locations make each entry several kilobytes, more than one write of a careless writer
// would put down at once.
std::string entryFor(const std::string& name)
{
    return formatMessageEntry("2011/05/07 [09:03:00]", "Changed", name,
                              "/srv/" + std::string(3000 + name.size() * 7, 'L') + "/" + name);
}

// Splits a file into entries; false (with the offending text) when any part is not a whole
// entry.
bool splitEntries(const std::string& text, std::vector<std::string>& names, std::string& error)
{
    const std::string headPrefix = "2011/05/07 [09:03:00] Changed: ";
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t eol = text.find("\r\r\n", pos);
        if (text.compare(pos, headPrefix.size(), headPrefix) != 0 || eol == std::string::npos) {
            error = text.substr(pos, 80);
            return false;
        }
        const std::string name =
            text.substr(pos + headPrefix.size(), eol - pos - headPrefix.size());
        const std::string entry = entryFor(name);
        if (text.compare(pos, entry.size(), entry) != 0) {
            error = "torn entry " + name;
            return false;
        }
        names.push_back(name);
        pos += entry.size();
    }
    return true;
}

void appendAll(const std::string& folder, const std::string& prefix, int count)
{
    for (int i = 0; i < count; ++i)
        appendToMessageLog(folder, entryFor(prefix + "-" + std::to_string(i)));
}

TEST(MessageLogRace, EveryEntryLandsWholeInExactlyOneFile)
{
    constexpr int kProcesses = 2;
    constexpr int kThreads = 4;
    constexpr int kPerWriter = 150;
    TempDir dir;

    // The writer processes are forked before any thread of this test exists.
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        const pid_t child = ::fork();
        if (child == 0) {
            appendAll(dir.path(), "p" + std::to_string(p), kPerWriter);
            ::_exit(0);
        }
        ASSERT_GT(child, 0);
        children.push_back(child);
    }

    std::atomic<int> writersLeft{kThreads};
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([&, t] {
            appendAll(dir.path(), "t" + std::to_string(t), kPerWriter);
            writersLeft.fetch_sub(1);
        });
    }

    // The mailer: claims, reads and deletes, while anything is still being written.
    std::vector<std::string> claimedTexts;
    int claims = 0;
    auto childrenRunning = [&] {
        for (pid_t child : children) {
            if (::waitpid(child, nullptr, WNOHANG) == 0)
                return true;
        }
        return false;
    };
    bool running = true;
    while (running) {
        running = writersLeft.load() > 0 || childrenRunning();
        if (const auto claimed = claimMessageLog(dir.path())) {
            ++claims;
            EXPECT_FALSE(exists(dir.file("Postavo.msg")) &&
                         readFile(dir.file("Postavo.msg")) == readFile(*claimed));
            claimedTexts.push_back(readFile(*claimed));
            ::unlink(claimed->c_str());
        }
    }
    for (auto& writer : writers)
        writer.join();
    for (pid_t child : children) {
        int status = 0;
        ::waitpid(child, &status, 0);
    }
    claimedTexts.push_back(readFile(dir.file("Postavo.msg")));

    std::map<std::string, int> seen;
    for (const std::string& text : claimedTexts) {
        std::vector<std::string> names;
        std::string error;
        ASSERT_TRUE(splitEntries(text, names, error)) << error;
        for (const std::string& name : names)
            ++seen[name];
    }
    int total = 0;
    for (const std::string prefix : {"p0", "p1", "t0", "t1", "t2", "t3"}) {
        for (int i = 0; i < kPerWriter; ++i) {
            const std::string name = prefix + "-" + std::to_string(i);
            EXPECT_EQ(seen[name], 1) << name;
            ++total;
        }
    }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(total));
    EXPECT_GT(claims, 0);
    // Nothing but the MessageLog is left once every claim was read and deleted.
    const auto left = listFolder(dir.path());
    EXPECT_TRUE(left.empty() || left == std::vector<std::string>{"Postavo.msg"});
}

// How many descriptors of this process have `path` open.
int openCount(const std::string& path)
{
    int count = 0;
    std::error_code ec;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
        std::error_code linkError;
        if (std::filesystem::read_symlink(fd.path(), linkError).string() == path)
            ++count;
    }
    return count;
}

TEST(MessageLogRace, WriterThatOpenedBeforeAClaimWritesToTheNewLog)
{
    TempDir dir;
    const std::string log = dir.file("Postavo.msg");
    ASSERT_TRUE(appendToMessageLog(dir.path(), entryFor("before")));

    // A claim in progress: the mailer holds the lock on the MessageLog.
    const int mailer = ::open(log.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(mailer, 0);
    ASSERT_EQ(::flock(mailer, LOCK_EX), 0);
    bool appended = false;
    std::thread writer([&] { appended = appendToMessageLog(dir.path(), entryFor("after")); });
    // Once the writer has the file open it can only wait for the lock.
    while (openCount(log) < 2)
        std::this_thread::yield();
    ASSERT_EQ(::rename(log.c_str(), dir.file("claimed").c_str()), 0);
    ::close(mailer); // the claim is done
    writer.join();

    EXPECT_TRUE(appended);
    EXPECT_EQ(readFile(dir.file("claimed")), entryFor("before"));
    EXPECT_EQ(readFile(log), entryFor("after"));
}

TEST(MessageLogRace, ClaimTakesTheFileAwayAndANewOneStartsEmpty)
{
    TempDir dir;
    EXPECT_FALSE(claimMessageLog(dir.path()).has_value());

    ASSERT_TRUE(appendToMessageLog(dir.path(), entryFor("one")));
    const auto first = claimMessageLog(dir.path());
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->rfind(dir.path() + "/Postavo.msg.", 0), 0u) << *first;
    EXPECT_FALSE(exists(dir.file("Postavo.msg")));
    EXPECT_EQ(readFile(*first), entryFor("one"));

    // Written after the claim: kept for the next run, not added to the claimed file.
    ASSERT_TRUE(appendToMessageLog(dir.path(), entryFor("two")));
    EXPECT_EQ(readFile(*first), entryFor("one"));
    const auto second = claimMessageLog(dir.path());
    ASSERT_TRUE(second.has_value());
    EXPECT_NE(*first, *second);
    EXPECT_EQ(readFile(*second), entryFor("two"));
    EXPECT_EQ(readFile(*first), entryFor("one")); // an unread claimed file is never replaced
}

TEST(MessageLogRace, AppendThatTheDiskRefusesLeavesNoPartialEntry)
{
    TempDir dir;
    const std::string first = entryFor("first");
    ASSERT_TRUE(appendToMessageLog(dir.path(), first));
    // Room for the first entry and 100 more bytes only.
    const long limit = static_cast<long>(first.size()) + 100;
    EXPECT_EQ(
        runWithFileSizeLimit(limit, [&] { return appendToMessageLog(dir.path(), entryFor("x")); }),
        1);
    EXPECT_EQ(readFile(dir.file("Postavo.msg")), first);
    EXPECT_FALSE(appendToMessageLog(dir.file("missing"), first));
}

} // namespace
