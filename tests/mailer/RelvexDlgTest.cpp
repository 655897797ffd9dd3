// The log window on the offscreen platform, driven as a user would: the run starts by itself
// after the window shows, lines stay in the order added, long lines can be scrolled to, and
// the Close button pressed during a run ends the program only once the run has returned.
#include "mailer/RelvexDlg.h"

#include <gtest/gtest.h>

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

#include <functional>
#include <string>
#include <vector>

namespace sentorix
{
namespace
{

// Lets the event loop run until `done` holds; false when it never did (a generous bound, not
// a measurement).
bool waitUntil(const std::function<bool()>& done)
{
    QDeadlineTimer deadline(20000);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(10);
    }
    return true;
}

std::vector<std::string> listLines(const CRelvexDlg& dialog)
{
    std::vector<std::string> lines;
    for (int i = 0; i < dialog.logList()->count(); ++i)
        lines.push_back(dialog.logList()->item(i)->text().toStdString());
    return lines;
}

TEST(RelvexDlg, ShowsItsTitleIconLogListAndCloseButton)
{
    CRelvexDlg dialog(nullptr);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Postavo - Tarnwick Lab"));
    EXPECT_FALSE(dialog.windowIcon().pixmap(32).isNull());
    EXPECT_EQ(dialog.closeButton()->text(), QStringLiteral("Close"));
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize()); // a fixed frame

    const QRect window = dialog.rect();
    const QRect list = dialog.logList()->geometry();
    const QRect button = dialog.closeButton()->geometry();
    EXPECT_TRUE(window.contains(list));
    EXPECT_TRUE(window.contains(button));
    EXPECT_LT(list.bottom(), button.top());
    EXPECT_EQ(list.right(), button.right()); // both end at the same right margin
}

// The timers the event loop holds for the dialog, as (interval in ms) values.
std::vector<int> timerIntervals(QObject* object)
{
    std::vector<int> intervals;
    for (const auto& timer : QAbstractEventDispatcher::instance()->registeredTimers(object))
        intervals.push_back(timer.interval);
    return intervals;
}

TEST(RelvexDlg, RunStartsByItselfOnlyAfterTheWindowIsShown)
{
    bool visibleDuringRun = false;
    int runs = 0;
    CRelvexDlg dialog([&](CRelvexDlg& d) {
        ++runs;
        visibleDuringRun = d.isVisible();
    });
    QCoreApplication::processEvents();
    EXPECT_FALSE(dialog.runStarted()); // not before the window is shown
    EXPECT_TRUE(timerIntervals(&dialog).empty()) << "nothing is armed before the window shows";

    QElapsedTimer sinceShown;
    sinceShown.start();
    dialog.show();
    EXPECT_EQ(timerIntervals(&dialog), std::vector<int>{CRelvexDlg::kRunDelayMs});
    EXPECT_EQ(CRelvexDlg::kRunDelayMs, 500);
    QCoreApplication::processEvents();
    EXPECT_FALSE(dialog.runStarted()); // the window is drawn first
    ASSERT_TRUE(waitUntil([&] { return dialog.runFinished(); }));
    EXPECT_TRUE(visibleDuringRun);
    // A coarse timer may fire up to 5 % early.
    EXPECT_GE(sinceShown.elapsed(), CRelvexDlg::kRunDelayMs * 95 / 100);

    // The timer fires once: showing the window again arms nothing and starts no second run.
    EXPECT_TRUE(timerIntervals(&dialog).empty());
    dialog.hide();
    dialog.show();
    EXPECT_TRUE(timerIntervals(&dialog).empty());
    QCoreApplication::processEvents();
    EXPECT_EQ(runs, 1);
}

TEST(RelvexDlg, LinesStayInTheOrderAddedAndCannotBeSelected)
{
    CRelvexDlg dialog(nullptr);
    dialog.show();
    const std::vector<std::string> added = {"zeta", "Alpha", "alpha",         "10",
                                            "9",    "",      "Café Überblick"};
    for (const std::string& line : added)
        appendLogLine(line);
    EXPECT_EQ(listLines(dialog), added);

    CLogList* list = dialog.logList();
    const QRect firstRow = list->visualItemRect(list->item(0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, firstRow.center());
    EXPECT_TRUE(list->selectedItems().isEmpty());
}

TEST(RelvexDlg, LongLinesCanBeScrolledToTheirEnd)
{
    CRelvexDlg dialog(nullptr);
    dialog.show();
    CLogList* list = dialog.logList();
    QScrollBar* bar = list->horizontalScrollBar();

    // Short lines: the list still scrolls over the horizontal extent of 1024 pixels.
    appendLogLine("Email configuration file read OK.");
    ASSERT_TRUE(waitUntil([&] { return bar->maximum() > 0; }));
    EXPECT_EQ(bar->maximum(), CRelvexDlg::kHorizontalExtent - list->viewport()->width());

    // A line wider than the extent: the whole line can be reached.
    const std::string longLine = "SMTP error: 550 " + std::string(400, 'W') + " END";
    appendLogLine(longLine);
    const int lineWidth = list->fontMetrics().horizontalAdvance(QString::fromStdString(longLine));
    ASSERT_GT(lineWidth, CRelvexDlg::kHorizontalExtent);
    ASSERT_TRUE(waitUntil([&] { return bar->maximum() >= lineWidth - list->viewport()->width(); }));
    bar->setValue(bar->maximum());
    QListWidgetItem* item = list->item(1);
    EXPECT_EQ(item->text().toStdString(), longLine);
    EXPECT_LE(list->visualItemRect(item).left() + lineWidth, list->viewport()->width() + 1);
}

TEST(RelvexDlg, CloseDuringARunEndsTheWindowOnlyAfterTheRunReturned)
{
    std::vector<std::string> events;
    CRelvexDlg dialog([&](CRelvexDlg& d) {
        appendLogLine("Email configuration file read OK.");
        // The user presses Close while the run is going on; the press is handled at the
        // next log line, as window events are.
        QTimer::singleShot(0, d.closeButton(), [&] {
            events.push_back("close pressed");
            QTest::mouseClick(d.closeButton(), Qt::LeftButton);
        });
        appendLogLine("Connecting to 127.0.0.1:2525...");
        events.push_back(d.isVisible() ? "run goes on, window shown"
                                       : "run goes on, window closed");
        appendLogLine("Sending email...");
        appendLogLine("Done - 2012/06/14 [08:30:05]");
        events.push_back("run returned");
    });

    const int result = dialog.exec(); // returns only when the window has ended
    events.push_back("window ended");

    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_EQ(events, (std::vector<std::string>{"close pressed", "run goes on, window closed",
                                                "run returned", "window ended"}));
    EXPECT_EQ(listLines(dialog),
              (std::vector<std::string>{"Email configuration file read OK.",
                                        "Connecting to 127.0.0.1:2525...", "Sending email...",
                                        "Done - 2012/06/14 [08:30:05]"}));
}

TEST(RelvexDlg, LogLinesWithoutAWindowGoNowhere)
{
    appendLogLine("before any window");
    {
        CRelvexDlg dialog(nullptr);
        appendLogLine("into the window");
        EXPECT_EQ(listLines(dialog), std::vector<std::string>{"into the window"});
    }
    appendLogLine("after the window is gone"); // must not touch the destroyed list
}

} // namespace
} // namespace sentorix

int main(int argc, char** argv)
{
    // Always the offscreen platform: the tests must not depend on a desktop session.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
