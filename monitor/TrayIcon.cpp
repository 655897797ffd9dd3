#include "monitor/TrayIcon.h"

#include "monitor/Artwork.h"
#include "monitor/check/TimerHost.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QVariantMap>

namespace sentorix::ui
{

void BlinkCycle::tick(int trayMode)
{
    if (trayMode == 0) {
        m_timers.stopTimer(kBlinkTimer);
        m_tray.updateTrayIcon(kTrayIconId, false);
        m_counter = 0;
        return;
    }
    if (m_phase == 0) {
        m_tray.updateTrayIcon(kEmptyIconId, false);
    } else if (m_counter == 0) {
        m_tray.updateTrayIcon(kTrayIconId, true);
        ++m_counter;
    } else if (m_counter <= 25) {
        m_tray.updateTrayIcon(kTrayIconId, false);
        ++m_counter;
    } else {
        m_tray.removeTrayIcon();
        m_tray.addTrayIcon();
        m_counter = 0;
    }
    m_phase = m_phase == 0 ? 1 : 0;
}

SystemTray::SystemTray(QMenu* menu, QObject* parent) : QObject(parent), m_menu(menu)
{
    m_icon = std::make_unique<QSystemTrayIcon>(trayIcon());
    m_icon->setToolTip(QString::fromLatin1(kTrayTip));
    if (m_menu) {
        m_icon->setContextMenu(m_menu);
        connect(m_menu, &QMenu::aboutToShow, this, &SystemTray::menuAboutToShow);
    }
    connect(m_icon.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::DoubleClick)
                    emit restoreRequested();
            });
    connect(m_icon.get(), &QSystemTrayIcon::messageClicked, this, &SystemTray::restoreRequested);
}

SystemTray::~SystemTray() = default;

bool SystemTray::available() const
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

bool SystemTray::visible() const
{
    return m_icon->isVisible();
}

void SystemTray::addTrayIcon()
{
    m_icon->setIcon(trayIcon());
    if (available())
        m_icon->show();
}

void SystemTray::updateTrayIcon(int iconId, bool balloon)
{
    m_icon->setIcon(iconId == kTrayIconId ? trayIcon() : emptyTrayIcon());
    if (!balloon)
        return;
    if (available() && m_icon->isVisible())
        m_icon->showMessage(QString::fromLatin1(kBalloonTitle), QString::fromLatin1(kBalloonText),
                            QSystemTrayIcon::Information, kBalloonTimeoutMs);
    else
        notifyDesktop();
}

void SystemTray::removeTrayIcon()
{
    m_icon->hide();
}

// Without a tray the balloon goes to the desktop's notification service; the call is sent
// without waiting for a reply, and nothing happens when there is no such service.
void SystemTray::notifyDesktop()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    call << QStringLiteral("Sentorix") << 0u << QStringLiteral("sentorix")
         << QString::fromLatin1(kBalloonTitle) << QString::fromLatin1(kBalloonText) << QStringList()
         << QVariantMap() << kBalloonTimeoutMs;
    bus.send(call);
}

} // namespace sentorix::ui
