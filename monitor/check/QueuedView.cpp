#include "monitor/check/QueuedView.h"

#include <optional>

namespace sentorix
{

struct QueuedView::Prompt {
    std::string text;
    MessageIcon icon;
    MessageButtons buttons;
    std::optional<MessageAnswer> answer; // under m_mutex
};

QueuedView::QueuedView() : m_uiThread(std::this_thread::get_id()) {}

QueuedView::~QueuedView()
{
    // A worker still waiting here would outlive the view; release it first.
    cancelPrompts();
}

void QueuedView::post(Report report)
{
    {
        std::lock_guard lock(m_mutex);
        m_queue.push_back(std::move(report));
    }
    wakeUiThread();
}

void QueuedView::recordChanged(int record)
{
    if (onUiThread())
        onRecordChanged(record);
    else
        post({Report::Kind::RecordChanged, record, false, nullptr});
}

void QueuedView::selectRecord(int record)
{
    if (onUiThread())
        onSelectRecord(record);
    else
        post({Report::Kind::SelectRecord, record, false, nullptr});
}

void QueuedView::startBlink()
{
    if (onUiThread())
        onStartBlink();
    else
        post({Report::Kind::StartBlink, -1, false, nullptr});
}

void QueuedView::openDocument(int record, bool showMessages)
{
    if (onUiThread())
        onOpenDocument(record, showMessages);
    else
        post({Report::Kind::OpenDocument, record, showMessages, nullptr});
}

MessageAnswer QueuedView::showMessage(const std::string& text, MessageIcon icon,
                                      MessageButtons buttons)
{
    if (onUiThread())
        return onMessage(text, icon, buttons);
    auto prompt = std::make_shared<Prompt>(Prompt{text, icon, buttons, std::nullopt});
    {
        std::lock_guard lock(m_mutex);
        if (m_cancelled)
            return defaultAnswer(buttons);
        m_queue.push_back({Report::Kind::Message, -1, false, prompt});
    }
    wakeUiThread();
    std::unique_lock lock(m_mutex);
    m_answered.wait(lock, [&] { return prompt->answer.has_value(); });
    return *prompt->answer;
}

void QueuedView::cancelPrompts()
{
    std::lock_guard lock(m_mutex);
    m_cancelled = true;
    for (Report& report : m_queue) {
        if (report.prompt && !report.prompt->answer)
            report.prompt->answer = defaultAnswer(report.prompt->buttons);
    }
    m_answered.notify_all();
}

int QueuedView::pendingReports() const
{
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_queue.size());
}

int QueuedView::deliverReports()
{
    int delivered = 0;
    for (;;) {
        Report report;
        {
            std::lock_guard lock(m_mutex);
            if (m_queue.empty())
                return delivered;
            report = std::move(m_queue.front());
            m_queue.pop_front();
        }
        ++delivered;
        switch (report.kind) {
        case Report::Kind::RecordChanged:
            onRecordChanged(report.record);
            break;
        case Report::Kind::SelectRecord:
            onSelectRecord(report.record);
            break;
        case Report::Kind::StartBlink:
            onStartBlink();
            break;
        case Report::Kind::OpenDocument:
            onOpenDocument(report.record, report.flag);
            break;
        case Report::Kind::Message: {
            {
                std::lock_guard lock(m_mutex);
                if (report.prompt->answer)
                    break; // cancelled while it waited
            }
            const MessageAnswer answer =
                onMessage(report.prompt->text, report.prompt->icon, report.prompt->buttons);
            std::lock_guard lock(m_mutex);
            if (!report.prompt->answer)
                report.prompt->answer = answer;
            m_answered.notify_all();
            break;
        }
        }
    }
}

} // namespace sentorix
