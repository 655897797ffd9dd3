// The main window: menu bar, toolbar, one-pane status bar and the document list as its
// client; the tray icon and its popup menu beside it; minimising to the tray and the exit
// sequence on close.
#pragma once

#include "monitor/Commands.h"

#include <QMainWindow>

#include <functional>
#include <map>

class QLabel;
class QMenu;
class QToolBar;

namespace sentorix
{

namespace ui
{
class SystemTray;
}

inline constexpr const char* kMainWindowTitle = "Sentorix - Tarnwick Lab";
inline constexpr const char* kReadyText = "Ready";
// The product's web site; the three Help commands open pages under it.
inline constexpr const char* kSiteHost = "https://www.tarnwick-lab.example";
inline constexpr const char* kHomePath = "/sentorix/";
inline constexpr const char* kManualPath = "/sentorix/manual/";
inline constexpr const char* kSupportPath = "/support.html";

class CMainFrame final : public QMainWindow
{
    Q_OBJECT
public:
    explicit CMainFrame(QWidget* parent = nullptr);
    ~CMainFrame() override;

    ui::CommandRouter& commands() { return m_router; }

    // trayMode: true while the window is hidden in the tray and the user has not come back.
    // The flag is the engine's; until it is connected the window keeps its own.
    void setTrayModeAccess(std::function<bool()> get, std::function<void(bool)> set);
    bool trayMode() const { return m_getTrayMode ? m_getTrayMode() : m_ownTrayMode; }
    void setTrayMode(bool inTray);
    // The menu bar's (and toolbar's) action of a command; nullptr for an unknown id.
    QAction* action(int id) const;
    QToolBar* toolBar() const { return m_toolBar; }
    QMenu* trayMenu() const { return m_trayMenu; }
    ui::SystemTray* tray() const { return m_tray; }

    // The number of selected rows, asked whenever commands are enabled.
    void setSelectionCounter(std::function<int()> counter);
    // A further condition of a command beyond the number of selected rows (View Changes: the
    // selected document has a previous version), asked whenever commands are enabled.
    void setEnablingCondition(int id, std::function<bool()> condition);
    bool commandEnabledNow(int id, int selected) const;
    // Enables the menu-bar items and toolbar buttons from the number of selected rows.
    void updateCommandEnabling();
    // The context menu of the document list (menu 137), enabled for `selected` rows.
    QMenu* makeContextMenu(int selected, QWidget* parent);

    // The status pane's resting text: "Ready", or what the list says about its selection.
    void setIdleStatus(const QString& text);
    QString idleStatus() const;

    // Shows the window restored and in front (bringToFront).
    void bringToFront();
    // Restores from the tray: in front, and trayMode 0.
    void restoreFromTray();
    // Minimises; with a tray the window is hidden there and trayMode becomes 1.
    void minimizeToTray();

    static QString helpUrl(int id);

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildMenus();
    void buildToolBar();
    void buildTray();
    QAction* addCommand(QMenu* menu, int id, const QString& text, const QString& shortcut,
                        const QString& prompt);

    std::function<bool()> m_getTrayMode;
    std::function<void(bool)> m_setTrayMode;
    bool m_ownTrayMode = false;
    ui::CommandRouter m_router;
    std::map<int, QAction*> m_actions;
    std::function<int()> m_selected;
    std::map<int, std::function<bool()>> m_conditions;
    bool m_keepTrayMode = false;
    QToolBar* m_toolBar = nullptr;
    QLabel* m_status = nullptr;
    QMenu* m_trayMenu = nullptr;
    ui::SystemTray* m_tray = nullptr;
};

} // namespace sentorix
