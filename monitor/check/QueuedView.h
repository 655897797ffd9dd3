// A MonitorView that carries every call out on its UI thread, for any front end.
//
// The thread that constructs the view is its UI thread. A call made there runs the matching
// handler at once. A report from another thread is queued, wakeUiThread() is called, and the
// UI thread carries the queue out in order when it calls deliverReports(). A message box from
// another thread is queued the same way and its caller waits until deliverReports() has shown
// it, or until cancelPrompts() gives it its default answer.
//
// A Qt front end derives from it, implements the handlers on its list model and message
// boxes, and implements wakeUiThread() with a queued call of deliverReports() (for example
// QMetaObject::invokeMethod(object, [this] { deliverReports(); }, Qt::QueuedConnection)).
// The view must outlive every engine that reports to it.
#pragma once

#include "monitor/data/MonitorView.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace sentorix
{

class QueuedView : public MonitorView
{
public:
    QueuedView();
    ~QueuedView() override;

    void recordChanged(int record) final;
    void selectRecord(int record) final;
    void startBlink() final;
    void openDocument(int record, bool showMessages) final;
    MessageAnswer showMessage(const std::string& text, MessageIcon icon,
                              MessageButtons buttons = MessageButtons::Ok) final;
    void cancelPrompts() final;

    // UI thread: carries out every queued report and message box, in the order they came.
    // Returns the number carried out.
    int deliverReports();
    bool onUiThread() const { return std::this_thread::get_id() == m_uiThread; }
    // Reports waiting for deliverReports(); any thread.
    int pendingReports() const;

protected:
    // The handlers, called on the UI thread only.
    virtual void onRecordChanged(int record) = 0;
    virtual void onSelectRecord(int record) = 0;
    virtual void onStartBlink() = 0;
    virtual void onOpenDocument(int record, bool showMessages) = 0;
    virtual MessageAnswer onMessage(const std::string& text, MessageIcon icon,
                                    MessageButtons buttons) = 0;
    // Any thread, after something was queued: have the UI thread call deliverReports() soon.
    // The default does nothing (a UI thread that polls).
    virtual void wakeUiThread() {}

private:
    struct Prompt;
    struct Report {
        enum class Kind { RecordChanged, SelectRecord, StartBlink, OpenDocument, Message };
        Kind kind = Kind::StartBlink;
        int record = -1;
        bool flag = false;
        std::shared_ptr<Prompt> prompt;
    };
    void post(Report report);

    std::thread::id m_uiThread;
    mutable std::mutex m_mutex;
    std::condition_variable m_answered;
    std::deque<Report> m_queue;
    bool m_cancelled = false;
};

} // namespace sentorix
