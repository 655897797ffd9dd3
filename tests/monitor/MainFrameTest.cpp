// The main window as a user meets it: the menu items with their accelerators and prompts, the
// toolbar, the status pane, the enabling by selection, the context and tray menus, and
// minimising to the tray.
#include "monitor/MainFrame.h"
#include "monitor/Artwork.h"
#include "monitor/Commands.h"
#include "monitor/TrayIcon.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include <vector>

namespace sentorix
{
namespace
{

using namespace ui;

struct MenuItem {
    QString path; // menu titles and item text, joined by " > "; "-" for a separator
    int id;
    QString shortcut;
    QString prompt;
};

// Walks the menu bar into "File > Document > &Add...\tCtrl+A" lines, separators as "-".
void collect(QMenu* menu, const QString& prefix, std::vector<MenuItem>& out)
{
    for (QAction* action : menu->actions()) {
        if (action->menu()) {
            collect(action->menu(), prefix + action->text() + " > ", out);
        } else if (action->isSeparator()) {
            out.push_back({prefix + "-", 0, {}, {}});
        } else {
            out.push_back({prefix + action->text(), CommandRouter::commandOf(action),
                           action->shortcut().toString(), action->statusTip()});
        }
    }
}

TEST(MainFrame, TitleMenusAcceleratorsAndPromptsAreThoseOfTheTable)
{
    CMainFrame frame;
    EXPECT_EQ(frame.windowTitle(), "Sentorix - Tarnwick Lab");

    std::vector<MenuItem> items;
    for (QAction* top : frame.menuBar()->actions())
        collect(top->menu(), top->text() + " > ", items);

    const QString site = kSiteHost;
    const std::vector<MenuItem> expected = {
        {"&File > &Document > &Add...\tCtrl+A", 32776, "Ctrl+A", "Add new document."},
        {"&File > &Document > &Copy...\tCtrl+C", 32778, "Ctrl+C", "Copy selected document."},
        {"&File > &Document > Dele&te...\tDel", 32782, "Del", "Delete selected documents.."},
        {"&File > &Document > -", 0, "", ""},
        {"&File > &Document > &Save As...", 32805, "", "Save selected document as.."},
        {"&File > &Options...", 32790, "", "Change the application's options.."},
        {"&File > -", 0, "", ""},
        {"&File > E&xit", 32779, "", "Quit Sentorix."},
        {"&Edit > &Mark as Checked", 32789, "", "Mark selected document as Checked status."},
        {"&Edit > Mark &All as Checked\tESC", 32794, "Esc", "Mark all document as Checked status."},
        {"&Edit > -", 0, "", ""},
        {"&Edit > &Select All\tCtrl+S", 32780, "Ctrl+S", "Select all documents."},
        {"&Edit > &Deselect All\tCtrl+D", 32781, "Ctrl+D", "Deselect all documents."},
        {"&Edit > -", 0, "", ""},
        {"&Edit > &Properties...\tCtrl+E", 32777, "Ctrl+E", "Properties of selected document.."},
        {"&View > &Open\tDblClk", 32791, "", "Open selected document."},
        {"&View > -", 0, "", ""},
        {"&View > Content &Header...", 32806, "", "View document data header.."},
        {"&View > Compared &Data...", 32807, "", "View compared portion data.."},
        {"&View > View &Changes...", 32808, "",
         "View what the last change of the selected document changed."},
        {"&View > -", 0, "", ""},
        {"&View > &Toolbar", 0xE800, "", "Show or hide the toolbar"},
        {"&View > &Status Bar", 0xE801, "", "Show or hide the status bar"},
        {"&Check > Check &Selected\tF5", 32783, "F5", "Check changes of selected documents."},
        {"&Check > Check &All\tCtrl+F5", 32800, "Ctrl+F5", "Check changes of all documents."},
        {"&Help > Sentorix &Home", 32784, "", site + "/sentorix/"},
        {"&Help > User's &Manual", 32786, "", site + "/sentorix/manual/"},
        {"&Help > On-line &Support", 32785, "", site + "/support.html"},
    };
    ASSERT_EQ(items.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i].path.toStdString());
        EXPECT_EQ(items[i].path, expected[i].path);
        EXPECT_EQ(items[i].id, expected[i].id);
        EXPECT_EQ(items[i].shortcut, expected[i].shortcut);
        EXPECT_EQ(items[i].prompt, expected[i].prompt);
    }
}

