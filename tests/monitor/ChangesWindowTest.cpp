// The "View Changes..." window on the offscreen platform: the highlighted lines and words of a
// small known change in both layouts, stepping between changes by keys, the messages for the
// results without lines, and a comparison loaded off the UI thread from stored versions.
#include "monitor/dialogs/ChangesWindow.h"

#include "tests/support/TestSupport.h"

#include "common/FixedText.h"
#include "monitor/data/DocumentTable.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>

#include <cstdlib>

namespace sentorix::ui
{
namespace
{

struct Highlight {
    int block;
    QString text;
    QColor color;
};

// The fragments with a background, in document order.
std::vector<Highlight> highlights(QTextDocument* document)
{
    std::vector<Highlight> out;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (fragment.charFormat().hasProperty(QTextFormat::BackgroundBrush))
                out.push_back({block.blockNumber(), fragment.text(),
                               fragment.charFormat().background().color()});
        }
    return out;
}

QColor lineColor(QTextDocument* document, int block)
{
    return document->findBlockByNumber(block).blockFormat().background().color();
}

DocumentChanges knownChange()
{
    DocumentChanges changes;
    changes.result = ChangesResult::Lines;
    changes.previous = {"News.previous", 0, 0};
    changes.current = {"News.content", 0, 0};
    changes.diff = diffTexts("one\nthe quick brown fox\nthree\nfour\nfive\nsix\nseven\neight\n"
                             "nine\nten\n",
                             "one\nthe quick red fox\nthree\nfour\nfive\nsix\nseven\neight\n"
                             "nine\nten\nadded\n",
                             LineEnds::Lf);
    return changes;
}

class ChangesWindowTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        static int argc = 1;
        static char name[] = "changes_window_test";
        static char* argv[] = {name, nullptr};
        s_app = new QApplication(argc, argv);
    }

    static QApplication* s_app;
};

QApplication* ChangesWindowTest::s_app = nullptr;

TEST_F(ChangesWindowTest, SideBySideAndInlineHighlightTheChangedLinesAndWords)
{
    ChangesWindow window;
    window.showChanges(knownChange());
    window.show();
    ASSERT_EQ(window.message(), QString());
    ASSERT_EQ(window.changeCount(), 2);

    // Side by side: header, "one", the changed line, ... Two hunks: the change in line 2 and
    // the added last line (more than six unchanged lines apart).
    QTextDocument* left = window.oldDocument();
    QTextDocument* right = window.newDocument();
    EXPECT_EQ(left->findBlockByNumber(0).text(), "@@ -1,5 +1,5 @@");
    EXPECT_EQ(left->findBlockByNumber(2).text(), "the quick brown fox");
    EXPECT_EQ(right->findBlockByNumber(2).text(), "the quick red fox");
    EXPECT_EQ(lineColor(left, 2), ChangesWindow::deletedLineColor());
    EXPECT_EQ(lineColor(right, 2), ChangesWindow::insertedLineColor());
    const std::vector<Highlight> leftWords = highlights(left);
    ASSERT_EQ(leftWords.size(), 1u);
    EXPECT_EQ(leftWords[0].block, 2);
    EXPECT_EQ(leftWords[0].text, "brown");
    EXPECT_EQ(leftWords[0].color, ChangesWindow::deletedWordColor());
    const std::vector<Highlight> rightWords = highlights(right);
    ASSERT_EQ(rightWords.size(), 1u);
    EXPECT_EQ(rightWords[0].text, "red");
    EXPECT_EQ(rightWords[0].color, ChangesWindow::insertedWordColor());
    // The added line faces an empty filler row on the left, so the rows stay aligned.
    const int added = right->blockCount() - 1;
    EXPECT_EQ(right->findBlockByNumber(added).text(), "added");
    EXPECT_EQ(lineColor(right, added), ChangesWindow::insertedLineColor());
    EXPECT_EQ(left->blockCount(), right->blockCount());
    EXPECT_EQ(left->findBlockByNumber(added).text(), "");

    window.grab().save("changes_side_by_side.png");

    // Inline: deletions before insertions, each marked.
    window.setLayout(ChangesWindow::Layout::Inline);
    QTextDocument* inl = window.inlineDocument();
    EXPECT_EQ(inl->findBlockByNumber(2).text(), "- the quick brown fox");
    EXPECT_EQ(inl->findBlockByNumber(3).text(), "+ the quick red fox");
    EXPECT_EQ(lineColor(inl, 2), ChangesWindow::deletedLineColor());
    EXPECT_EQ(lineColor(inl, 3), ChangesWindow::insertedLineColor());
    const std::vector<Highlight> words = highlights(inl);
    ASSERT_EQ(words.size(), 2u);
    EXPECT_EQ(words[0].text, "brown");
    EXPECT_EQ(words[1].text, "red");
    window.grab().save("changes_inline.png");
}

