#include "mailer/RelvexDlg.h"

#include <QCoreApplication>
#include <QFontMetrics>
#include <QIcon>
#include <QPushButton>
#include <QScrollBar>
#include <QShowEvent>
#include <QTimerEvent>

#include <cstdio>

// Resources are compiled into the mailer's library; Q_INIT_RESOURCE must be used outside any
// namespace.
static void initPostavoResources()
{
    Q_INIT_RESOURCE(postavo);
}

namespace sentorix
{

namespace
{

// The window whose list takes the log lines; set while a CRelvexDlg exists.
CRelvexDlg* g_logWindow = nullptr;
bool g_logEcho = false;

} // namespace

CLogList::CLogList(QWidget* parent) : QListWidget(parent)
{
    setSelectionMode(QAbstractItemView::NoSelection);
    setFocusPolicy(Qt::NoFocus);
    setSortingEnabled(false);
    setWordWrap(false);
    setTextElideMode(Qt::ElideNone);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    // The extent is wider than the list, so both bars are always there; bars that come and
    // go would resize the viewport and lay the items out again on every change.
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
}

void CLogList::setHorizontalExtent(int pixels)
{
    m_extent = pixels;
    updateGeometries();
}

void CLogList::updateGeometries()
{
    QListWidget::updateGeometries();
    // The lines' own width sets the range; the extent widens it when the lines are shorter.
    if (m_updating)
        return;
    m_updating = true;
    QScrollBar* bar = horizontalScrollBar();
    const int byExtent = m_extent - viewport()->width();
    if (byExtent > bar->maximum())
        bar->setRange(0, byExtent);
    m_updating = false;
}

CRelvexDlg::CRelvexDlg(Run run, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_run(std::move(run))
{
    initPostavoResources();
    setWindowTitle(QStringLiteral("Postavo - Tarnwick Lab"));
    setWindowIcon(QIcon(QStringLiteral(":/postavo/postavo.png")));

    m_logList = new CLogList(this);
    m_logList->setObjectName(QStringLiteral("logList"));
    m_logList->setGeometry(dialogUnitsRect(7, 7, 278, 140));
    m_logList->setHorizontalExtent(kHorizontalExtent);

    m_closeButton = new QPushButton(QStringLiteral("Close"), this);
    m_closeButton->setObjectName(QStringLiteral("closeButton"));
    m_closeButton->setGeometry(dialogUnitsRect(235, 152, 50, 14));
    m_closeButton->setDefault(true);
    connect(m_closeButton, &QPushButton::clicked, this, &QDialog::reject);

    const QRect client = dialogUnitsRect(0, 0, 292, 173);
    setFixedSize(client.size());

    g_logWindow = this;
}

CRelvexDlg::~CRelvexDlg()
{
    if (g_logWindow == this)
        g_logWindow = nullptr;
}

// Dialog units as the layout was drawn: a horizontal unit is a quarter of the font's average
// character width, a vertical unit an eighth of its height.
QRect CRelvexDlg::dialogUnitsRect(int x, int y, int width, int height) const
{
    const QFontMetrics metrics(font());
    const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const int baseX = (metrics.horizontalAdvance(letters) / 26 + 1) / 2;
    const int baseY = metrics.height();
    auto hx = [baseX](int units) { return units * baseX / 4; };
    auto vy = [baseY](int units) { return units * baseY / 8; };
    return QRect(hx(x), vy(y), hx(width), vy(height));
}

void CRelvexDlg::addLine(const std::string& text)
{
    m_logList->addItem(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

void CRelvexDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!m_timerArmed) {
        m_timerArmed = true;
        m_runTimer.start(kRunDelayMs, this);
    }
}

void CRelvexDlg::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != m_runTimer.timerId()) {
        QDialog::timerEvent(event);
        return;
    }
    m_runTimer.stop();
    m_runStarted = true;
    if (m_run)
        m_run(*this);
    m_runFinished = true;
}

void appendLogLine(const std::string& text)
{
    if (g_logEcho) {
        std::fwrite(text.data(), 1, text.size(), stderr);
        std::fputc('\n', stderr);
        std::fflush(stderr);
    }
    if (g_logWindow == nullptr)
        return;
    g_logWindow->addLine(text);
    // Window events (painting, the Close button) are handled here, between the run's steps.
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void setLogEcho(bool on)
{
    g_logEcho = on;
}

} // namespace sentorix