TEST(MainFrame, ToolbarHoldsOptionsSeparatorAddCheckOpenWith42PixelImages)
{
    CMainFrame frame;
    QToolBar* bar = frame.toolBar();
    EXPECT_EQ(bar->iconSize(), QSize(42, 42));
    std::vector<int> ids;
    for (QAction* action : bar->actions())
        ids.push_back(action->isSeparator() ? 0 : CommandRouter::commandOf(action));
    EXPECT_EQ(ids, (std::vector<int>{32790, 0, 32776, 32783, 32791}));
    for (QAction* action : bar->actions()) {
        if (action->isSeparator())
            continue;
        SCOPED_TRACE(action->toolTip().toStdString());
        EXPECT_FALSE(bar->widgetForAction(action)->accessibleName().isEmpty() &&
                     action->text().isEmpty());
        // The hot image differs from the normal one.
        const QImage normal = action->icon().pixmap(42, QIcon::Normal).toImage();
        const QImage hot = action->icon().pixmap(42, QIcon::Active).toImage();
        EXPECT_EQ(normal.size(), QSize(42, 42));
        EXPECT_NE(normal, hot);
    }
}

TEST(MainFrame, StatusPaneShowsReadyOrThePromptOfTheHoveredCommand)
{
    CMainFrame frame;
    frame.show();
    EXPECT_EQ(frame.idleStatus(), "Ready");
    QWidget* add = frame.toolBar()->widgetForAction(frame.action(kCmdAdd));
    QTest::mouseMove(add);
    QTRY_COMPARE(frame.statusBar()->currentMessage(), QString("Add new document."));
    frame.setIdleStatus("Connection refused");
    EXPECT_EQ(frame.idleStatus(), "Connection refused");
    frame.setIdleStatus("");
    EXPECT_EQ(frame.idleStatus(), "Ready");
}

TEST(MainFrame, CommandsAreEnabledByTheNumberOfSelectedRows)
{
    CMainFrame frame;
    int selected = 0;
    frame.setSelectionCounter([&] { return selected; });

    const std::vector<int> anySelected = {32791, 32783, 32782, 32789};
    const std::vector<int> oneSelected = {32778, 32777, 32805, 32806, 32807, 32808};
    const std::vector<int> always = {32776, 32790, 32779, 32794, 32780, 32781, 32800, 32784};
    for (int count : {0, 1, 2}) {
        SCOPED_TRACE(count);
        selected = count;
        frame.updateCommandEnabling();
        for (int id : anySelected)
            EXPECT_EQ(frame.action(id)->isEnabled(), count >= 1) << id;
        for (int id : oneSelected)
            EXPECT_EQ(frame.action(id)->isEnabled(), count == 1) << id;
        for (int id : always)
            EXPECT_TRUE(frame.action(id)->isEnabled()) << id;
    }
}

TEST(MainFrame, ContextMenuItemsAreGreyedByTheSelection)
{
    CMainFrame frame;
    const QStringList texts = {"Mark as Checked",
                               "Check Selected",
                               "",
                               "View Content Header...",
                               "View Compared Data...",
                               "View Changes...",
                               "",
                               "Open",
                               "Add...",
                               "Copy...",
                               "Delete...",
                               "Save As...",
                               "",
                               "Properties..."};
    const struct {
        int selected;
        QStringList enabled;
    } cases[] = {
        {0, {"Add..."}},
        {1,
         {"Mark as Checked", "Check Selected", "View Content Header...", "View Compared Data...",
          "View Changes...", "Open", "Add...", "Copy...", "Delete...", "Save As...",
          "Properties..."}},
        {2, {"Mark as Checked", "Check Selected", "Open", "Add...", "Delete..."}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.selected);
        std::unique_ptr<QMenu> menu(frame.makeContextMenu(c.selected, &frame));
        QStringList seen;
        QStringList enabled;
        for (QAction* action : menu->actions()) {
            seen << (action->isSeparator() ? QString() : action->text());
            if (!action->isSeparator() && action->isEnabled())
                enabled << action->text();
        }
        EXPECT_EQ(seen, texts);
        EXPECT_EQ(enabled, c.enabled);
    }
}

TEST(MainFrame, AFurtherConditionGreysACommandInTheMenuBarAndTheContextMenu)
{
    CMainFrame frame;
    frame.setSelectionCounter([] { return 1; });
    bool hasPrevious = false;
    frame.setEnablingCondition(kCmdViewChanges, [&] { return hasPrevious; });
    const auto contextItemEnabled = [&frame] {
        std::unique_ptr<QMenu> menu(frame.makeContextMenu(1, &frame));
        for (QAction* action : menu->actions())
            if (CommandRouter::commandOf(action) == kCmdViewChanges)
                return action->isEnabled();
        ADD_FAILURE() << "no View Changes item";
        return false;
    };
    EXPECT_FALSE(frame.action(kCmdViewChanges)->isEnabled());
    EXPECT_FALSE(contextItemEnabled());
    hasPrevious = true;
    frame.updateCommandEnabling();
    EXPECT_TRUE(frame.action(kCmdViewChanges)->isEnabled());
    EXPECT_TRUE(contextItemEnabled());
    // The condition never enables a command the selection count greys.
    frame.setSelectionCounter([] { return 2; });
    EXPECT_FALSE(frame.action(kCmdViewChanges)->isEnabled());
    EXPECT_FALSE(frame.commandEnabledNow(kCmdViewChanges, 0));
}

