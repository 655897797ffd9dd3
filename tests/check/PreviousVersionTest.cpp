// The previous version a detected change keeps: written only by a change, replaced by the
// next one, the same file (and time) the content had, the compared portion too for the middle
// method, left alone by the exit clean-up, and compared line by line afterwards.

#include "CheckHarness.h"

#include "common/FixedText.h"
#include "monitor/check/DocumentChanges.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

namespace sentorix::test
{
namespace
{

std::string previousPath(const EngineHarness& h, const char* extension)
{
    return h.dataFolder + "/doc" + extension;
}

std::time_t modified(const std::string& path)
{
    struct stat st {
    };
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mtim.tv_sec;
}

void setModified(const std::string& path, std::time_t when)
{
    const timespec times[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

TEST(PreviousVersion, LocalFileKeepsWhatEachChangeReplaced)
{
    EngineHarness h;
    TempDir source;
    const std::string file = source.file("watched.txt");
    writeFile(file, "one\ntwo\n");
    DocumentSpec spec;
    spec.kind = DocumentKind::LocalFile;
    spec.name = "doc";
    spec.location = file;
    const int doc = h.add(spec);
    const std::string previous = previousPath(h, kPreviousExtension);

    ASSERT_EQ(h.check(doc), DocumentStatus::Ready);
    EXPECT_FALSE(exists(previous)) << "a first fetch has no previous version";
    EXPECT_FALSE(hasPreviousVersion(h.dataFolder, h.table.get(doc)));
    ASSERT_EQ(h.check(doc), DocumentStatus::Checked);
    EXPECT_FALSE(exists(previous)) << "an unchanged check keeps nothing";

    setModified(h.contentPath(doc), 1000000);
    writeFile(file, "one\nTWO\n");
    ASSERT_EQ(h.check(doc), DocumentStatus::Changed);
    EXPECT_EQ(readFile(previous), "one\ntwo\n");
    EXPECT_EQ(h.content(doc), "one\nTWO\n");
    EXPECT_EQ(modified(previous), 1000000) << "the time of the check that fetched it";
    EXPECT_TRUE(hasPreviousVersion(h.dataFolder, h.table.get(doc)));

    const DocumentChanges changes = compareVersions(h.dataFolder, h.table.get(doc));
    ASSERT_EQ(changes.result, ChangesResult::Lines);
    EXPECT_EQ(changes.previous.name, "doc.previous");
    EXPECT_EQ(formatUnifiedHunks(changes.diff), "@@ -1,2 +1,2 @@\n one\n-two\n+TWO\n");

    writeFile(file, "three\n");
    ASSERT_EQ(h.check(doc), DocumentStatus::Changed);
    EXPECT_EQ(readFile(previous), "one\nTWO\n") << "replaced at the next change";

    // The exit sequence removes temporary files only.
    h.engine->saveOnExit();
    EXPECT_EQ(readFile(previous), "one\nTWO\n");
    EXPECT_TRUE(h.tempFiles().empty());
    for (const std::string& name : listFolder(h.dataFolder))
        EXPECT_NE(name.front(), '.') << "no hidden sibling left: " << name;
}

class PreviousWebVersion : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_server = std::make_unique<HttpPeer>();
        ASSERT_TRUE(s_server->start());
    }
    static void TearDownTestSuite() { s_server.reset(); }

    static std::unique_ptr<HttpPeer> s_server;
    EngineHarness h;
};

std::unique_ptr<HttpPeer> PreviousWebVersion::s_server;

TEST_F(PreviousWebVersion, MiddlePageKeepsThePreviousPageAndPortion)
{
    const int doc = h.add(middleSpec("doc", s_server->url("middle.html")));
    s_server->put("middle.html", "price\r\n<b>10\r\n</b>\r\n");
    ASSERT_EQ(h.check(doc), DocumentStatus::Ready);
    s_server->put("middle.html", "changed outside\r\n<b>10\r\n</b>\r\n");
    ASSERT_EQ(h.check(doc), DocumentStatus::Checked);
    EXPECT_FALSE(exists(previousPath(h, kPreviousExtension)));
    EXPECT_FALSE(exists(previousPath(h, kPreviousMiddleExtension)));

    s_server->put("middle.html", "price\r\n<b>11\r\n</b>\r\n");
    ASSERT_EQ(h.check(doc), DocumentStatus::Changed);
    // Stored as the content was, in text mode.
    EXPECT_EQ(readFile(previousPath(h, kPreviousExtension)), "price\r\r\n<b>10\r\r\n</b>\r\r\n");
    EXPECT_EQ(readFile(previousPath(h, kPreviousMiddleExtension)), "10\r\r\n");
    EXPECT_EQ(readFile(h.middlePath(doc)), "11\r\r\n");

    const DocumentChanges changes = compareVersions(h.dataFolder, h.table.get(doc));
    ASSERT_EQ(changes.result, ChangesResult::Lines);
    EXPECT_EQ(changes.current.name, "doc.middle");
    EXPECT_EQ(formatUnifiedHunks(changes.diff), "@@ -1 +1 @@\n-10\n+11\n");
}

TEST_F(PreviousWebVersion, UnavailableFetchKeepsThePreviousVersion)
{
    DocumentSpec spec;
    spec.kind = DocumentKind::WebFile;
    spec.name = "doc";
    spec.location = s_server->url("file.bin");
    const int doc = h.add(spec);
    s_server->put("file.bin", "v1");
    ASSERT_EQ(h.check(doc), DocumentStatus::Ready);
    s_server->put("file.bin", "v2");
    ASSERT_EQ(h.check(doc), DocumentStatus::Changed);
    EXPECT_EQ(readFile(previousPath(h, kPreviousExtension)), "v1");

    DocumentRecord record = h.table.get(doc);
    setFieldText(record.location, "http://127.0.0.1:1/none");
    h.table.put(doc, record);
    EXPECT_EQ(h.check(doc), DocumentStatus::Unavailable);
    EXPECT_EQ(readFile(previousPath(h, kPreviousExtension)), "v1");
    EXPECT_EQ(h.content(doc), "v2");
}

} // namespace
} // namespace sentorix::test
