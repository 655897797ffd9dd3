// FTP files fetched from a real FTP server on 127.0.0.1 in active mode, and local files: every
// outcome of a check, what the ContentFile becomes, and what is announced.

#include "CheckHarness.h"

#include "common/FixedText.h"
#include "common/TextFile.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <memory>

namespace sentorix::test
{
namespace
{

const std::string kUser = "us@er";
const std::string kPassword = "p@ss:w/rd%";

const std::vector<std::string> kNothing;
const std::vector<std::string> kAlert{"Sentorix.alert"};
const std::vector<std::string> kChange{"Sentorix.sound"};

DocumentSpec ftpSpec(const std::string& name, const std::string& location, bool account,
                     const std::string& password = kPassword)
{
    DocumentSpec spec;
    spec.kind = DocumentKind::FtpFile;
    spec.name = name;
    spec.location = location;
    if (account) {
        spec.userName = kUser;
        spec.password = password;
    }
    return spec;
}

DocumentSpec localSpec(const std::string& name, const std::string& path)
{
    DocumentSpec spec;
    spec.kind = DocumentKind::LocalFile;
    spec.name = name;
    spec.location = path;
    return spec;
}

class FtpRetrieval : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_server = std::make_unique<FtpPeer>(kUser, kPassword);
        ASSERT_TRUE(s_server->start());
    }
    static void TearDownTestSuite() { s_server.reset(); }

    int addFtp(const std::string& location, bool account = false)
    {
        return h.add(ftpSpec("report", location, account));
    }

    static std::unique_ptr<FtpPeer> s_server;
    EngineHarness h;
};

std::unique_ptr<FtpPeer> FtpRetrieval::s_server;

TEST_F(FtpRetrieval, FirstFetchThenSameThenDifferent)
{
    s_server->put("pub/data/first.txt", "version 1\n");
    const int doc = addFtp("ftp://" + s_server->location("/pub/data/first.txt"));
    EXPECT_EQ(h.check(doc), DocumentStatus::Ready);
    EXPECT_EQ(h.content(doc), "version 1\n") << "binary, as on the server";

    EXPECT_EQ(h.check(doc), DocumentStatus::Checked);
    EXPECT_EQ(h.sound.played(), kNothing);

    s_server->put("pub/data/first.txt", "version 2, longer\n");
    EXPECT_EQ(h.check(doc), DocumentStatus::Changed);
    EXPECT_EQ(h.content(doc), "version 2, longer\n");
    EXPECT_EQ(h.sound.played(), kChange);
    EXPECT_TRUE(h.tempFiles().empty());
}

TEST_F(FtpRetrieval, SchemeSeparatorsAndAccountAllReachTheSameFile)
{
    s_server->put("a/b/same.bin", std::string("\x00\x01\r\n\xff", 5));
    const std::pair<std::string, bool> locations[] = {
        {"ftp://" + s_server->location("/a/b/same.bin"), false},
        {s_server->location("/a/b/same.bin"), false},
        {s_server->location("\\a\\b\\same.bin"), false},
        {s_server->location("/a\\b/same.bin"), true},
    };
    for (const auto& [location, account] : locations) {
        EngineHarness e;
        const int doc = e.add(ftpSpec("same", location, account));
        EXPECT_EQ(e.check(doc), DocumentStatus::Ready) << location;
        EXPECT_EQ(e.content(doc), std::string("\x00\x01\r\n\xff", 5)) << location;
    }
}

TEST_F(FtpRetrieval, FileInTheLoginDirectoryNeedsNoDirectoryChange)
{
    s_server->put("top.txt", "at the top");
    const int doc = addFtp(s_server->location("/top.txt"), true);
    EXPECT_EQ(h.check(doc), DocumentStatus::Ready);
    EXPECT_EQ(h.content(doc), "at the top");
}

TEST_F(FtpRetrieval, LocationWithoutSeparatorIsUnavailableSilently)
{
    const int doc = addFtp("myserver");
    EXPECT_EQ(h.check(doc), DocumentStatus::Unavailable);
    EXPECT_EQ(h.sound.played(), kNothing);
    EXPECT_TRUE(h.selected().empty());
}

