// The document list in the running window, driven as a user would: its columns, texts and
// status images, heading clicks that sort, the selection kept the same in the window and in
// the list, the enabling by the selection for 0, 1 and 2 rows, Select All and Deselect All
// from the keyboard, the context menu inside the list only, the mouse bringing the user back,
// Check All against a real HTTP server, and the reason of an unavailable document.
#include "monitor/Commands.h"
#include "monitor/DocumentListModel.h"
#include "monitor/MainFrame.h"
#include "monitor/QtMonitorView.h"
#include "monitor/SentorixApp.h"
#include "monitor/SentorixView.h"
#include "monitor/check/MonitorSession.h"
#include "monitor/data/DocumentRecord.h"
#include "monitor/data/DocumentTable.h"
#include "monitor/dialogs/DesktopOpen.h"
#include "monitor/dialogs/ModalDialogs.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

#include <cstring>
#include <memory>
#include <ostream>
#include <thread>

// Readable QStrings in the failure messages.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace sentorix
{
namespace
{

using test::PeerProcess;
using test::TempDir;

const int32_t kChecked = static_cast<int32_t>(DocumentStatus::Checked);
const int32_t kChanged = static_cast<int32_t>(DocumentStatus::Changed);
const int32_t kUnavailable = static_cast<int32_t>(DocumentStatus::Unavailable);
const int32_t kWaiting = static_cast<int32_t>(DocumentStatus::Waiting);

struct Doc {
    const char* name;
    DocumentKind kind;
    int32_t status;
    const char* lastCheck = "";
    std::string location = "http://127.0.0.1:9/";
};

class DocumentListView : public ::testing::Test
{
protected:
    void SetUp() override { ui::MessageBox::setDefaultAnswer(QMessageBox::Ok); }
    void TearDown() override
    {
        m_app.reset();
        ui::MessageBox::setDefaultAnswer(QMessageBox::NoButton);
        ui::MessageBox::clearAsked();
    }

    // Stores the documents in the DataFolder, then starts the monitor on it.
    void start(const std::vector<Doc>& docs)
    {
        DocumentTable table;
        for (size_t i = 0; i < docs.size(); ++i) {
            DocumentRecord record{};
            std::strncpy(record.displayName, docs[i].name, sizeof record.displayName - 1);
            std::strncpy(record.location, docs[i].location.c_str(), sizeof record.location - 1);
            std::strncpy(record.lastCheck, docs[i].lastCheck, sizeof record.lastCheck - 1);
            record.kind = static_cast<int32_t>(docs[i].kind);
            record.status = docs[i].status;
            table.put(static_cast<int>(i), record);
            saveRecord(table, static_cast<int>(i), m_data.path());
        }
        CSentorixApp::Settings settings;
        settings.instanceName = QStringLiteral("sentorix-listtest-%1-%2")
                                    .arg(QCoreApplication::applicationPid())
                                    .arg(++s_run);
        settings.dataFolder = m_data.path();
        settings.installFolder = m_data.path();
        settings.silent = true;
        m_app = std::make_unique<CSentorixApp>(settings);
        ASSERT_EQ(m_app->initInstance({}), CSentorixApp::Start::Running);
        view()->setFocus();
    }

    CSentorixView* view() const { return m_app->listView(); }
    CMainFrame* frame() const { return m_app->mainFrame(); }
    QAbstractItemModel* model() const { return view()->model(); }
    DocumentList& list() const { return m_app->session()->list(); }
    QString text(int row, int column) const
    {
        return model()->index(row, column).data().toString();
    }
    QStringList column(int c) const
    {
        QStringList out;
        for (int row = 0; row < model()->rowCount(); ++row)
            out << text(row, c);
        return out;
    }
    int rowNamed(const QString& name) const { return static_cast<int>(column(0).indexOf(name)); }
    QPoint rowCentre(int row) const { return view()->visualRect(model()->index(row, 1)).center(); }
    void clickRow(int row, Qt::KeyboardModifiers modifiers = {})
    {
        QTest::mouseClick(view()->viewport(), Qt::LeftButton, modifiers, rowCentre(row));
    }
    void clickHeading(int section)
    {
        QHeaderView* header = view()->horizontalHeader();
        const QPoint at(header->sectionViewportPosition(section) + 10, header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
    }
    QStringList qtSelectedNames() const
    {
        QStringList names;
        for (const QModelIndex& index : view()->selectionModel()->selectedRows())
            names << index.data().toString();
        names.sort();
        return names;
    }
    QStringList listSelectedNames() const
    {
        QStringList names;
        for (int row : list().selectedRows())
            names << text(row, 0);
        names.sort();
        return names;
    }
    QString statusPane() const { return frame()->idleStatus(); }

    TempDir m_data;
    std::unique_ptr<CSentorixApp> m_app;
    static int s_run;
};

int DocumentListView::s_run = 0;

TEST_F(DocumentListView, ColumnsTextsAndStatusImages)
{
    start({{"Alpha", DocumentKind::WebPage, kChecked, "2026/12/10 [09:00:00]"},
           {"Beta", DocumentKind::FtpFile, kUnavailable},
           {"Gamma", DocumentKind::LocalFile, 9}});
    EXPECT_EQ(frame()->centralWidget(), view());
    EXPECT_EQ(model()->columnCount(), 4);
    const QStringList headings = {"Name", "Type", "Status", "Last Check"};
    const int widths[] = {250, 130, 150, 170};
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(model()->headerData(c, Qt::Horizontal).toString(), headings[c]);
        EXPECT_EQ(view()->horizontalHeader()->sectionSize(c), widths[c]);
    }
    ASSERT_EQ(model()->rowCount(), 3);
    QStringList rows;
    for (int row = 0; row < 3; ++row)
        rows << QStringList{text(row, 0), text(row, 1), text(row, 2), text(row, 3)}.join('|');
    rows.sort();
    EXPECT_EQ(rows,
              (QStringList{"Alpha|Web Page|Checked|2026/12/10 [09:00:00]",
                           "Beta|FTP File|** Unable to retrieve|?", "Gamma|Local File|Unknown|?"}));
    const struct {
        int32_t status;
        int image;
    } images[] = {{kChecked, 0},
                  {kWaiting, 1},
                  {static_cast<int32_t>(DocumentStatus::Retrieving), 1},
                  {kUnavailable, 2},
                  {kChanged, 3},
                  {static_cast<int32_t>(DocumentStatus::Ready), 0},
                  {9, 0}};
    for (const auto& c : images)
        EXPECT_EQ(statusImageOf(c.status), c.image) << c.status;
    for (int row = 0; row < 3; ++row)
        EXPECT_FALSE(model()->index(row, 0).data(Qt::DecorationRole).value<QIcon>().isNull());
    EXPECT_TRUE(model()->index(0, 1).data(Qt::DecorationRole).isNull());
    // A status loaded from its file carries no reason.
    EXPECT_TRUE(model()->index(rowNamed("Beta"), 0).data(Qt::ToolTipRole).isNull());
    // Full-row highlighting, several rows at once, and reachable by name.
    EXPECT_EQ(view()->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(view()->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_FALSE(view()->accessibleName().isEmpty());
}

TEST_F(DocumentListView, HeadingClicksSortWithOneDirectionForEveryColumn)
{
    start({{"b", DocumentKind::WebPage, kChecked},
           {"c", DocumentKind::WebPage, kChanged},
           {"a", DocumentKind::WebPage, kUnavailable},
           {"d", DocumentKind::WebPage, kWaiting}});
    clickHeading(2); // Status, ascending
    EXPECT_EQ(column(2), (QStringList{"** Changed", "** Unable to retrieve", "Checked",
                                      "Waiting to retrieve..."}));
    EXPECT_EQ(column(0), (QStringList{"c", "a", "b", "d"}));
    clickHeading(2); // descending
    EXPECT_EQ(column(2), (QStringList{"Waiting to retrieve...", "Checked", "** Unable to retrieve",
                                      "** Changed"}));
    clickHeading(0); // Name: ascending again, one direction flag for all columns
    EXPECT_EQ(column(0), (QStringList{"a", "b", "c", "d"}));
    clickHeading(3); // Last Check: every text "?", equal texts never exchanged
    EXPECT_EQ(column(0), (QStringList{"a", "b", "c", "d"}));
}

TEST_F(DocumentListView, SelectionIsTheSameInTheWindowAndTheListAndEnablesCommands)
{
    start({{"b", DocumentKind::WebPage, kChecked},
           {"a", DocumentKind::WebPage, kChecked},
           {"c", DocumentKind::WebPage, kChecked}});
    clickHeading(0);
    ASSERT_EQ(column(0), (QStringList{"a", "b", "c"}));

    const auto enabled = [&](int id) { return frame()->action(id)->isEnabled(); };
    const auto contextEnabled = [&](int id) {
        std::unique_ptr<QMenu> menu(frame()->makeContextMenu(list().selectedCount(), view()));
        for (QAction* action : menu->actions())
            if (ui::CommandRouter::commandOf(action) == id)
                return action->isEnabled();
        ADD_FAILURE() << "no context menu item " << id;
        return false;
    };
    const struct {
        int id;
        bool none, one, two;
    } table[] = {
        {ui::kCmdOpen, false, true, true},          {ui::kCmdCheckSelected, false, true, true},
        {ui::kCmdDelete, false, true, true},        {ui::kCmdMarkChecked, false, true, true},
        {ui::kCmdCopy, false, true, false},         {ui::kCmdProperties, false, true, false},
        {ui::kCmdSaveAs, false, true, false},       {ui::kCmdContentHeader, false, true, false},
        {ui::kCmdComparedData, false, true, false}, {ui::kCmdAdd, true, true, true}};
    const auto expectEnabling = [&](int selected) {
        for (const auto& row : table) {
            const bool want = selected == 0 ? row.none : selected == 1 ? row.one : row.two;
            EXPECT_EQ(enabled(row.id), want) << row.id << " with " << selected;
            EXPECT_EQ(contextEnabled(row.id), want) << row.id << " with " << selected;
        }
    };
    expectEnabling(0);

    clickRow(0); // "a"
    EXPECT_EQ(listSelectedNames(), QStringList{"a"});
    expectEnabling(1);

    clickRow(2, Qt::ControlModifier); // and "c"
    EXPECT_EQ(listSelectedNames(), (QStringList{"a", "c"}));
    EXPECT_EQ(qtSelectedNames(), (QStringList{"a", "c"}));
    expectEnabling(2);

    clickHeading(0); // descending: c, b, a; the selected rows go with their records
    ASSERT_EQ(column(0), (QStringList{"c", "b", "a"}));
    EXPECT_EQ(qtSelectedNames(), (QStringList{"a", "c"}));
    EXPECT_EQ(listSelectedNames(), (QStringList{"a", "c"}));

    // The list's own selection reaches the window (a change notification selects its row).
    list().selectRecord(list().rowToRecord(1));
    EXPECT_EQ(qtSelectedNames(), (QStringList{"a", "b", "c"}));

    // The keyboard moves the current row and the selection with it.
    clickRow(0);
    QTest::keyClick(view(), Qt::Key_Down);
    EXPECT_EQ(listSelectedNames(), QStringList{"b"});
    QTest::keyClick(view(), Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(listSelectedNames(), (QStringList{"a", "b"}));
    EXPECT_EQ(qtSelectedNames(), (QStringList{"a", "b"}));
}

TEST_F(DocumentListView, SelectAllAndDeselectAllFromTheKeyboard)
{
    start({{"a", DocumentKind::WebPage, kChecked}, {"b", DocumentKind::WebPage, kChecked}});
    frame()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame()));
    QTest::keyClick(frame(), Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(qtSelectedNames(), (QStringList{"a", "b"}));
    EXPECT_EQ(list().selectedCount(), 2);
    EXPECT_FALSE(frame()->action(ui::kCmdProperties)->isEnabled());
    QTest::keyClick(frame(), Qt::Key_D, Qt::ControlModifier);
    EXPECT_TRUE(qtSelectedNames().isEmpty());
    EXPECT_EQ(list().selectedCount(), 0);
    EXPECT_FALSE(frame()->action(ui::kCmdOpen)->isEnabled());
}

// Runs `request` and reports the enabled items of the popup menu it opened (closed again at
// once), or nothing when none opened.
QStringList popupFrom(const std::function<void()>& request)
{
    request();
    QStringList seen;
    if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
        for (QAction* action : menu->actions())
            if (!action->isSeparator() && action->isEnabled())
                seen << action->text();
        QPointer<QMenu> closed(menu);
        menu->close();
        EXPECT_TRUE(QTest::qWaitFor([&] { return closed.isNull(); }, 2000)); // deleted once closed
    }
    return seen;
}

TEST_F(DocumentListView, ContextMenuInsideTheClientAreaOnly)
{
    start({{"a", DocumentKind::WebPage, kChecked}});
    const auto menuAt = [&](QWidget* widget, QPoint at, QContextMenuEvent::Reason reason) {
        return popupFrom([&] {
            QContextMenuEvent event(reason, at, widget->mapToGlobal(at));
            QApplication::sendEvent(widget, &event);
        });
    };
    const QPoint empty(20, view()->viewport()->height() - 5);
    EXPECT_EQ(menuAt(view()->viewport(), empty, QContextMenuEvent::Mouse),
              (QStringList{"Add..."})); // nothing selected: only Add
    clickRow(0);
    EXPECT_EQ(menuAt(view()->viewport(), rowCentre(0), QContextMenuEvent::Mouse).size(), 10);
    // The heading is not the client area.
    QHeaderView* header = view()->horizontalHeader();
    EXPECT_TRUE(
        menuAt(header, QPoint(10, header->height() / 2), QContextMenuEvent::Mouse).isEmpty());
    // Its items run the menu bar's commands and show their prompts in the status pane.
    std::unique_ptr<QMenu> menu(frame()->makeContextMenu(1, view()));
    for (QAction* action : menu->actions()) {
        if (action->isSeparator())
            continue;
        const QAction* same = frame()->action(ui::CommandRouter::commandOf(action));
        ASSERT_NE(same, nullptr) << action->text().toStdString();
        EXPECT_FALSE(action->statusTip().isEmpty()) << action->text().toStdString();
        EXPECT_EQ(action->statusTip(), same->statusTip());
    }
    // The keyboard's menu key names no point inside the list: nothing.
    EXPECT_TRUE(menuAt(view()->viewport(), QPoint(), QContextMenuEvent::Keyboard).isEmpty());
}

TEST_F(DocumentListView, MouseOverTheListBringsTheUserBack)
{
    start({{"a", DocumentKind::WebPage, kChecked}});
    frame()->setTrayMode(true);
    ASSERT_TRUE(m_app->trayMode());
    QTest::mouseMove(view()->viewport(), rowCentre(0));
    QTRY_VERIFY(!m_app->trayMode());
    EXPECT_FALSE(m_app->session()->engine().trayMode());
}

TEST_F(DocumentListView, AWorkersReportIsCarriedOutOnTheUiThreadWithoutWaiting)
{
    start({{"a", DocumentKind::WebPage, kChecked}, {"b", DocumentKind::WebPage, kChecked}});
    const int record = list().rowToRecord(1);
    ASSERT_GE(record, 0);
    std::thread worker([&] {
        m_app->session()->table().setStatus(record, DocumentStatus::Changed);
        m_app->view()->recordChanged(record);
        m_app->view()->selectRecord(record);
    });
    worker.join(); // returned without the UI thread running: the reports were queued
    EXPECT_EQ(list().selectedCount(), 0);
    EXPECT_GE(m_app->view()->pendingReports(), 2);
    QTRY_COMPARE(text(list().recordToRow(record), 2), QString("** Changed"));
    QTRY_COMPARE(list().selectedCount(), 1);
    EXPECT_EQ(qtSelectedNames(), QStringList{"b"});
}

TEST_F(DocumentListView, ASelectedRowOutOfSightIsScrolledIntoTheList)
{
    std::vector<std::string> names;
    std::vector<Doc> docs;
    for (int i = 0; i < 60; ++i)
        names.push_back("doc " + std::to_string(100 + i));
    for (const std::string& name : names)
        docs.push_back({name.c_str(), DocumentKind::WebPage, kChecked});
    start(docs);
    frame()->resize(500, 300);
    frame()->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame()));
    const int row = model()->rowCount() - 1;
    const QRect viewport = view()->viewport()->rect();
    ASSERT_FALSE(viewport.intersects(view()->visualRect(model()->index(row, 0))))
        << "the last row starts out of sight";
    std::thread worker([&] { m_app->view()->selectRecord(list().rowToRecord(row)); });
    worker.join();
    QTRY_COMPARE(list().selectedCount(), 1);
    EXPECT_TRUE(viewport.contains(view()->visualRect(model()->index(row, 0))));
}

TEST_F(DocumentListView, DoubleClickOpensTheDocument)
{
    start({{"a", DocumentKind::WebPage, kChecked, "", "http://127.0.0.1:9/page.html"}});
    ui::DesktopOpen::setRecording(true);
    ui::DesktopOpen::clearOpened();
    // A double click as the window system delivers it: press, release, double click.
    clickRow(0);
    QTest::mouseDClick(view()->viewport(), Qt::LeftButton, {}, rowCentre(0));
    const std::vector<QUrl> opened = ui::DesktopOpen::opened();
    ui::DesktopOpen::setRecording(false);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].toString(), QString("http://127.0.0.1:9/page.html"));
}

