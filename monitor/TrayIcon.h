// The notification-area icon behind one facade, and the blink cycle that drives it.
//
// TrayHost is what the monitor asks of the desktop: add the icon, change its image (with or
// without the balloon), remove it. SystemTray implements it on QSystemTrayIcon; when the
// desktop has no tray the icon calls do nothing and the balloon becomes a desktop
// notification, so the user still hears of changes. Tests use a recording TrayHost.
#pragma once

#include <QObject>
#include <QString>

#include <memory>

class QMenu;
class QSystemTrayIcon;

namespace sentorix
{
class TimerHost;
}

namespace sentorix::ui
{

// The icon ids the monitor passes: the tray icon and the empty blink phase.
inline constexpr int kTrayIconId = 162;
inline constexpr int kEmptyIconId = 140;

inline constexpr const char* kTrayTip = "Sentorix";
inline constexpr const char* kBalloonTitle = "Sentorix";
inline constexpr const char* kBalloonText = "Document has been changed or unable to retrieve.";
inline constexpr int kBalloonTimeoutMs = 10000;

class TrayHost
{
public:
    virtual ~TrayHost() = default;
    virtual bool available() const = 0;
    virtual void addTrayIcon() = 0;
    virtual void updateTrayIcon(int iconId, bool balloon) = 0;
    virtual void removeTrayIcon() = 0;
};

// One tick of timer 2 at a time; the phase and the balloon counter live here.
class BlinkCycle
{
public:
    BlinkCycle(TrayHost& tray, TimerHost& timers) : m_tray(tray), m_timers(timers) {}

    void tick(int trayMode);
    int phase() const { return m_phase; }
    int counter() const { return m_counter; }

private:
    TrayHost& m_tray;
    TimerHost& m_timers;
    int m_phase = 0;
    int m_counter = 0;
};

class SystemTray final : public QObject, public TrayHost
{
    Q_OBJECT
public:
    // `menu` is the tray popup menu; it stays owned by the caller.
    SystemTray(QMenu* menu, QObject* parent = nullptr);
    ~SystemTray() override;

    bool available() const override;
    void addTrayIcon() override;
    void updateTrayIcon(int iconId, bool balloon) override;
    void removeTrayIcon() override;

    bool visible() const;
    QSystemTrayIcon* icon() const { return m_icon.get(); }

signals:
    // A double click on the icon or a click on its balloon: bring the window back.
    void restoreRequested();
    // The menu is about to be shown (for the enabling of its items).
    void menuAboutToShow();

private:
    void notifyDesktop();

    QMenu* m_menu;
    std::unique_ptr<QSystemTrayIcon> m_icon;
};

} // namespace sentorix::ui
