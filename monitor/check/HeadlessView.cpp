#include "monitor/check/HeadlessView.h"

#include <algorithm>
#include <cstdio>

namespace sentorix
{

HeadlessView::HeadlessView(MessageSink sink) : m_sink(std::move(sink)) {}

int HeadlessView::rowOf(int record) const
{
    const auto it = std::find(m_rows.begin(), m_rows.end(), record);
    return it == m_rows.end() ? -1 : static_cast<int>(it - m_rows.begin());
}

void HeadlessView::appendRow(int record)
{
    std::lock_guard lock(m_mutex);
    if (rowOf(record) < 0)
        m_rows.push_back(record);
}

void HeadlessView::removeRecordRow(int record)
{
    std::lock_guard lock(m_mutex);
    const int row = rowOf(record);
    if (row >= 0)
        m_rows.erase(m_rows.begin() + row);
    m_selected.erase(record);
}

void HeadlessView::clearRows()
{
    std::lock_guard lock(m_mutex);
    m_rows.clear();
    m_selected.clear();
}

void HeadlessView::setRowSelected(int row, bool selected)
{
    std::lock_guard lock(m_mutex);
    if (row < 0 || row >= static_cast<int>(m_rows.size()))
        return;
    if (selected)
        m_selected.insert(m_rows[static_cast<std::size_t>(row)]);
    else
        m_selected.erase(m_rows[static_cast<std::size_t>(row)]);
}

void HeadlessView::selectAllRows()
{
    std::lock_guard lock(m_mutex);
    m_selected.insert(m_rows.begin(), m_rows.end());
}

void HeadlessView::clearSelection()
{
    std::lock_guard lock(m_mutex);
    m_selected.clear();
}

std::vector<int> HeadlessView::selectedRecords() const
{
    std::lock_guard lock(m_mutex);
    std::vector<int> records;
    for (int record : m_rows) {
        if (m_selected.count(record))
            records.push_back(record);
    }
    return records;
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

int HeadlessView::rowCount()
{
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_rows.size());
}

bool HeadlessView::isRowSelected(int row)
{
    std::lock_guard lock(m_mutex);
    if (row < 0 || row >= static_cast<int>(m_rows.size()))
        return false;
    return m_selected.count(m_rows[static_cast<std::size_t>(row)]) != 0;
}

int HeadlessView::rowToRecord(int row)
{
    std::lock_guard lock(m_mutex);
    if (row < 0 || row >= static_cast<int>(m_rows.size()))
        return -1;
    return m_rows[static_cast<std::size_t>(row)];
}

int HeadlessView::recordToRow(int record)
{
    std::lock_guard lock(m_mutex);
    return rowOf(record);
}

void HeadlessView::refreshRow(int record, int row, bool insert)
{
    if (!insert)
        return; // nothing is drawn
    std::lock_guard lock(m_mutex);
    if (rowOf(record) >= 0)
        return;
    const auto at = std::clamp(row, 0, static_cast<int>(m_rows.size()));
    m_rows.insert(m_rows.begin() + at, record);
}

void HeadlessView::selectRecordRow(int record)
{
    std::lock_guard lock(m_mutex);
    if (rowOf(record) >= 0)
        m_selected.insert(record);
}

void HeadlessView::startBlink()
{
    std::lock_guard lock(m_mutex);
    ++m_blinks;
}

void HeadlessView::showMessage(const std::string& text, MessageIcon icon)
{
    {
        std::lock_guard lock(m_mutex);
        m_messages.push_back(text);
    }
    if (m_sink)
        m_sink(text, icon);
    else
        std::fprintf(stderr, "%s\n", text.c_str());
}

void HeadlessView::openDocument(int row, bool showMessages)
{
    std::lock_guard lock(m_mutex);
    m_opens.emplace_back(row, showMessages);
}

} // namespace sentorix
