// Handing a web address or a file to the desktop, which opens it in the user's browser or in
// the program registered for its type. No command line is ever built from the text.
#pragma once

#include <QString>
#include <QUrl>

#include <vector>

namespace sentorix
{
struct OpenTarget;
}

namespace sentorix::ui
{

class DesktopOpen
{
public:
    // Opens a web address. Any login in it is removed first: an address handed to another
    // program may be read by every local user and lands in the browser's history, so the
    // browser asks for the login itself. The result of the open is not reported.
    static void openWebAddress(const QString& address);
    // Opens a local file with the program registered for its type.
    static void openFile(const QString& path);
    // Opens what the Open command prepared: a page's address (without its login) in the
    // browser, or a document's viewing copy.
    static void openTarget(const OpenTarget& target);

    // Test seam: while recording, nothing is opened; the URLs are kept instead.
    static void setRecording(bool on);
    static const std::vector<QUrl>& opened();
    static void clearOpened();

    // The URL openWebAddress hands out: tolerant parsing, the user name and password removed.
    static QUrl webUrlWithoutLogin(const QString& address);

private:
    static void open(const QUrl& url);
    static bool s_recording;
    static std::vector<QUrl> s_opened;
};

} // namespace sentorix::ui
