// The mailer's log window: a list of the run's steps and a "Close" button. The run starts
// from a timer half a second after the window is shown, so the window is drawn first, and
// every log line lets waiting window events through, so the window stays responsive while
// the run goes on in the same thread.
#pragma once

#include <QBasicTimer>
#include <QDialog>
#include <QListWidget>

#include <functional>
#include <string>

class QPushButton;

namespace sentorix
{

// The log list. Besides the width of its longest line it can be scrolled sideways over a
// fixed horizontal extent, so that long lines can always be read to their end.
class CLogList : public QListWidget
{
    Q_OBJECT
public:
    explicit CLogList(QWidget* parent = nullptr);

    void setHorizontalExtent(int pixels);
    int horizontalExtent() const { return m_extent; }

protected:
    void updateGeometries() override;

private:
    int m_extent = 0;
    bool m_updating = false;
};

class CRelvexDlg : public QDialog
{
    Q_OBJECT
public:
    // The run is called once, from the window's timer, with the window itself.
    using Run = std::function<void(CRelvexDlg&)>;

    static constexpr int kRunDelayMs = 500;
    static constexpr int kHorizontalExtent = 1024;

    explicit CRelvexDlg(Run run, QWidget* parent = nullptr);
    ~CRelvexDlg() override;

    // Adds `text` as the new last line of the log list.
    void addLine(const std::string& text);

    CLogList* logList() const { return m_logList; }
    QPushButton* closeButton() const { return m_closeButton; }

    // Whether the run has been started (and, once it returned, finished).
    bool runStarted() const { return m_runStarted; }
    bool runFinished() const { return m_runFinished; }

protected:
    void showEvent(QShowEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    QRect dialogUnitsRect(int x, int y, int width, int height) const;

    Run m_run;
    CLogList* m_logList = nullptr;
    QPushButton* m_closeButton = nullptr;
    QBasicTimer m_runTimer;
    bool m_timerArmed = false;
    bool m_runStarted = false;
    bool m_runFinished = false;
};

// Adds a line to the log window of this process, if there is one, then dispatches the window
// events that are waiting. With the echo on, the line goes to standard error as well (also
// when no window exists).
void appendLogLine(const std::string& text);

// Headless runs echo every log line to standard error.
void setLogEcho(bool on);

} // namespace sentorix
