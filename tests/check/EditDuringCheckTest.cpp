// A document edited or deleted while its worker is still checking it: the worker keeps the
// record it started with, so nothing it found may land on the record that replaced it or leave
// files under a name no document has any more.

#include "CheckHarness.h"

#include "common/FixedText.h"
#include "common/TextFile.h"
#include "monitor/check/CheckEngine.h"

#include <gtest/gtest.h>

namespace sentorix::test
{
namespace
{

TEST(EditDuringCheck, TheReplacedRecordGetsNothingOfTheOldCheckAndNoFileIsLeftBehind)
{
    HttpPeer server;
    ASSERT_TRUE(server.start());
    server.put("old.html", "no markers in here");
    server.put("new.html", "the new page");
    struct Case {
        const char* what;
        bool deleted; // else edited: renamed and moved to another page
    };
    const Case cases[] = {{"edited", false}, {"deleted", true}};
    for (const Case& c : cases) {
        EngineHarness h;
        const int doc = h.add(middleSpec("old", server.url("/old.html")));
        // The first fetch stored the page, then found no markers and asks the user: while the
        // worker waits for the box, the user edits or deletes the document, as the window's
        // commands do.
        h.hooks.onShowMessage = [&](const std::string& text) {
            ASSERT_EQ(text, kMiddleNotFoundText);
            removeFile(recordFilePath(h.dataFolder, "old", kDataExtension));
            removeFile(recordFilePath(h.dataFolder, "old", kContentExtension));
            if (c.deleted) {
                removeFile(recordFilePath(h.dataFolder, "old", kMiddleExtension));
                h.table.clear(doc);
                return;
            }
            DocumentRecord edited = h.table.get(doc);
            setFieldText(edited.displayName, "new");
            setFieldText(edited.location, server.url("/new.html"));
            edited.middleMode = 0;
            edited.status = static_cast<int32_t>(DocumentStatus::Waiting);
            h.table.put(doc, edited);
        };
        const DocumentStatus status = h.check(doc);
        h.hooks.onShowMessage = nullptr;
        EXPECT_FALSE(exists(recordFilePath(h.dataFolder, "old", kContentExtension))) << c.what;
        EXPECT_FALSE(exists(recordFilePath(h.dataFolder, "old", kMiddleExtension))) << c.what;
        EXPECT_EQ(h.sound.played(), std::vector<std::string>{})
            << c.what << ": the old record's failure is not announced for another one";
        int notified = 0;
        h.notified.consume([&](int) {
            ++notified;
            return false;
        });
        EXPECT_EQ(notified, 0) << c.what;
        if (c.deleted) {
            EXPECT_FALSE(h.table.isUsed(doc));
        } else {
            EXPECT_EQ(status, DocumentStatus::Ready) << "the edited document is fetched anew";
            EXPECT_EQ(h.content(doc), "the new page");
            EXPECT_EQ(h.table.displayName(doc), "new");
        }
        EXPECT_TRUE(h.tempFiles().empty()) << c.what;
    }
}

} // namespace
} // namespace sentorix::test