// Check All and Check Selected against a real web server: rows turn Checked, then Changed
// when a page changed; a page the server does not have is Unavailable, and says why.
class DocumentListCheck : public DocumentListView
{
protected:
    void SetUp() override
    {
        DocumentListView::SetUp();
        m_server = std::make_unique<PeerProcess>("http_server.py",
                                                 std::vector<std::string>{"--root", m_root.path()});
        ASSERT_TRUE(m_server->start());
    }
    std::string url(const std::string& file) const
    {
        return "http://127.0.0.1:" + std::to_string(m_server->port()) + "/" + file;
    }
    void put(const std::string& file, const std::string& bytes)
    {
        test::writeFile(m_root.file("." + file + ".part"), bytes);
        ASSERT_EQ(std::rename(m_root.file("." + file + ".part").c_str(), m_root.file(file).c_str()),
                  0);
    }
    // Runs a command as the menu does and lets its workers finish.
    void runAndSettle(int id)
    {
        frame()->action(id)->trigger();
        CheckEngine& engine = m_app->session()->engine();
        QTRY_VERIFY_WITH_TIMEOUT(
            engine.runningWorkers() == 0 && m_app->view()->pendingReports() == 0, 20000);
        QCoreApplication::processEvents();
    }

    TempDir m_root;
    std::unique_ptr<PeerProcess> m_server;
};