TEST_F(FtpRetrieval, ServerSideFailuresAreAnnouncedAndKeepTheContent)
{
    s_server->put("pub/kept.txt", "kept");
    struct Case {
        const char* what;
        std::string location;
        bool account;
        std::string password;
    };
    const Case cases[] = {
        {"no connection", "127.0.0.1:" + std::to_string(closedPort()) + "/pub/kept.txt", false, ""},
        {"login refused", s_server->location("/pub/kept.txt"), true, "wrong"},
        {"no directory", s_server->location("/nodir/kept.txt"), false, ""},
        {"no file", s_server->location("/pub/missing.txt"), false, ""},
    };
    for (const Case& c : cases) {
        EngineHarness e;
        const int doc = e.add(ftpSpec("kept", c.location, c.account, c.password));
        writeFile(e.contentPath(doc), "earlier");
        EXPECT_EQ(e.check(doc), DocumentStatus::Unavailable) << c.what;
        EXPECT_EQ(e.sound.played(), kAlert) << c.what;
        EXPECT_EQ(e.content(doc), "earlier") << c.what;
        EXPECT_TRUE(e.tempFiles().empty()) << c.what;

        // A first fetch that fails leaves no ContentFile behind.
        removeFile(e.contentPath(doc));
        EXPECT_EQ(e.check(doc), DocumentStatus::Unavailable) << c.what;
        EXPECT_FALSE(e.hasContent(doc)) << c.what;
    }
}

TEST_F(FtpRetrieval, NoRoomForTheTempFileIsUnavailableSilently)
{
    s_server->put("pub/frozen.txt", "one");
    const int doc = addFtp(s_server->location("/pub/frozen.txt"));
    ASSERT_EQ(h.check(doc), DocumentStatus::Ready);
    s_server->put("pub/frozen.txt", "two");
    ImmutableFolder frozen(h.dataFolder);
    if (!frozen.ok())
        GTEST_SKIP() << "the file system cannot make a folder immutable";
    EXPECT_EQ(h.check(doc), DocumentStatus::Unavailable);
    EXPECT_EQ(h.sound.played(), kNothing);
    EXPECT_EQ(h.content(doc), "one");
}

// --- local files ---------------------------------------------------------------------------

class LocalRetrieval : public ::testing::Test
{
protected:
    int addLocal(const std::string& path) { return h.add(localSpec("Syslog", path)); }
    EngineHarness h;
    TempDir disk;
};

TEST_F(LocalRetrieval, FirstCopyThenSameShrunkAndChanged)
{
    const std::string source = disk.file("System.log");
    writeFile(source, "abcdef");
    const int doc = addLocal(source);
    EXPECT_EQ(h.check(doc), DocumentStatus::Ready);
    EXPECT_EQ(h.content(doc), "abcdef");

    EXPECT_EQ(h.check(doc), DocumentStatus::Checked);
    // Compared block by block as far as the new file goes: a file cut back to its beginning
    // is the same.
    writeFile(source, "abc");
    EXPECT_EQ(h.check(doc), DocumentStatus::Checked);
    EXPECT_EQ(h.content(doc), "abcdef");
    EXPECT_EQ(h.sound.played(), kNothing);

    writeFile(source, "abX");
    EXPECT_EQ(h.check(doc), DocumentStatus::Changed);
    EXPECT_EQ(h.content(doc), "abX");
    EXPECT_EQ(h.sound.played(), kChange);
}

