// The document list without a window: its rows (one per listed record, in display order), the
// selection, the sort by a column and the enabling of commands by the number of selected
// rows. The windowed monitor's list model shows it; the command-line front end and the tests
// use it as it is.
//
// Threads: the UI thread only. Workers never touch the list; they report to the MonitorView,
// whose UI side then looks the record's row up here.
//
// A row holds its record's index; a record has at most one row (names are unique). A row
// keeps its selection through a sort.
#pragma once

#include <string>
#include <vector>

namespace sentorix
{

class DocumentTable;

enum ListColumn : int { kNameColumn = 0, kTypeColumn = 1, kStatusColumn = 2, kLastCheckColumn = 3 };
inline constexpr int kListColumnCount = 4;

// The commands whose enabling depends on the selection.
enum class ListCommand {
    Open,
    CheckSelected,
    Delete,
    MarkChecked,
    Copy,
    Properties,
    SaveAs,
    ContentHeader,
    ComparedData,
    Add, // and every other command: always enabled
};

// True when `command` is enabled with `selectedRows` rows selected (menu bar, toolbar and
// context menu alike).
bool isCommandEnabled(ListCommand command, int selectedRows);

// Told about every change of the list, so a list model can pass it on (Qt: begin/end pairs
// around inserts, removals and the reordering of a sort). Called on the UI thread.
class DocumentListListener
{
public:
    virtual ~DocumentListListener() = default;
    virtual void rowAboutToBeInserted(int /*row*/) {}
    virtual void rowInserted(int /*row*/) {}
    virtual void rowAboutToBeRemoved(int /*row*/) {}
    virtual void rowRemoved(int /*row*/) {}
    // Around a sort or clear(): every row may change its place.
    virtual void layoutAboutToChange() {}
    virtual void layoutChanged() {}
    // The selected state of some rows changed.
    virtual void selectionChanged() {}
};

class DocumentList
{
public:
    explicit DocumentList(const DocumentTable& table);
    DocumentList(const DocumentList&) = delete;
    DocumentList& operator=(const DocumentList&) = delete;

    // Null for none; the listener outlives the list or is reset first.
    void setListener(DocumentListListener* listener) { m_listener = listener; }

    int rowCount() const { return static_cast<int>(m_rows.size()); }
    // The record of a row (-1 when the row does not exist or its slot is free); the row of a
    // record (-1 when it has none).
    int rowToRecord(int row) const;
    int recordToRow(int record) const;

    // Inserts a row for `record` at position `row` (at the end when the list is shorter) and
    // returns its position; a record that has a row already keeps it (its row is returned).
    int insertRow(int record, int row);
    int appendRow(int record) { return insertRow(record, rowCount()); }
    // Removes a row (and its selected state); false when there is no such row.
    bool removeRow(int row);
    void clear();

    // The column texts of a row ("" for a row or column that does not exist): the name, the
    // kind text, the status text, and the last check or "?" when it is empty.
    std::string text(int row, int column) const;

    // --- selection ---
    bool isRowSelected(int row) const;
    void setRowSelected(int row, bool selected);
    // Adds the record's row to the selection; returns the row, -1 when the record has none.
    int selectRecord(int record);
    void selectAllRows();
    void deselectAllRows();
    int selectedCount() const;
    // The selected rows and their records (records without a slot left out), in row order.
    std::vector<int> selectedRows() const;
    std::vector<int> selectedRecords() const;

    // --- sort ---
    // Sorts every row by the column's text in the current direction, then flips the
    // direction (one direction for all columns, ascending at start). Rows with equal texts
    // are never exchanged with each other.
    void sortByColumn(int column);
    bool sortAscending() const { return m_ascending; }

private:
    struct Row {
        int record;
        bool selected;
    };
    void quicksort(int lo, int hi, int column, std::vector<std::string>& texts);
    // The rows moved: the index of rows by record is made again at the next lookup.
    void rowsMoved() { m_rowOfValid = false; }

    const DocumentTable& m_table;
    std::vector<Row> m_rows;
    // The row of each record (-1 for none), so a record's row is found in constant time however
    // long the list is (every check looks its row up). Made from m_rows when needed after rows
    // moved, kept up to date by an append.
    mutable std::vector<int> m_rowOf;
    mutable bool m_rowOfValid = false;
    bool m_ascending = true;
    DocumentListListener* m_listener = nullptr;
};

} // namespace sentorix