TEST(MainFrame, ActionsRouteToTheirHandlerOrThePlaceholder)
{
    CMainFrame frame;
    frame.show();
    int added = 0;
    frame.commands().setHandler(kCmdAdd, [&] { ++added; });
    frame.setSelectionCounter([] { return 0; });
    frame.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&frame));
    // Ctrl+A from the keyboard, the toolbar button and the context menu reach one handler.
    QTest::keyClick(&frame, Qt::Key_A, Qt::ControlModifier);
    QToolButton* button =
        qobject_cast<QToolButton*>(frame.toolBar()->widgetForAction(frame.action(kCmdAdd)));
    ASSERT_NE(button, nullptr);
    QTest::mouseClick(button, Qt::LeftButton);
    std::unique_ptr<QMenu> menu(frame.makeContextMenu(0, &frame));
    for (QAction* action : menu->actions())
        if (CommandRouter::commandOf(action) == kCmdAdd)
            action->trigger();
    EXPECT_EQ(added, 3);

    // A command nobody has taken yet says so in the status bar.
    frame.action(kCmdOptions)->trigger();
    EXPECT_FALSE(frame.statusBar()->currentMessage().isEmpty());
}

TEST(MainFrame, TrayMenuHoldsActivateCheckAllOptionsExit)
{
    CMainFrame frame;
    frame.setTrayMode(true);
    QStringList texts;
    std::vector<int> ids;
    for (QAction* action : frame.trayMenu()->actions()) {
        texts << (action->isSeparator() ? QString("-") : action->text());
        ids.push_back(CommandRouter::commandOf(action));
    }
    EXPECT_EQ(texts, (QStringList{"Activate", "Check All !", "-", "Options...", "-", "Exit"}));
    EXPECT_EQ(ids, (std::vector<int>{32798, 32800, 0, 32790, 0, 32799}));
    frame.trayMenu()->actions()[0]->trigger(); // Activate
    EXPECT_FALSE(frame.trayMode());
    EXPECT_TRUE(frame.isVisible());
}

TEST(MainFrame, ClosingTheWindowRunsExitNotHide)
{
    CMainFrame frame;
    int exits = 0;
    frame.commands().setHandler(kCmdExit, [&] { ++exits; });
    frame.show();
    frame.close();
    EXPECT_EQ(exits, 1);
}

TEST(MainFrame, MinimisingSetsTrayModeAndRestoringClearsIt)
{
    CMainFrame frame;
    frame.show();
    frame.setWindowState(Qt::WindowMinimized);
    QCoreApplication::processEvents();
    EXPECT_TRUE(frame.trayMode());
    frame.setWindowState(Qt::WindowNoState);
    QCoreApplication::processEvents();
    EXPECT_FALSE(frame.trayMode());
    frame.setWindowState(Qt::WindowMinimized);
    QCoreApplication::processEvents();
    frame.setWindowState(Qt::WindowMaximized);
    QCoreApplication::processEvents();
    EXPECT_FALSE(frame.trayMode());
}

TEST(MainFrame, EveryControlHasAnAccessibleName)
{
    CMainFrame frame;
    frame.show();
    for (QWidget* widget :
         {static_cast<QWidget*>(frame.menuBar()), static_cast<QWidget*>(frame.toolBar()),
          static_cast<QWidget*>(frame.statusBar())})
        EXPECT_FALSE(widget->accessibleName().isEmpty()) << widget->metaObject()->className();
}

TEST(Artwork, StatusImagesDifferAndTheEmptyPhaseIsTransparent)
{
    std::vector<QImage> images;
    for (int image = 0; image < 4; ++image)
        images.push_back(statusIcon(image).pixmap(16).toImage());
    for (size_t a = 0; a < images.size(); ++a)
        for (size_t b = a + 1; b < images.size(); ++b)
            EXPECT_NE(images[a], images[b]) << a << " " << b;
    const QImage empty = emptyTrayIcon().pixmap(16).toImage();
    ASSERT_EQ(empty.size(), QSize(16, 16));
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            ASSERT_EQ(qAlpha(empty.pixel(x, y)), 0);
    // Painted, not scaled: a 2x request has twice the pixels.
    EXPECT_EQ(trayIcon().pixmap(QSize(16, 16), 2.0).size(), QSize(32, 32));
}

} // namespace
} // namespace sentorix