TEST_F(ChangesWindowTest, KeysStepFromChangeToChange)
{
    ChangesWindow window;
    window.showChanges(knownChange());
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.activateWindow();
    EXPECT_EQ(window.currentChange(), 0);
    EXPECT_EQ(window.currentBlock(), 2);
    QTest::keyClick(&window, Qt::Key_F7);
    EXPECT_EQ(window.currentChange(), 1);
    EXPECT_EQ(window.oldDocument()->findBlockByNumber(window.currentBlock()).text(), "");
    EXPECT_EQ(window.newDocument()->findBlockByNumber(window.currentBlock()).text(), "added");
    QTest::keyClick(&window, Qt::Key_F7); // stays at the last change
    EXPECT_EQ(window.currentChange(), 1);
    QTest::keyClick(&window, Qt::Key_F7, Qt::ShiftModifier);
    EXPECT_EQ(window.currentChange(), 0);
    // The same change is found in the inline layout.
    window.setLayout(ChangesWindow::Layout::Inline);
    QTest::keyClick(&window, Qt::Key_Down, Qt::AltModifier);
    EXPECT_EQ(window.inlineDocument()->findBlockByNumber(window.currentBlock()).text(), "+ added");
}

TEST_F(ChangesWindowTest, ResultsWithoutLinesAreOneMessage)
{
    struct Case {
        ChangesResult result;
        DiffOutcome outcome;
        QString message;
    };
    const std::vector<Case> cases = {
        {ChangesResult::Lines, DiffOutcome::TooLarge,
         "The versions are too large to compare in detail (previous 40000000 bytes, current "
         "12 bytes)."},
        {ChangesResult::Lines, DiffOutcome::Binary,
         "The versions are not text and differ (previous 40000000 bytes, current 12 bytes)."},
        {ChangesResult::Counts, DiffOutcome::Same, "Count of \"item\": previous 3, current 5."},
        {ChangesResult::NoPrevious, DiffOutcome::Same,
         "This document has no previous version: no change was detected yet."},
    };
    for (const Case& c : cases) {
        DocumentChanges changes;
        changes.result = c.result;
        changes.diff.outcome = c.outcome;
        changes.diff.oldSize = 40000000;
        changes.diff.newSize = 12;
        changes.countString = "item";
        changes.previousCount = 3;
        changes.currentCount = 5;
        ChangesWindow window;
        window.showChanges(changes);
        EXPECT_EQ(window.message(), c.message);
        EXPECT_EQ(window.changeCount(), 0);
    }
}

TEST_F(ChangesWindowTest, LoadsTheStoredVersionsOffTheUiThread)
{
    test::TempDir data;
    test::writeFile(data.file("News.previous"), "a\nb\n");
    test::writeFile(data.file("News.content"), "a\nc\n");
    DocumentRecord record{};
    record.kind = static_cast<int32_t>(DocumentKind::LocalFile);
    setFieldText(record.displayName, "News");
    ChangesWindow window;
    QSignalSpy shown(&window, &ChangesWindow::changesShown);
    window.load(data.path(), record);
    EXPECT_EQ(window.message(), "Comparing...");
    ASSERT_TRUE(shown.wait(10000));
    EXPECT_TRUE(window.loaded());
    EXPECT_EQ(window.changeCount(), 1);
    EXPECT_EQ(window.windowTitle(), "Changes - News");
    EXPECT_EQ(window.newDocument()->findBlockByNumber(2).text(), "c");
}

} // namespace
} // namespace sentorix::ui
