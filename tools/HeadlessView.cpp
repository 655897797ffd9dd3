#include "HeadlessView.h"

#include "monitor/data/DocumentList.h"

#include <cstdio>

namespace sentorix
{

HeadlessView::HeadlessView(MessageSink sink) : m_sink(std::move(sink)) {}

void HeadlessView::setNextAnswer(MessageAnswer answer)
{
    std::lock_guard lock(m_mutex);
    m_answers.push_back(answer);
}

int HeadlessView::redraws(int record) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_redraws.find(record);
    return it == m_redraws.end() ? 0 : it->second;
}

int HeadlessView::blinkRequests() const
{
    std::lock_guard lock(m_mutex);
    return m_blinks;
}

std::vector<std::pair<int, bool>> HeadlessView::openRequests() const
{
    std::lock_guard lock(m_mutex);
    return m_opens;
}

std::vector<std::string> HeadlessView::messages() const
{
    std::lock_guard lock(m_mutex);
    return m_messages;
}

void HeadlessView::onRecordChanged(int record)
{
    std::lock_guard lock(m_mutex);
    ++m_redraws[record];
}

void HeadlessView::onSelectRecord(int record)
{
    if (m_list)
        m_list->selectRecord(record);
}

void HeadlessView::onStartBlink()
{
    std::lock_guard lock(m_mutex);
    ++m_blinks;
}

void HeadlessView::onOpenDocument(int record, bool showMessages)
{
    std::lock_guard lock(m_mutex);
    m_opens.emplace_back(record, showMessages);
}

MessageAnswer HeadlessView::onMessage(const std::string& text, MessageIcon icon,
                                      MessageButtons buttons)
{
    MessageAnswer answer = defaultAnswer(buttons);
    {
        std::lock_guard lock(m_mutex);
        m_messages.push_back(text);
        if (!m_answers.empty()) {
            answer = m_answers.front();
            m_answers.pop_front();
        }
    }
    if (m_sink)
        m_sink(text, icon);
    else
        std::fprintf(stderr, "%s\n", text.c_str());
    return answer;
}

} // namespace sentorix