TEST_F(DocumentListCheck, CheckAllTurnsRowsCheckedThenChangedAndSaysWhyOneIsUnavailable)
{
    put("one.html", "<html><body>one</body></html>");
    put("two.html", "<html><body>two</body></html>");
    start({{"One", DocumentKind::WebPage, kWaiting, "", url("one.html")},
           {"Two", DocumentKind::WebPage, kWaiting, "", url("two.html")},
           {"Gone", DocumentKind::WebPage, kWaiting, "", url("missing.html")}});
    clickHeading(0);
    ASSERT_EQ(column(0), (QStringList{"Gone", "One", "Two"}));

    runAndSettle(ui::kCmdCheckAll);
    // A first retrieval is Ready: nothing to compare with yet.
    EXPECT_EQ(column(2), (QStringList{"** Unable to retrieve", "Ready", "Ready"}));
    EXPECT_NE(text(1, 3), QString("?")); // the time of the check
    EXPECT_EQ(model()->index(0, 0).data(Qt::ToolTipRole).toString(), QString("HTTP 404 Not Found"));
    EXPECT_EQ(model()->index(0, 3).data(Qt::ToolTipRole).toString(),
              QString("HTTP 404 Not Found")); // anywhere on the row
    EXPECT_TRUE(model()->index(1, 0).data(Qt::ToolTipRole).isNull());

    // Selecting the unavailable row puts its reason into the status pane; another row,
    // or two rows, give the resting text back.
    list().deselectAllRows();
    clickRow(0);
    EXPECT_EQ(statusPane(), QString("HTTP 404 Not Found"));
    clickRow(1);
    EXPECT_EQ(statusPane(), QString("Ready"));
    clickRow(0, Qt::ControlModifier);
    EXPECT_EQ(statusPane(), QString("Ready"));

    put("two.html", "<html><body>two, changed</body></html>");
    list().deselectAllRows();
    runAndSettle(ui::kCmdCheckAll);
    EXPECT_EQ(column(2), (QStringList{"** Unable to retrieve", "Checked", "** Changed"}));
    EXPECT_TRUE(model()->index(2, 0).data(Qt::ToolTipRole).isNull());
    // The change selected its row.
    EXPECT_EQ(qtSelectedNames(), (QStringList{"Gone", "Two"}));
}

