// The MessageLog shared by appending writers (threads of this process and other processes) and
// a mailer that claims it again and again: every entry must end up whole in exactly one file.
#include "DataTestHelpers.h"
#include "tests/support/PausedChild.h"
#include "tests/support/TestSupport.h"

#include "common/MailHandoff.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <ctime>
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
            // The claimed file is no longer under the MessageLog's name. A writer may have
            // created the file a moment before the claim and not yet written to it, and then an
            // empty new MessageLog beside an empty claimed one is no fault: the entries are
            // unique, so only a non-empty text shows the same file under both names.
            const std::string claimedText = readFile(*claimed);
            EXPECT_FALSE(!claimedText.empty() && exists(dir.file("Postavo.msg")) &&
                         readFile(dir.file("Postavo.msg")) == claimedText);
            claimedTexts.push_back(claimedText);
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
    // Once the writer has the file open it can only wait for the lock. A writer that never
    // opens it (or opened and went on without the lock) fails the test, within a bound.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (openCount(log) < 2 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (openCount(log) < 2) {
        ::close(mailer);
        writer.join();
        FAIL() << "the writer never waited on the open MessageLog";
    }
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

// A mailer that has claimed the MessageLog in `folder` and is still running.
struct ClaimingMailer {
    pid_t pid = -1;
    std::string claimed;
};

ClaimingMailer startClaimingMailer(const std::string& folder)
{
    ClaimingMailer mailer;
    mailer.pid =
        forkPausedChild([&] { return claimMessageLog(folder).value_or(""); }, mailer.claimed);
    return mailer;
}

TEST(MessageLogClaims, ClaimOfAMailerThatDiedIsSentFirstAndALiveMailersIsLeftAlone)
{
    enum class End { KilledAndReaped, KilledNotReaped };
    for (const End end : {End::KilledAndReaped, End::KilledNotReaped}) {
        SCOPED_TRACE(end == End::KilledAndReaped ? "reaped" : "zombie");
        TempDir dir;
        ASSERT_TRUE(appendToMessageLog(dir.path(), entryFor("died-1")));
        ASSERT_TRUE(appendToMessageLog(dir.path(), entryFor("died-2")));
        const ClaimingMailer dead = startClaimingMailer(dir.path());
        ASSERT_GT(dead.pid, 0);
        ASSERT_FALSE(dead.claimed.empty());
        ASSERT_EQ(::kill(dead.pid, SIGKILL), 0);
        if (end == End::KilledAndReaped) {
            ASSERT_EQ(::waitpid(dead.pid, nullptr, 0), dead.pid);
        } else {
            // Ended but not yet waited for: the id still exists, as a zombie.
            siginfo_t info{};
            ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(dead.pid), &info, WEXITED | WNOWAIT), 0);
        }

        ASSERT_TRUE(appendToMessageLog(dir.path(), entryFor("live")));
        const ClaimingMailer live = startClaimingMailer(dir.path());
        ASSERT_GT(live.pid, 0);
        ASSERT_TRUE(appendToMessageLog(dir.path(), entryFor("new")));

        const std::vector<std::string> claimed = claimMessageLogs(dir.path());
        ASSERT_EQ(claimed.size(), 2u);
        EXPECT_FALSE(exists(dead.claimed));
        EXPECT_EQ(readFile(claimed[0]), entryFor("died-1") + entryFor("died-2"));
        EXPECT_EQ(readFile(claimed[1]), entryFor("new"));
        // One body, in that order, as if the entries had stayed in one MessageLog.
        writeFile(dir.file("joined"), entryFor("died-1") + entryFor("died-2") + entryFor("new"));
        EXPECT_EQ(readMessageBody(claimed), readMessageBody(dir.file("joined")));
        EXPECT_EQ(readFile(live.claimed), entryFor("live"));

        // Taken over under this process's name: a second run finds nothing left to take.
        EXPECT_TRUE(claimMessageLogs(dir.path()).empty());
        EXPECT_TRUE(exists(claimed[0]));

        ::kill(live.pid, SIGKILL);
        ::waitpid(live.pid, nullptr, 0);
        if (end == End::KilledNotReaped)
            ::waitpid(dead.pid, nullptr, 0);
    }
}

TEST(MessageLogClaims, OwnerRunsOnlyWhileItsProcessExistsAndIsOlderThanTheClaim)
{
    const pid_t ended = ::fork();
    if (ended == 0)
        ::_exit(0);
    ASSERT_GT(ended, 0);
    ASSERT_EQ(::waitpid(ended, nullptr, 0), ended);
    const long long now = static_cast<long long>(std::time(nullptr));

    struct Case {
        const char* what;
        pid_t pid;
        long long claimedAt;
        bool running;
    };
    const Case cases[] = {
        {"this process, claim made now", ::getpid(), now, true},
        // The id was given to this process long after the claim: its owner has ended.
        {"this process, claim made in 1970", ::getpid(), 0, false},
        {"an ended and reaped process", ended, now, false},
        {"no process id", 0, now, false},
        {"a negative id", -1, now, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(claimOwnerRunning(c.pid, c.claimedAt), c.running) << c.what;
}

TEST(MessageLogClaims, BodyRulesRunOnAcrossTheClaimedFiles)
{
    TempDir dir;
    const std::string line(98, 'x');
    std::string sevenThousandNineHundred;
    for (int i = 0; i < 79; ++i)
        sevenThousandNineHundred += line + "\r\r\n";
    writeFile(dir.file("a"), sevenThousandNineHundred);
    writeFile(dir.file("b"), "yy\r\r\n");
    writeFile(dir.file("c"), line + "\r\r\nzz\r\r\n");
    writeFile(dir.file("nul"), std::string("first\r\r\n\0rest\r\r\n", 16));
    writeFile(dir.file("empty"), "");

    std::string kept;
    for (int i = 0; i < 79; ++i)
        kept += line + "\r\n";
    struct Case {
        std::vector<std::string> files;
        std::string body;
    };
    const Case cases[] = {
        // 7900 + 4 stays below 8000; the next 100 would reach it, so it and all after it go.
        {{"a", "b", "c"}, kept + "yy\r\n"},
        {{"b", "a"}, "yy\r\n" + kept},
        // A NUL ends the text of its own file only; missing and empty files add nothing.
        {{"nul", "missing", "empty", "b"}, "first\r\nyy\r\n"},
        {{"missing", "empty"}, kNoDetailsBody},
        {{}, kNoDetailsBody},
    };
    for (const Case& c : cases) {
        std::vector<std::string> paths;
        for (const std::string& name : c.files)
            paths.push_back(dir.file(name));
        EXPECT_EQ(readMessageBody(paths), c.body) << ::testing::PrintToString(c.files);
    }
}

} // namespace
