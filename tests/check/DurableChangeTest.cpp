// A detected change is on the disk before its new content replaces the old: at the moment the
// change is announced the record already says Changed (with its new count) and the MessageLog
// holds the entry, while the ContentFile still holds the old content. So a crash at any moment
// of a check leaves the change told, or the old content to find it again.

#include "CheckHarness.h"

#include "common/MailHandoff.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <optional>

namespace sentorix::test
{
namespace
{

struct DiskState {
    int32_t status = -1;
    int32_t lastCount = -1;
    std::string messageLog;
    std::string content;
};

class DurableChange : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_server = std::make_unique<HttpPeer>();
        ASSERT_TRUE(s_server->start());
    }
    static void TearDownTestSuite() { s_server.reset(); }

    void SetUp() override
    {
        MailSettings settings{};
        settings.sendOnChange = 1;
        h.mail.set(settings);
        h.engine->setMailTimerArmed(true);
        h.engine->setTrayMode(true);
    }

    DiskState diskState(int index) const
    {
        DiskState state;
        const std::string name = h.table.displayName(index);
        const std::string bytes = readFile(h.dataFolder + "/" + name + ".data");
        DocumentRecord record{};
        if (bytes.size() == sizeof record) {
            std::memcpy(&record, bytes.data(), sizeof record);
            state.status = record.status;
            state.lastCount = record.lastCount;
        }
        const std::string log = h.dataFolder + "/" + kMessageLogFile;
        if (exists(log))
            state.messageLog = readFile(log);
        state.content = h.content(index);
        return state;
    }

    // Checks the document once more after `change`, and returns the files as they were when
    // the change was announced.
    std::optional<DiskState> stateWhenAnnounced(int index, const std::function<void()>& change)
    {
        std::optional<DiskState> seen;
        h.hooks.onStartBlink = [&] { seen = diskState(index); };
        change();
        EXPECT_EQ(h.check(index), DocumentStatus::Changed);
        h.hooks.onStartBlink = nullptr;
        return seen;
    }

    static std::unique_ptr<HttpPeer> s_server;
    EngineHarness h;
};

std::unique_ptr<HttpPeer> DurableChange::s_server;

TEST_F(DurableChange, LocalFileChangeIsSavedAndLoggedBeforeTheContentIsReplaced)
{
    const std::string source = h.installDir.file("local-source.txt");
    writeFile(source, "version 1\n");
    DocumentSpec spec;
    spec.kind = DocumentKind::LocalFile;
    spec.name = "local";
    spec.location = source;
    const int doc = h.add(spec);
    ASSERT_EQ(h.check(doc), DocumentStatus::Ready);

    const auto seen = stateWhenAnnounced(doc, [&] { writeFile(source, "version 2\n"); });
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->status, static_cast<int32_t>(DocumentStatus::Changed));
    EXPECT_NE(seen->messageLog.find("Changed: local"), std::string::npos);
    EXPECT_EQ(seen->content, "version 1\n") << "the old content is still in place";
    EXPECT_EQ(h.content(doc), "version 2\n");
}

TEST_F(DurableChange, WebPageChangeIsSavedAndLoggedBeforeTheContentIsReplaced)
{
    s_server->put("simple.html", "<p>one</p>");
    DocumentSpec spec;
    spec.kind = DocumentKind::WebFile;
    spec.name = "simple";
    spec.location = s_server->url("simple.html");
    const int doc = h.add(spec);
    ASSERT_EQ(h.check(doc), DocumentStatus::Ready);

    const auto seen = stateWhenAnnounced(doc, [&] { s_server->put("simple.html", "<p>two</p>"); });
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->status, static_cast<int32_t>(DocumentStatus::Changed));
    EXPECT_NE(seen->messageLog.find("Changed: simple"), std::string::npos);
    EXPECT_EQ(seen->content, "<p>one</p>");
    EXPECT_EQ(h.content(doc), "<p>two</p>");
    EXPECT_EQ(h.tempFiles(), std::vector<std::string>{});
}

TEST_F(DurableChange, NewCountIsSavedWithTheChangedStatusBeforeTheContentIsReplaced)
{
    s_server->put("count.html", "item item");
    DocumentSpec spec;
    spec.name = "counted";
    spec.location = s_server->url("count.html");
    spec.countMode = 1;
    spec.countString = "item";
    const int doc = h.add(spec);
    ASSERT_EQ(h.check(doc), DocumentStatus::Ready);
    EXPECT_EQ(diskState(doc).lastCount, 2) << "the first count is saved with the record";

    const auto seen =
        stateWhenAnnounced(doc, [&] { s_server->put("count.html", "item item item"); });
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->status, static_cast<int32_t>(DocumentStatus::Changed));
    EXPECT_EQ(seen->lastCount, 3);
    EXPECT_NE(seen->messageLog.find("Changed: counted"), std::string::npos);
    EXPECT_EQ(seen->content, "item item");
    EXPECT_EQ(h.content(doc), "item item item");
}

} // namespace
} // namespace sentorix::test
