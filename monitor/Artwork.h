// The monitor's artwork, painted at whatever size and pixel ratio it is asked for, so it is
// crisp on high-density screens: the toolbar images (normal and hot), the four status images
// of the document list, the tray icon (with its empty blink phase) and the application icon.
// Every image has a dark outline and light fills, so it reads on dark and light panels alike.
#pragma once

#include <QIcon>

class QPainter;
class QRectF;

namespace sentorix::ui
{

enum class ToolbarImage { Options, Add, CheckSelected, Open };

// The status images, in the order of the list's image table.
enum StatusImage : int {
    kStatusNormal = 0,
    kStatusBusy = 1,
    kStatusUnavailable = 2,
    kStatusChanged = 3,
};

inline constexpr int kToolbarImageSize = 42;

// Normal mode is the toolbar's normal image, Active mode its hot (mouse-over) image.
QIcon toolbarIcon(ToolbarImage image);
QIcon statusIcon(int image);
// The tray icon (resource 162) and the blink's empty phase (resource 140): a transparent
// image, so the panel keeps the slot but shows nothing.
QIcon trayIcon();
QIcon emptyTrayIcon();
// The main window's and the desktop menu's icon (resource 128).
QIcon appIcon();

// The painters themselves, for the icon files written at build time.
void paintAppIcon(QPainter& painter, const QRectF& box);

} // namespace sentorix::ui