TEST_F(DocumentListCheck, CheckSelectedChecksTheSelectedRowsOnly)
{
    put("one.html", "one");
    put("two.html", "two");
    start({{"One", DocumentKind::WebPage, kChecked, "", url("one.html")},
           {"Two", DocumentKind::WebPage, kChecked, "", url("two.html")}});
    clickHeading(0);
    clickRow(1);
    runAndSettle(ui::kCmdCheckSelected);
    EXPECT_EQ(text(0, 3), QString("?"));
    EXPECT_NE(text(1, 3), QString("?"));

    // Nothing selected: the engine asks for a selection and checks nothing.
    list().deselectAllRows();
    ui::MessageBox::clearAsked();
    frame()->action(ui::kCmdCheckSelected)->setEnabled(true);
    frame()->action(ui::kCmdCheckSelected)->trigger();
    ASSERT_EQ(ui::MessageBox::asked().size(), 1u);
    EXPECT_EQ(ui::MessageBox::asked()[0].text,
              QString("Please select the document data to check."));
    EXPECT_EQ(m_app->session()->engine().runningWorkers(), 0);
}

TEST_F(DocumentListCheck, ExitStopsTheWorkersAndSavesTheRecords)
{
    put("one.html", "one");
    start({{"One", DocumentKind::WebPage, kWaiting, "", url("one.html")}});
    frame()->action(ui::kCmdCheckAll)->trigger();
    m_app->exitSequence();
    EXPECT_EQ(m_app->session()->engine().runningWorkers(), 0);
    DocumentTable stored;
    EXPECT_EQ(loadAllRecords(stored, m_data.path(), nullptr), 1);
    const int32_t status = static_cast<int32_t>(stored.status(0));
    EXPECT_TRUE(status == kChecked || status == kWaiting) << status;
}

} // namespace
} // namespace sentorix
