// The document list without a window: rows and records, the selection, the sort by a column
// (its direction flag and rows of equal text) and the enabling of commands by selection.
#include "DataTestHelpers.h"

#include "common/FixedText.h"
#include "monitor/data/DocumentList.h"
#include "monitor/data/DocumentTable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

using namespace sentorix;
using namespace sentorix::test;

namespace
{

struct Doc {
    std::string name;
    DocumentStatus status;
};

// A table with one record per doc (slot = position) and a list with their rows in that order.
struct ListFixture {
    explicit ListFixture(const std::vector<Doc>& docs) : table(16), list(table)
    {
        for (std::size_t i = 0; i < docs.size(); ++i) {
            table.put(static_cast<int>(i), makeRecord(docs[i].name, "http://a.b/", docs[i].status));
            list.appendRow(static_cast<int>(i));
        }
    }
    std::vector<std::string> column(int c) const
    {
        std::vector<std::string> texts;
        for (int row = 0; row < list.rowCount(); ++row)
            texts.push_back(list.text(row, c));
        return texts;
    }
    DocumentTable table;
    DocumentList list;
};

using S = DocumentStatus;

TEST(DocumentList, RowsAndRecordsFindEachOther)
{
    ListFixture f({{"a", S::Checked}, {"b", S::Checked}});
    EXPECT_EQ(f.list.insertRow(0, 5), 0) << "a record keeps its one row";
    EXPECT_EQ(f.list.rowCount(), 2);
    EXPECT_EQ(f.list.rowToRecord(1), 1);
    EXPECT_EQ(f.list.recordToRow(1), 1);
    EXPECT_EQ(f.list.rowToRecord(2), -1);
    EXPECT_EQ(f.list.rowToRecord(-1), -1);
    EXPECT_EQ(f.list.recordToRow(7), -1);
    f.table.clear(1);
    EXPECT_EQ(f.list.rowToRecord(1), -1) << "a row whose slot was freed shows no record";
    EXPECT_TRUE(f.list.removeRow(1));
    EXPECT_FALSE(f.list.removeRow(1));
    EXPECT_EQ(rowRecords(f.list), std::vector<int>{0});
}

TEST(DocumentList, EveryRecordFindsItsRowAfterEveryKindOfChange)
{
    // Rows are looked up by record through an index: after each change every record of the
    // table, and numbers that are no slot, must find exactly the row a search would.
    ListFixture f({{"e", S::Checked}, {"d", S::Checked}, {"c", S::Checked}});
    for (int i = 3; i < 8; ++i)
        f.table.put(i, makeRecord("n" + std::to_string(i)));
    std::vector<int> rows = {0, 1, 2}; // the records in row order
    const auto check = [&](const std::string& step) {
        for (int record = -2; record < f.table.capacity() + 2; ++record) {
            const auto at = std::find(rows.begin(), rows.end(), record);
            const int expected = at == rows.end() ? -1 : static_cast<int>(at - rows.begin());
            EXPECT_EQ(f.list.recordToRow(record), expected) << step << ", record " << record;
        }
    };
    const std::vector<std::pair<std::string, std::function<void()>>> steps = {
        {"append",
         [&] {
             f.list.appendRow(3);
             rows.push_back(3);
         }},
        {"insert in front",
         [&] {
             f.list.insertRow(4, 0);
             rows.insert(rows.begin(), 4);
         }},
        {"insert in the middle",
         [&] {
             f.list.insertRow(5, 2);
             rows.insert(rows.begin() + 2, 5);
         }},
        {"insert again", [&] { f.list.insertRow(5, 0); }},
        {"remove",
         [&] {
             f.list.removeRow(1);
             rows.erase(rows.begin() + 1);
         }},
        {"sort",
         [&] {
             f.list.sortByColumn(kNameColumn);
             for (int row = 0; row < f.list.rowCount(); ++row)
                 rows[static_cast<std::size_t>(row)] = f.list.rowToRecord(row);
         }},
        {"append after the sort",
         [&] {
             f.list.appendRow(6);
             rows.push_back(6);
         }},
        {"clear",
         [&] {
             f.list.clear();
             rows.clear();
         }},
        {"append after clearing",
         [&] {
             f.list.appendRow(7);
             rows.push_back(7);
         }},
        {"a number that is no slot",
         [&] {
             f.list.appendRow(99);
             rows.push_back(99);
         }},
    };
    check("start");
    for (const auto& [step, change] : steps) {
        change();
        check(step);
    }
}

TEST(DocumentList, ColumnTexts)
{
    DocumentTable table(4);
    DocumentList list(table);
    DocumentRecord odd = makeRecord("odd");
    odd.status = 9;
    odd.kind = 7;
    table.put(0, odd);
    DocumentRecord checked = makeRecord("checked", "http://a.b/", S::Changed);
    setFieldText(checked.lastCheck, "2011/05/07 [09:03:00]");
    table.put(1, checked);
    list.appendRow(0);
    list.appendRow(1);
    EXPECT_EQ(list.text(0, kNameColumn), "odd");
    EXPECT_EQ(list.text(0, kTypeColumn), "Unknown");
    EXPECT_EQ(list.text(0, kStatusColumn), "Unknown");
    EXPECT_EQ(list.text(0, kLastCheckColumn), "?");
    EXPECT_EQ(list.text(1, kTypeColumn), "Web Page");
    EXPECT_EQ(list.text(1, kStatusColumn), "** Changed");
    EXPECT_EQ(list.text(1, kLastCheckColumn), "2011/05/07 [09:03:00]");
    EXPECT_EQ(list.text(2, kNameColumn), "");
    EXPECT_EQ(list.text(1, 4), "");
}

TEST(DocumentList, SelectionByRowAndRecord)
{
    ListFixture f({{"a", S::Checked}, {"b", S::Checked}, {"c", S::Checked}});
    EXPECT_EQ(f.list.selectedCount(), 0);
    f.list.setRowSelected(2, true);
    EXPECT_EQ(f.list.selectRecord(0), 0);
    EXPECT_EQ(f.list.selectRecord(9), -1);
    f.list.setRowSelected(5, true); // no such row: nothing
    EXPECT_EQ(f.list.selectedRows(), (std::vector<int>{0, 2}));
    EXPECT_EQ(f.list.selectedRecords(), (std::vector<int>{0, 2}));
    f.list.removeRow(0);
    EXPECT_EQ(f.list.selectedRecords(), std::vector<int>{2})
        << "a removed row leaves the selection";
    f.list.selectAllRows();
    EXPECT_EQ(f.list.selectedCount(), 2);
    f.list.deselectAllRows();
    EXPECT_EQ(f.list.selectedCount(), 0);
}

struct SortCase {
    const char* what;
    std::vector<Doc> docs;
    std::vector<int> columns;       // header clicks, in order
    std::vector<std::string> names; // the Name column after the clicks
};

TEST(DocumentList, SortByColumnTable)
{
    const std::vector<SortCase> cases = {
        {"ascending by name",
         {{"b", S::Checked}, {"a", S::Checked}, {"c", S::Checked}},
         {kNameColumn},
         {"a", "b", "c"}},
        {"a second click sorts descending",
         {{"b", S::Checked}, {"a", S::Checked}, {"c", S::Checked}},
         {kNameColumn, kNameColumn},
         {"c", "b", "a"}},
        {"one flag for all columns: Status twice, then Name ascending again",
         {{"b", S::Changed}, {"c", S::Checked}, {"a", S::Unavailable}},
         {kStatusColumn, kStatusColumn, kNameColumn},
         {"a", "b", "c"}},
        {"changed and unavailable come before checked",
         {{"ok", S::Checked}, {"gone", S::Unavailable}, {"new", S::Changed}},
         {kStatusColumn},
         {"new", "gone", "ok"}},
        {"descending by status",
         {{"gone", S::Unavailable}, {"ok", S::Checked}, {"new", S::Changed}},
         {kStatusColumn, kStatusColumn},
         {"ok", "gone", "new"}},
        {"letter case counts: capitals first",
         {{"b", S::Checked}, {"B", S::Checked}, {"a", S::Checked}},
         {kNameColumn},
         {"B", "a", "b"}},
        {"equal texts are never exchanged",
         {{"d", S::Checked}, {"b", S::Checked}, {"a", S::Checked}, {"c", S::Checked}},
         {kStatusColumn},
         {"d", "b", "a", "c"}},
        {"equal texts are never exchanged, descending",
         {{"d", S::Checked}, {"b", S::Checked}, {"a", S::Checked}, {"c", S::Checked}},
         {kStatusColumn, kStatusColumn},
         {"d", "b", "a", "c"}},
        {"one row", {{"x", S::Checked}}, {kNameColumn, kNameColumn}, {"x"}},
        {"no rows", {}, {kNameColumn}, {}},
        {"many rows, reversed",
         {{"h", S::Checked},
          {"g", S::Checked},
          {"f", S::Checked},
          {"e", S::Checked},
          {"d", S::Checked},
          {"c", S::Checked},
          {"b", S::Checked},
          {"a", S::Checked}},
         {kNameColumn},
         {"a", "b", "c", "d", "e", "f", "g", "h"}},
    };
    for (const SortCase& c : cases) {
        ListFixture f(c.docs);
        for (int column : c.columns)
            f.list.sortByColumn(column);
        EXPECT_EQ(f.column(kNameColumn), c.names) << c.what;
        EXPECT_EQ(f.list.sortAscending(), c.columns.size() % 2 == 0) << c.what;
    }
}

TEST(DocumentList, SortKeepsSelectionAndRecords)
{
    ListFixture f({{"c", S::Checked}, {"a", S::Checked}, {"b", S::Checked}});
    f.list.setRowSelected(0, true); // "c"
    f.list.sortByColumn(kNameColumn);
    EXPECT_EQ(f.column(kNameColumn), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(f.list.selectedRows(), std::vector<int>{2});
    EXPECT_EQ(f.list.selectedRecords(), std::vector<int>{0});
    EXPECT_EQ(f.list.recordToRow(1), 0);
}

TEST(DocumentList, ListenerHearsEveryChange)
{
    struct Log final : DocumentListListener {
        std::vector<std::string> calls;
        void rowAboutToBeInserted(int row) override { calls.push_back("+?" + std::to_string(row)); }
        void rowInserted(int row) override { calls.push_back("+" + std::to_string(row)); }
        void rowAboutToBeRemoved(int row) override { calls.push_back("-?" + std::to_string(row)); }
        void rowRemoved(int row) override { calls.push_back("-" + std::to_string(row)); }
        void layoutAboutToChange() override { calls.push_back("L?"); }
        void layoutChanged() override { calls.push_back("L"); }
        void selectionChanged() override { calls.push_back("S"); }
    } log;
    ListFixture f({{"b", S::Checked}});
    f.list.setListener(&log);
    f.table.put(1, makeRecord("a"));
    f.list.insertRow(1, 0);
    f.list.setRowSelected(0, true);
    f.list.setRowSelected(0, true); // no change: no call
    f.list.sortByColumn(kNameColumn);
    f.list.removeRow(0);
    f.list.setListener(nullptr);
    EXPECT_EQ(log.calls, (std::vector<std::string>{"+?0", "+0", "S", "L?", "L", "-?0", "-0", "S"}));
}

TEST(DocumentList, EnablingTable)
{
    struct Case {
        ListCommand command;
        bool none, one, two;
    };
    const std::vector<Case> cases = {
        {ListCommand::Open, false, true, true},
        {ListCommand::CheckSelected, false, true, true},
        {ListCommand::Delete, false, true, true},
        {ListCommand::MarkChecked, false, true, true},
        {ListCommand::Copy, false, true, false},
        {ListCommand::Properties, false, true, false},
        {ListCommand::SaveAs, false, true, false},
        {ListCommand::ContentHeader, false, true, false},
        {ListCommand::ComparedData, false, true, false},
        {ListCommand::Add, true, true, true},
    };
    for (const Case& c : cases) {
        const int id = static_cast<int>(c.command);
        EXPECT_EQ(isCommandEnabled(c.command, 0), c.none) << "command " << id;
        EXPECT_EQ(isCommandEnabled(c.command, 1), c.one) << "command " << id;
        EXPECT_EQ(isCommandEnabled(c.command, 2), c.two) << "command " << id;
        EXPECT_EQ(isCommandEnabled(c.command, 5), c.two) << "command " << id;
    }
}

} // namespace
