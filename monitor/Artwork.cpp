#include "monitor/Artwork.h"

#include <QIconEngine>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <cmath>
#include <functional>
#include <numbers>
#include <utility>

namespace sentorix::ui
{
namespace
{

// Every image is drawn in a 100 x 100 unit box that the painter scales to the target.
using Paint = std::function<void(QPainter&, bool hot)>;

const QColor kOutline(28, 32, 44);
const QColor kPaper(252, 252, 248);
const QColor kPaperShade(214, 220, 230);
const QColor kTextLine(120, 130, 150);

QPen outlinePen(qreal width)
{
    QPen pen(kOutline, width);
    pen.setJoinStyle(Qt::RoundJoin);
    pen.setCapStyle(Qt::RoundCap);
    return pen;
}

QColor lit(const QColor& colour, bool hot)
{
    return hot ? colour.lighter(125) : colour;
}

// A sheet of paper with a folded top-right corner and three lines of text.
void drawPage(QPainter& p, const QRectF& r, qreal stroke)
{
    const qreal fold = r.width() * 0.32;
    QPainterPath sheet;
    sheet.moveTo(r.left(), r.top());
    sheet.lineTo(r.right() - fold, r.top());
    sheet.lineTo(r.right(), r.top() + fold);
    sheet.lineTo(r.right(), r.bottom());
    sheet.lineTo(r.left(), r.bottom());
    sheet.closeSubpath();
    p.setPen(outlinePen(stroke));
    p.setBrush(kPaper);
    p.drawPath(sheet);

    QPainterPath corner;
    corner.moveTo(r.right() - fold, r.top());
    corner.lineTo(r.right() - fold, r.top() + fold);
    corner.lineTo(r.right(), r.top() + fold);
    corner.closeSubpath();
    p.setBrush(kPaperShade);
    p.drawPath(corner);

    p.setPen(QPen(kTextLine, stroke * 0.9, Qt::SolidLine, Qt::RoundCap));
    const qreal left = r.left() + r.width() * 0.18;
    for (int line = 0; line < 3; ++line) {
        const qreal y = r.top() + r.height() * (0.42 + 0.16 * line);
        const qreal right = r.right() - r.width() * (line == 2 ? 0.45 : 0.18);
        p.drawLine(QPointF(left, y), QPointF(right, y));
    }
}

// A round badge with an outline, on which a symbol is drawn in white.
void drawBadge(QPainter& p, const QPointF& centre, qreal radius, const QColor& fill, qreal stroke)
{
    QRadialGradient shade(centre - QPointF(radius * 0.35, radius * 0.35), radius * 1.4);
    shade.setColorAt(0, fill.lighter(130));
    shade.setColorAt(1, fill.darker(115));
    p.setPen(outlinePen(stroke));
    p.setBrush(shade);
    p.drawEllipse(centre, radius, radius);
}

QPen symbolPen(qreal width)
{
    QPen pen(Qt::white, width);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    return pen;
}

void drawCheckMark(QPainter& p, const QPointF& c, qreal r, qreal width)
{
    p.setPen(symbolPen(width));
    p.setBrush(Qt::NoBrush);
    QPainterPath tick;
    tick.moveTo(c + QPointF(-0.5 * r, 0.02 * r));
    tick.lineTo(c + QPointF(-0.12 * r, 0.4 * r));
    tick.lineTo(c + QPointF(0.52 * r, -0.38 * r));
    p.drawPath(tick);
}

void drawCross(QPainter& p, const QPointF& c, qreal r, qreal width)
{
    p.setPen(symbolPen(width));
    const qreal d = 0.4 * r;
    p.drawLine(c + QPointF(-d, -d), c + QPointF(d, d));
    p.drawLine(c + QPointF(-d, d), c + QPointF(d, -d));
}

void drawPlus(QPainter& p, const QPointF& c, qreal r, qreal width)
{
    p.setPen(symbolPen(width));
    const qreal d = 0.5 * r;
    p.drawLine(c + QPointF(-d, 0), c + QPointF(d, 0));
    p.drawLine(c + QPointF(0, -d), c + QPointF(0, d));
}

void drawExclamation(QPainter& p, const QPointF& c, qreal r, qreal width)
{
    p.setPen(symbolPen(width));
    p.drawLine(c + QPointF(0, -0.5 * r), c + QPointF(0, 0.12 * r));
    p.drawPoint(c + QPointF(0, 0.5 * r));
}

void drawClockHands(QPainter& p, const QPointF& c, qreal r, qreal width)
{
    p.setPen(symbolPen(width));
    p.drawLine(c, c + QPointF(0, -0.55 * r));
    p.drawLine(c, c + QPointF(0.42 * r, 0.18 * r));
}

// Two arrows chasing each other round a circle: "check again".
void drawCircularArrows(QPainter& p, const QPointF& c, qreal r, qreal width)
{
    p.setPen(symbolPen(width));
    p.setBrush(Qt::NoBrush);
    const qreal a = 0.55 * r;
    const QRectF ring(c.x() - a, c.y() - a, 2 * a, 2 * a);
    p.drawArc(ring, 30 * 16, 120 * 16);
    p.drawArc(ring, 210 * 16, 120 * 16);
    const auto head = [&](qreal degrees) {
        const qreal rad = degrees * std::numbers::pi / 180.0;
        const QPointF tip(c.x() + a * std::cos(rad), c.y() - a * std::sin(rad));
        p.setBrush(Qt::white);
        p.setPen(symbolPen(width * 0.5));
        const QPointF along(-std::sin(rad), -std::cos(rad)); // clockwise tangent
        const QPointF out(std::cos(rad), -std::sin(rad));
        const qreal s = 0.32 * r;
        QPolygonF arrow{tip + along * s, tip + out * s * 0.8, tip - out * s * 0.8};
        p.drawPolygon(arrow);
        p.setPen(symbolPen(width));
        p.setBrush(Qt::NoBrush);
    };
    head(30);
    head(210);
}

void drawOutArrow(QPainter& p, const QPointF& c, qreal r, qreal width)
{
    p.setPen(symbolPen(width));
    p.setBrush(Qt::NoBrush);
    const qreal d = 0.42 * r;
    p.drawLine(c + QPointF(-d, d), c + QPointF(d, -d));
    p.drawLine(c + QPointF(d, -d), c + QPointF(-0.05 * r, -d));
    p.drawLine(c + QPointF(d, -d), c + QPointF(d, 0.05 * r));
}

void drawGear(QPainter& p, bool hot)
{
    const QPointF c(50, 50);
    QPainterPath teeth;
    const int count = 8;
    for (int i = 0; i < count; ++i) {
        const qreal rad = (360.0 / count * i) * std::numbers::pi / 180.0;
        const QPointF dir(std::cos(rad), std::sin(rad));
        const QPointF side(-dir.y(), dir.x());
        QPolygonF tooth{c + dir * 30 + side * 8, c + dir * 44 + side * 6, c + dir * 44 - side * 6,
                        c + dir * 30 - side * 8};
        teeth.addPolygon(tooth);
        teeth.closeSubpath();
    }
    teeth.addEllipse(c, 33, 33);
    teeth = teeth.simplified();
    QPainterPath hole;
    hole.addEllipse(c, 13, 13);
    const QColor steel = lit(QColor(96, 118, 150), hot);
    QLinearGradient shade(0, 6, 0, 94);
    shade.setColorAt(0, steel.lighter(135));
    shade.setColorAt(1, steel.darker(120));
    p.setPen(outlinePen(4));
    p.setBrush(shade);
    p.drawPath(teeth.subtracted(hole));
}

// The soft glow behind a hot toolbar image.
void drawHotGlow(QPainter& p)
{
    QRadialGradient glow(QPointF(50, 50), 52);
    glow.setColorAt(0, QColor(255, 236, 150, 170));
    glow.setColorAt(1, QColor(255, 236, 150, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(glow);
    p.drawEllipse(QPointF(50, 50), 50, 50);
}

void drawToolbar(QPainter& p, ToolbarImage image, bool hot)
{
    if (hot)
        drawHotGlow(p);
    if (image == ToolbarImage::Options) {
        drawGear(p, hot);
        return;
    }
    drawPage(p, QRectF(14, 6, 56, 76), 4);
    const QPointF centre(68, 70);
    const qreal radius = 24;
    switch (image) {
    case ToolbarImage::Add:
        drawBadge(p, centre, radius, lit(QColor(40, 160, 70), hot), 4);
        drawPlus(p, centre, radius, 8);
        break;
    case ToolbarImage::CheckSelected:
        drawBadge(p, centre, radius, lit(QColor(40, 110, 200), hot), 4);
        drawCircularArrows(p, centre, radius, 6);
        break;
    case ToolbarImage::Open:
        drawBadge(p, centre, radius, lit(QColor(230, 130, 20), hot), 4);
        drawOutArrow(p, centre, radius, 7);
        break;
    case ToolbarImage::Options:
        break;
    }
}

void drawStatus(QPainter& p, int image)
{
    const QPointF c(50, 50);
    const qreal r = 42;
    switch (image) {
    case kStatusBusy:
        drawBadge(p, c, r, QColor(50, 120, 210), 7);
        drawClockHands(p, c, r, 13);
        break;
    case kStatusUnavailable:
        drawBadge(p, c, r, QColor(205, 40, 40), 7);
        drawCross(p, c, r, 15);
        break;
    case kStatusChanged:
        drawBadge(p, c, r, QColor(240, 150, 0), 7);
        drawExclamation(p, c, r, 16);
        break;
    default:
        drawBadge(p, c, r, QColor(40, 160, 70), 7);
        drawCheckMark(p, c, r, 14);
        break;
    }
}

// The tray icon: a blue tile (with a light rim for dark panels) holding a page and an eye.
void drawTray(QPainter& p)
{
    const QRectF tile(5, 5, 90, 90);
    QLinearGradient shade(0, 5, 0, 95);
    shade.setColorAt(0, QColor(58, 120, 210));
    shade.setColorAt(1, QColor(24, 62, 130));
    p.setPen(QPen(QColor(235, 240, 250), 5));
    p.setBrush(shade);
    p.drawRoundedRect(tile, 20, 20);
    p.setPen(outlinePen(6));
    p.setBrush(kPaper);
    const QRectF eye(16, 30, 68, 40);
    QPainterPath lid;
    lid.moveTo(eye.left(), eye.center().y());
    lid.quadTo(QPointF(eye.center().x(), eye.top() - 14), QPointF(eye.right(), eye.center().y()));
    lid.quadTo(QPointF(eye.center().x(), eye.bottom() + 14), QPointF(eye.left(), eye.center().y()));
    p.drawPath(lid);
    p.setBrush(QColor(240, 150, 0));
    p.drawEllipse(eye.center(), 14, 14);
    p.setPen(Qt::NoPen);
    p.setBrush(kOutline);
    p.drawEllipse(eye.center(), 6, 6);
}

class PaintedIconEngine final : public QIconEngine
{
public:
    explicit PaintedIconEngine(Paint paint) : m_paint(std::move(paint)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override
    {
        painter->drawPixmap(rect, pixmap(rect.size(), mode, state));
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State) override
    {
        QImage image(size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter p(&image);
            p.setRenderHint(QPainter::Antialiasing);
            p.scale(size.width() / 100.0, size.height() / 100.0);
            m_paint(p, mode == QIcon::Active || mode == QIcon::Selected);
        }
        if (mode == QIcon::Disabled)
            image = greyed(image);
        return QPixmap::fromImage(image);
    }

    QIconEngine* clone() const override { return new PaintedIconEngine(m_paint); }

private:
    static QImage greyed(const QImage& source)
    {
        QImage out = source.convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < out.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
            for (int x = 0; x < out.width(); ++x) {
                const int grey = qGray(line[x]);
                line[x] = qRgba(grey, grey, grey, qAlpha(line[x]) / 2);
            }
        }
        return out;
    }

    Paint m_paint;
};

QIcon painted(Paint paint)
{
    return QIcon(new PaintedIconEngine(std::move(paint)));
}

} // namespace

QIcon toolbarIcon(ToolbarImage image)
{
    return painted([image](QPainter& p, bool hot) { drawToolbar(p, image, hot); });
}

QIcon statusIcon(int image)
{
    return painted([image](QPainter& p, bool) { drawStatus(p, image); });
}

QIcon trayIcon()
{
    return painted([](QPainter& p, bool) { drawTray(p); });
}

QIcon emptyTrayIcon()
{
    return painted([](QPainter&, bool) {});
}

QIcon appIcon()
{
    return trayIcon();
}

void paintAppIcon(QPainter& painter, const QRectF& box)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(box.topLeft());
    painter.scale(box.width() / 100.0, box.height() / 100.0);
    drawTray(painter);
    painter.restore();
}

} // namespace sentorix::ui
