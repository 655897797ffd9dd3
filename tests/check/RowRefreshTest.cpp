// A Check All seen from the UI thread of a front end built on QueuedView, as the window is:
// the workers' row reports arrive on the UI thread only, while the UI thread reads the rows'
// texts, sorts the list and changes the selection between deliveries. Run under
// ThreadSanitizer, this is the window's row refresh without the toolkit.
#include "CheckHarness.h"

#include "monitor/check/MonitorSession.h"
#include "monitor/check/QueuedView.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <string>
#include <thread>

using namespace sentorix;
using namespace sentorix::test;

namespace
{

// The window's side of the reports: a row redraw reads the row's texts, as the list model's
// paint does; a selection report selects the row.
class PollingListView final : public QueuedView
{
public:
    DocumentList* list = nullptr;
    std::map<int, int> redraws;       // record -> redraws
    std::map<int, std::string> shown; // record -> the status text last drawn
    int offUiThread = 0;
    int selections = 0;

protected:
    void onRecordChanged(int record) override
    {
        if (!onUiThread())
            ++offUiThread;
        ++redraws[record];
        const int row = list->recordToRow(record);
        if (row >= 0) {
            for (int column = 0; column < kListColumnCount; ++column)
                list->text(row, column);
            shown[record] = list->text(row, kStatusColumn);
        }
    }
    void onSelectRecord(int record) override
    {
        if (!onUiThread())
            ++offUiThread;
        ++selections;
        list->selectRecord(record);
    }
    void onStartBlink() override {}
    void onOpenDocument(int, bool) override {}
    MessageAnswer onMessage(const std::string&, MessageIcon, MessageButtons buttons) override
    {
        return defaultAnswer(buttons);
    }
};

TEST(RowRefresh, WorkersReportsReachTheUiThreadWhileItSortsAndReadsTheRows)
{
    HttpPeer server;
    ASSERT_TRUE(server.start());
    TempDir data;
    constexpr int kDocuments = 40;
    {
        DocumentTable table;
        for (int i = 0; i < kDocuments; ++i) {
            const std::string name = "Doc " + std::to_string(100 + i);
            server.put("page" + std::to_string(i) + ".html", "page " + std::to_string(i));
            DocumentRecord record{};
            std::snprintf(record.displayName, sizeof record.displayName, "%s", name.c_str());
            const std::string location = i % 5 == 0
                                             ? server.url("/missing" + std::to_string(i) + ".html")
                                             : server.url("/page" + std::to_string(i) + ".html");
            std::snprintf(record.location, sizeof record.location, "%s", location.c_str());
            record.kind = static_cast<int32_t>(DocumentKind::WebPage);
            record.status = static_cast<int32_t>(DocumentStatus::Checked);
            table.put(i, record);
            saveRecord(table, i, data.path());
        }
    }

    PollingListView view;
    RecordingTimers timers;
    RecordingSound sound;
    PosixProgramLauncher launcher;
    MonitorSession session(data.path(), data.path(), {view, timers, sound, launcher});
    view.list = &session.list();
    ASSERT_EQ(session.load(), kDocuments);
    OptionsRecord options = session.options().get();
    options.workerThreads = 5;
    options.selectOnChange = 1;
    options.selectOnUnavailable = 1;
    session.options().set(options);

    session.engine().checkAll();
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    int round = 0;
    while ((session.engine().runningWorkers() > 0 || view.pendingReports() > 0) &&
           std::chrono::steady_clock::now() < end) {
        view.deliverReports();
        // What a user does meanwhile: sort by a heading, select, deselect.
        session.list().sortByColumn(++round % 2 == 0 ? kNameColumn : kStatusColumn);
        if (round % 3 == 0)
            session.list().selectAllRows();
        else if (round % 3 == 1)
            session.list().deselectAllRows();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    view.deliverReports();
    ASSERT_EQ(session.engine().runningWorkers(), 0);

    EXPECT_EQ(view.offUiThread, 0);
    EXPECT_GE(view.selections, kDocuments / 5); // every unavailable one selected its row
    // The slots follow the order the files were read in: the name tells which page it is.
    for (int record = 0; record < kDocuments; ++record) {
        const std::string name = session.table().displayName(record);
        SCOPED_TRACE(name);
        const int page = std::stoi(name.substr(4)) - 100;
        // Claimed (Retrieving), then the end of the check.
        EXPECT_GE(view.redraws[record], 2);
        const std::string want = std::string(statusText(static_cast<int32_t>(
            page % 5 == 0 ? DocumentStatus::Unavailable : DocumentStatus::Ready)));
        EXPECT_EQ(view.shown[record], want);
        EXPECT_EQ(session.list().text(session.list().recordToRow(record), kStatusColumn), want);
    }
    session.engine().stop();
}

} // namespace
