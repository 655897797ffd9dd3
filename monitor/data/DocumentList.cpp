#include "monitor/data/DocumentList.h"

#include "common/FixedText.h"
#include "monitor/data/DocumentTable.h"

#include <utility>

namespace sentorix
{

bool isCommandEnabled(ListCommand command, int selectedRows)
{
    switch (command) {
    case ListCommand::Open:
    case ListCommand::CheckSelected:
    case ListCommand::Delete:
    case ListCommand::MarkChecked:
        return selectedRows >= 1;
    case ListCommand::Copy:
    case ListCommand::Properties:
    case ListCommand::SaveAs:
    case ListCommand::ContentHeader:
    case ListCommand::ComparedData:
        return selectedRows == 1;
    case ListCommand::Add:
        return true;
    }
    return true;
}

DocumentList::DocumentList(const DocumentTable& table) : m_table(table) {}

int DocumentList::rowToRecord(int row) const
{
    if (row < 0 || row >= rowCount())
        return -1;
    const int record = m_rows[static_cast<std::size_t>(row)].record;
    return m_table.isUsed(record) ? record : -1;
}

int DocumentList::recordToRow(int record) const
{
    const auto slots = static_cast<std::size_t>(m_table.capacity());
    if (record < 0 || static_cast<std::size_t>(record) >= slots) {
        // Not a slot of the table: no index entry, looked for row by row.
        for (std::size_t row = 0; row < m_rows.size(); ++row) {
            if (m_rows[row].record == record)
                return static_cast<int>(row);
        }
        return -1;
    }
    if (!m_rowOfValid) {
        m_rowOf.assign(slots, -1);
        // Back to front, so a record listed twice finds its first row, as a search would.
        for (std::size_t row = m_rows.size(); row-- > 0;) {
            const int r = m_rows[row].record;
            if (r >= 0 && static_cast<std::size_t>(r) < slots)
                m_rowOf[static_cast<std::size_t>(r)] = static_cast<int>(row);
        }
        m_rowOfValid = true;
    }
    return m_rowOf[static_cast<std::size_t>(record)];
}

int DocumentList::insertRow(int record, int row)
{
    if (const int existing = recordToRow(record); existing >= 0)
        return existing;
    if (row < 0 || row > rowCount())
        row = rowCount();
    if (m_listener)
        m_listener->rowAboutToBeInserted(row);
    const bool appended = row == rowCount();
    m_rows.insert(m_rows.begin() + row, Row{record, false});
    if (appended && m_rowOfValid && record >= 0 && record < m_table.capacity())
        m_rowOf[static_cast<std::size_t>(record)] = row;
    else
        rowsMoved();
    if (m_listener)
        m_listener->rowInserted(row);
    return row;
}

bool DocumentList::removeRow(int row)
{
    if (row < 0 || row >= rowCount())
        return false;
    if (m_listener)
        m_listener->rowAboutToBeRemoved(row);
    const bool wasSelected = m_rows[static_cast<std::size_t>(row)].selected;
    m_rows.erase(m_rows.begin() + row);
    rowsMoved();
    if (m_listener) {
        m_listener->rowRemoved(row);
        if (wasSelected)
            m_listener->selectionChanged();
    }
    return true;
}

void DocumentList::clear()
{
    if (m_listener)
        m_listener->layoutAboutToChange();
    m_rows.clear();
    rowsMoved();
    if (m_listener) {
        m_listener->layoutChanged();
        m_listener->selectionChanged();
    }
}

std::string DocumentList::text(int row, int column) const
{
    const int record = rowToRecord(row);
    if (record < 0)
        return {};
    const DocumentRecord r = m_table.get(record);
    switch (column) {
    case kNameColumn:
        return std::string(fieldText(r.displayName));
    case kTypeColumn:
        return std::string(kindText(r.kind));
    case kStatusColumn:
        return std::string(statusText(r.status));
    case kLastCheckColumn: {
        const std::string_view last = fieldText(r.lastCheck);
        return last.empty() ? std::string("?") : std::string(last);
    }
    default:
        return {};
    }
}

bool DocumentList::isRowSelected(int row) const
{
    return row >= 0 && row < rowCount() && m_rows[static_cast<std::size_t>(row)].selected;
}

void DocumentList::setRowSelected(int row, bool selected)
{
    if (row < 0 || row >= rowCount())
        return;
    Row& r = m_rows[static_cast<std::size_t>(row)];
    if (r.selected == selected)
        return;
    r.selected = selected;
    if (m_listener)
        m_listener->selectionChanged();
}

int DocumentList::selectRecord(int record)
{
    const int row = recordToRow(record);
    if (row >= 0)
        setRowSelected(row, true);
    return row;
}

void DocumentList::selectAllRows()
{
    for (Row& row : m_rows)
        row.selected = true;
    if (m_listener)
        m_listener->selectionChanged();
}

void DocumentList::deselectAllRows()
{
    for (Row& row : m_rows)
        row.selected = false;
    if (m_listener)
        m_listener->selectionChanged();
}

int DocumentList::selectedCount() const
{
    int count = 0;
    for (const Row& row : m_rows)
        count += row.selected ? 1 : 0;
    return count;
}

std::vector<int> DocumentList::selectedRows() const
{
    std::vector<int> rows;
    for (std::size_t row = 0; row < m_rows.size(); ++row) {
        if (m_rows[row].selected)
            rows.push_back(static_cast<int>(row));
    }
    return rows;
}

std::vector<int> DocumentList::selectedRecords() const
{
    std::vector<int> records;
    for (int row : selectedRows()) {
        if (const int record = rowToRecord(row); record >= 0)
            records.push_back(record);
    }
    return records;
}

// --- sort ----------------------------------------------------------------------------------

void DocumentList::sortByColumn(int column)
{
    if (m_listener)
        m_listener->layoutAboutToChange();
    // The texts are read once and exchanged with their rows, so the sort reads no record
    // twice and a record changed meanwhile cannot unsettle it.
    std::vector<std::string> texts;
    texts.reserve(m_rows.size());
    for (int row = 0; row < rowCount(); ++row)
        texts.push_back(text(row, column));
    if (rowCount() > 1)
        quicksort(0, rowCount() - 1, column, texts);
    rowsMoved();
    m_ascending = !m_ascending;
    if (m_listener)
        m_listener->layoutChanged();
}

namespace
{

// A case-sensitive comparison of texts in the system's (UTF-8) encoding; byte order is the
// order of code points there.
int compareTexts(const std::string& a, const std::string& b)
{
    return a.compare(b);
}

} // namespace

void DocumentList::quicksort(int lo, int hi, int column, std::vector<std::string>& texts)
{
    if (lo >= hi)
        return;
    const std::string pivot = texts[static_cast<std::size_t>((lo + hi) / 2)];
    auto at = [&](int k) -> const std::string& { return texts[static_cast<std::size_t>(k)]; };
    int i = lo;
    int j = hi;
    while (i <= j) {
        if (m_ascending) {
            while (i < hi && compareTexts(at(i), pivot) < 0)
                ++i;
            while (j > lo && compareTexts(at(j), pivot) > 0)
                --j;
        } else {
            while (i < hi && compareTexts(at(i), pivot) > 0)
                ++i;
            while (j > lo && compareTexts(at(j), pivot) < 0)
                --j;
        }
        if (i <= j) {
            if (at(i) != at(j)) {
                std::swap(texts[static_cast<std::size_t>(i)], texts[static_cast<std::size_t>(j)]);
                std::swap(m_rows[static_cast<std::size_t>(i)], m_rows[static_cast<std::size_t>(j)]);
            }
            ++i;
            --j;
        }
    }
    if (lo < j)
        quicksort(lo, j, column, texts);
    if (i < hi)
        quicksort(i, hi, column, texts);
}

} // namespace sentorix
