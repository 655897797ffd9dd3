// The document commands in the running monitor, end to end as a user works: the toolbar, keys,
// rows clicked in the list and its context menu, over a real HTTP server on 127.0.0.1; every
// dialog and message box answered in advance.
#include "common/FixedText.h"
#include "monitor/Commands.h"
#include "monitor/MainFrame.h"
#include "monitor/SentorixApp.h"
#include "monitor/SentorixView.h"
#include "monitor/check/MonitorSession.h"
#include "monitor/dialogs/ChangesWindow.h"
#include "monitor/dialogs/DesktopOpen.h"
#include "monitor/dialogs/DocumentDialog.h"
#include "monitor/dialogs/ModalDialogs.h"
#include "tests/monitor/DialogControls.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QTest>
#include <QToolBar>

#include <ostream>

namespace sentorix
{
namespace
{

using test::exists;
using test::readFile;
using test::writeFile;
using Id = ui::DocumentDialog::ControlId;

using test::clickOn;
using test::controlOf;
using test::typeInto;

class MonitorCommandsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ui::MessageBox::clearAsked();
        ui::MessageBox::setDefaultAnswer(QMessageBox::Ok);
        ui::DialogRunner::clearHandlers();
        ui::DesktopOpen::setRecording(true);
        ui::DesktopOpen::clearOpened();
        writeFile(www.file("page.html"), "<html><body>first</body></html>\r\n");
        server = std::make_unique<test::PeerProcess>(
            "http_server.py", std::vector<std::string>{"--root", www.path()});
        ASSERT_TRUE(server->start());
    }
    void TearDown() override
    {
        app.reset();
        ui::DialogRunner::clearHandlers();
        ui::MessageBox::clearAsked();
    }

    void start()
    {
        CSentorixApp::Settings settings;
        static int run = 0;
        settings.instanceName = QStringLiteral("sentorix-commandstest-%1-%2")
                                    .arg(QCoreApplication::applicationPid())
                                    .arg(++run);
        settings.dataFolder = data.path();
        settings.installFolder = data.path();
        settings.silent = true;
        app = std::make_unique<CSentorixApp>(settings);
        ASSERT_EQ(app->initInstance({}), CSentorixApp::Start::Running);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(app->mainFrame()));
        activate();
    }
    // Keys reach the window's shortcuts only while it is active (a dialog took it meanwhile).
    void activate()
    {
        app->mainFrame()->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(app->mainFrame()));
        app->listView()->setFocus();
    }
    QString address(const char* file) const
    {
        return QStringLiteral("http://127.0.0.1:%1/%2").arg(server->port()).arg(file);
    }
    CMainFrame* frame() const { return app->mainFrame(); }
    CSentorixView* view() const { return app->listView(); }
    QString text(int row, int column) const
    {
        return view()->model()->index(row, column).data().toString();
    }
    int rows() const { return view()->model()->rowCount(); }
    void clickRow(int row)
    {
        const QPoint at = view()->visualRect(view()->model()->index(row, 1)).center();
        QTest::mouseClick(view()->viewport(), Qt::LeftButton, {}, at);
    }
    bool waitForStatus(int row, const QString& status)
    {
        return QTest::qWaitFor([&] { return text(row, 2) == status; }, 15000);
    }
    void shot(QWidget* widget, const char* name)
    {
        if (qEnvironmentVariableIsSet("SENTORIX_SCREENSHOTS"))
            widget->grab().save(qEnvironmentVariable("SENTORIX_SCREENSHOTS") + "/" + name);
    }

    test::TempDir data;
    test::TempDir www;
    std::unique_ptr<test::PeerProcess> server;
    std::unique_ptr<CSentorixApp> app;
};

TEST_F(MonitorCommandsTest, AddFromTheToolbarEditWithCtrlEAndDeleteWithTheKey)
{
    start();
    const QString location = address("page.html");
    ui::DialogRunner::setNextHandler([location](QDialog& dialog) {
        typeInto(dialog, Id::IdDisplayName, "Front page");
        typeInto(dialog, Id::IdLocation, location);
        clickOn(dialog, 1);
    });
    QWidget* add = frame()->toolBar()->widgetForAction(frame()->action(ui::kCmdAdd));
    QTest::mouseClick(add, Qt::LeftButton);
    ASSERT_EQ(rows(), 1);
    EXPECT_EQ(text(0, 0), "Front page");
    ASSERT_TRUE(waitForStatus(0, "Ready")) << text(0, 2).toStdString();
    EXPECT_NE(text(0, 3), "?") << "the last check is shown";
    shot(frame(), "monitor-added.png");

    // Properties from the keyboard, applied unchanged: the stored content is discarded and the
    // page fetched again as a new baseline (Ready, not Changed, with the page's new text).
    writeFile(www.file("page.html"), "<html><body>second</body></html>\r\n");
    const std::string content = recordFilePath(data.path(), "Front page", kContentExtension);
    activate();
    clickRow(0);
    ui::DialogRunner::setNextHandler([](QDialog& dialog) {
        EXPECT_EQ(dialog.windowTitle(), "Document Properties");
        clickOn(dialog, 1);
    });
    QTest::keyClick(frame(), Qt::Key_E, Qt::ControlModifier);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return exists(content) && readFile(content).find("second") != std::string::npos; },
        15000));
    ASSERT_TRUE(waitForStatus(0, "Ready")) << text(0, 2).toStdString();

    // Del: answered No, then Yes.
    activate();
    ui::MessageBox::setNextAnswer(QMessageBox::No);
    QTest::keyClick(frame(), Qt::Key_Delete);
    EXPECT_EQ(rows(), 1);
    ui::MessageBox::setNextAnswer(QMessageBox::Yes);
    QTest::keyClick(frame(), Qt::Key_Delete);
    EXPECT_EQ(rows(), 0);
    EXPECT_FALSE(exists(content));
    ASSERT_EQ(ui::MessageBox::asked().size(), 2u);
    EXPECT_EQ(ui::MessageBox::asked()[0].text, kConfirmDeleteText);
}

