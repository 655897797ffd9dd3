// The monitor's commands: their ids, and one router that maps each id to its handler.
//
// Every menu item, toolbar button, context-menu item and tray item is a QAction whose
// triggering calls CommandRouter::run(id); the handler registered for the id does the work.
// To add a command, register its handler once:
//     router.setHandler(kCmdOptions, [this] { showOptions(); });
// Ids without a handler run the placeholder (a status-bar message).
#pragma once

#include "monitor/data/DocumentList.h"

#include <QHash>
#include <QString>

#include <functional>

class QAction;
class QObject;

namespace sentorix::ui
{

enum CommandId : int {
    kCmdAdd = 32776,
    kCmdProperties = 32777,
    kCmdCopy = 32778,
    kCmdExit = 32779,
    kCmdSelectAll = 32780,
    kCmdDeselectAll = 32781,
    kCmdDelete = 32782,
    kCmdCheckSelected = 32783,
    kCmdHelpHome = 32784,
    kCmdHelpSupport = 32785,
    kCmdHelpManual = 32786,
    kCmdMarkChecked = 32789,
    kCmdOptions = 32790,
    kCmdOpen = 32791,
    kCmdMarkAllChecked = 32794,
    kCmdTrayActivate = 32798,
    kCmdTrayExit = 32799,
    kCmdCheckAll = 32800,
    kCmdSaveAs = 32805,
    kCmdContentHeader = 32806,
    kCmdComparedData = 32807,
    // What the last change of a document changed (View menu and context menu).
    kCmdViewChanges = 32808,
    // The framework's ids of the toolbar and the status bar, used by View > Toolbar/Status Bar.
    kCmdViewToolbar = 0xE800,
    kCmdViewStatusBar = 0xE801,
};

// The list's name of a command for its enabling table (ListCommand::Add for every command
// that is always enabled), and whether it is enabled with `selected` rows selected: the one
// table for the menu bar, the toolbar and the context menu (DocumentList's).
ListCommand listCommandOf(int id);
bool commandEnabled(int id, int selected);

class CommandRouter
{
public:
    using Handler = std::function<void()>;

    void setHandler(int id, Handler handler);
    bool hasHandler(int id) const { return m_handlers.contains(id); }
    // Runs the handler of `id`, or the placeholder when there is none.
    void run(int id) const;
    void setPlaceholder(std::function<void(int id)> placeholder);

    // A new action that runs `id` when triggered; its command id is kept as the action's data.
    QAction* makeAction(int id, const QString& text, QObject* parent) const;
    static int commandOf(const QAction* action);

private:
    QHash<int, Handler> m_handlers;
    std::function<void(int)> m_placeholder;
};

} // namespace sentorix::ui