// stop() while a worker holds a local file (here: right after its claim): the copy or comparison
// ends before its next block, the document waits again with its stored copy and time as they
// were, and nothing is announced or left behind.
TEST(LocalRetrievalStop, AStoppedCheckLeavesTheDocumentWaitingAndItsCopyUntouched)
{
    struct Case {
        const char* what;
        const char* stored; // null: no ContentFile yet (the first fetch)
    };
    const Case cases[] = {{"first copy", nullptr}, {"comparison", "old bytes"}};
    for (const Case& c : cases) {
        EngineHarness h;
        TempDir disk;
        const std::string source = disk.file("big.log");
        writeFile(source, std::string(1 << 20, 'n'));
        const int doc = h.add(localSpec("Syslog", source));
        if (c.stored)
            writeFile(h.contentPath(doc), c.stored);
        const std::string lastCheck(fieldText(h.table.get(doc).lastCheck));
        h.hooks.onRecordChanged = [&](int record) {
            if (record == doc && h.table.status(doc) == DocumentStatus::Retrieving)
                h.engine->stop();
        };
        EXPECT_EQ(h.check(doc), DocumentStatus::Waiting) << c.what;
        h.hooks.onRecordChanged = nullptr;
        EXPECT_EQ(h.hasContent(doc), c.stored != nullptr) << c.what;
        if (c.stored) {
            EXPECT_EQ(h.content(doc), c.stored) << c.what;
        }
        EXPECT_EQ(fieldText(h.table.get(doc).lastCheck), lastCheck) << c.what;
        EXPECT_EQ(h.sound.played(), kNothing) << c.what;
        EXPECT_TRUE(h.tempFiles().empty()) << c.what;
    }
}

TEST_F(LocalRetrieval, MissingFileIsAnnouncedAndKeepsWhatWasStored)
{
    const std::string source = disk.file("gone.log");
    const int doc = addLocal(source);
    EXPECT_EQ(h.check(doc), DocumentStatus::Unavailable) << "first copy fails";
    EXPECT_FALSE(h.hasContent(doc));
    EXPECT_EQ(h.sound.played(), kAlert);

    writeFile(source, "here now");
    ASSERT_EQ(h.check(doc), DocumentStatus::Ready);
    removeFile(source);
    EXPECT_EQ(h.check(doc), DocumentStatus::Unavailable);
    EXPECT_EQ(h.content(doc), "here now");
    EXPECT_EQ(h.sound.played(), (std::vector<std::string>{"Sentorix.alert", "Sentorix.alert"}));
}

TEST_F(LocalRetrieval, ChangeThatCannotBeCopiedAnnouncesBothAndKeepsTheOldCopy)
{
    const std::string source = disk.file("System.log");
    writeFile(source, "first");
    const int doc = addLocal(source);
    ASSERT_EQ(h.check(doc), DocumentStatus::Ready);
    writeFile(source, "second");
    {
        ImmutableFolder frozen(h.dataFolder);
        if (!frozen.ok())
            GTEST_SKIP() << "the file system cannot make a folder immutable";
        EXPECT_EQ(h.check(doc), DocumentStatus::Unavailable);
        EXPECT_EQ(h.sound.played(), (std::vector<std::string>{"Sentorix.sound", "Sentorix.alert"}));
        EXPECT_EQ(h.content(doc), "first");
    }
    // The change is still there to be found.
    EXPECT_EQ(h.check(doc), DocumentStatus::Changed);
    EXPECT_EQ(h.content(doc), "second");
}

TEST_F(LocalRetrieval, FolderAsLocationIsUnavailable)
{
    const int doc = addLocal(disk.path());
    EXPECT_EQ(h.check(doc), DocumentStatus::Unavailable);
    writeFile(h.contentPath(doc), "stored");
    EXPECT_EQ(h.check(doc), DocumentStatus::Unavailable);
    EXPECT_EQ(h.content(doc), "stored");
}

// A location that is not a regular file would hang a worker (a FIFO blocks the open, a
// device may never end): it cannot be fetched, at the first copy or at a later comparison.
TEST_F(LocalRetrieval, SpecialFileAsLocationIsUnavailableAndAnnounced)
{
    const std::string fifo = disk.file("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& location : {fifo, std::string("/dev/zero")}) {
        EngineHarness e;
        const int doc = e.add(localSpec("special", location));
        EXPECT_EQ(e.check(doc), DocumentStatus::Unavailable) << location;
        EXPECT_FALSE(e.hasContent(doc)) << location;

        writeFile(e.contentPath(doc), "stored");
        EXPECT_EQ(e.check(doc), DocumentStatus::Unavailable) << location;
        EXPECT_EQ(e.content(doc), "stored") << location;
        EXPECT_EQ(e.sound.played(), (std::vector<std::string>{"Sentorix.alert", "Sentorix.alert"}))
            << location;
        EXPECT_TRUE(e.tempFiles().empty()) << location;
    }
}

} // namespace
} // namespace sentorix::test