TEST_F(MonitorCommandsTest, ViewChangesFromTheContextMenuAndTheViewMenu)
{
    // A document whose last check found a change: its previous version lies beside it.
    DocumentTable table;
    DocumentRecord record{};
    record.kind = static_cast<int32_t>(DocumentKind::LocalFile);
    setFieldText(record.displayName, "Notes");
    setFieldText(record.location, "/nowhere/notes.txt");
    record.status = static_cast<int32_t>(DocumentStatus::Changed);
    table.put(0, record);
    saveRecord(table, 0, data.path());
    writeFile(recordFilePath(data.path(), "Notes", kContentExtension),
              "alpha\nbeta changed here\ngamma\ndelta\n");
    writeFile(recordFilePath(data.path(), "Notes", kPreviousExtension),
              "alpha\nbeta\ngamma\ndelta\n");
    setFieldText(record.displayName, "Plain");
    table.put(1, record);
    saveRecord(table, 1, data.path());
    writeFile(recordFilePath(data.path(), "Plain", kContentExtension), "one version\n");
    start();
    ASSERT_EQ(rows(), 2);
    const int notes = text(0, 0) == "Notes" ? 0 : 1;

    // The context menu of the row without a previous version greys the item.
    const auto popupItem = [this](int row) -> QAction* {
        const QPoint at = view()->visualRect(view()->model()->index(row, 1)).center();
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, view()->viewport()->mapToGlobal(at));
        QApplication::sendEvent(view()->viewport(), &event);
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu)
            return nullptr;
        for (QAction* action : menu->actions())
            if (action->text() == ui::kViewChangesText)
                return action;
        return nullptr;
    };
    clickRow(1 - notes);
    QAction* item = popupItem(1 - notes);
    ASSERT_NE(item, nullptr);
    EXPECT_FALSE(item->isEnabled());
    QApplication::activePopupWidget()->close();
    EXPECT_FALSE(frame()->action(ui::kCmdViewChanges)->isEnabled());

    clickRow(notes);
    EXPECT_TRUE(frame()->action(ui::kCmdViewChanges)->isEnabled());
    item = popupItem(notes);
    ASSERT_NE(item, nullptr);
    ASSERT_TRUE(item->isEnabled());
    shot(QApplication::activePopupWidget(), "monitor-context-menu.png");
    item->trigger();
    if (QWidget* popup = QApplication::activePopupWidget())
        popup->close();

    ui::ChangesWindow* window = nullptr;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            for (QWidget* top : QApplication::topLevelWidgets())
                if (auto* w = qobject_cast<ui::ChangesWindow*>(top); w && w->isVisible())
                    window = w;
            return window && window->loaded();
        },
        10000));
    EXPECT_EQ(window->changeCount(), 1);
    EXPECT_TRUE(window->newDocument()->toPlainText().contains("beta changed here"));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    shot(window, "monitor-view-changes.png");
    window->close();
}

TEST_F(MonitorCommandsTest, ADoubleClickOpensThePageWithoutItsLogin)
{
    DocumentTable table;
    DocumentRecord record{};
    record.kind = static_cast<int32_t>(DocumentKind::WebPage);
    setFieldText(record.displayName, "Private");
    setFieldText(record.location, "https://intranet.example/report?id=4");
    record.useAccount = 1;
    setFieldText(record.userName, "ann");
    setFieldText(record.password, "p@ss:word");
    record.status = static_cast<int32_t>(DocumentStatus::Checked);
    table.put(0, record);
    saveRecord(table, 0, data.path());
    start();
    ASSERT_EQ(rows(), 1);
    // A double click as the window system delivers it: press, release, double click.
    clickRow(0);
    const QPoint at = view()->visualRect(view()->model()->index(0, 1)).center();
    QTest::mouseDClick(view()->viewport(), Qt::LeftButton, {}, at);
    // And View > Open on the selected row.
    frame()->updateCommandEnabling();
    frame()->action(ui::kCmdOpen)->trigger();
    ASSERT_GE(ui::DesktopOpen::opened().size(), 2u);
    for (const QUrl& url : ui::DesktopOpen::opened()) {
        EXPECT_EQ(url, QUrl("https://intranet.example/report?id=4"));
        EXPECT_FALSE(url.toString(QUrl::FullyEncoded).contains("ann"));
        EXPECT_FALSE(url.toString(QUrl::FullyEncoded).contains("word"));
    }
}

} // namespace
} // namespace sentorix
