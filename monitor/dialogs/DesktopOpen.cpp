#include "monitor/dialogs/DesktopOpen.h"

#include "monitor/data/DocumentCommands.h"

#include <QDesktopServices>

namespace sentorix::ui
{

bool DesktopOpen::s_recording = false;
std::vector<QUrl> DesktopOpen::s_opened;

QUrl DesktopOpen::webUrlWithoutLogin(const QString& address)
{
    QUrl url(address, QUrl::TolerantMode);
    url.setUserInfo(QString());
    return url;
}

void DesktopOpen::openWebAddress(const QString& address)
{
    open(webUrlWithoutLogin(address));
}

void DesktopOpen::openFile(const QString& path)
{
    open(QUrl::fromLocalFile(path));
}

void DesktopOpen::openTarget(const OpenTarget& target)
{
    const QString text = QString::fromStdString(target.text);
    if (target.kind == OpenTarget::Kind::File)
        openFile(text);
    else
        openWebAddress(text);
}

void DesktopOpen::open(const QUrl& url)
{
    if (s_recording) {
        s_opened.push_back(url);
        return;
    }
    QDesktopServices::openUrl(url);
}

void DesktopOpen::setRecording(bool on)
{
    s_recording = on;
}

const std::vector<QUrl>& DesktopOpen::opened()
{
    return s_opened;
}

void DesktopOpen::clearOpened()
{
    s_opened.clear();
}

} // namespace sentorix::ui
