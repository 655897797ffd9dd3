// A document list without a window, for the command-line front end and the tests.
//
// Rows are the records inserted through refreshRow(..., insert = true) (loadAllRecords does
// that) or appendRow, in insertion order; a row knows its record index. A selection set stands
// for the list's selection. Messages go to a callback (standard error when none is given);
// the blink and the opening of documents are only counted, as there is nothing to show them
// on. Every operation may be called from any thread.
#pragma once

#include "monitor/data/MonitorView.h"

#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace sentorix
{

class HeadlessView final : public MonitorView
{
public:
    using MessageSink = std::function<void(const std::string& text, MessageIcon icon)>;

    explicit HeadlessView(MessageSink sink = {});

    // --- the list, as the front end builds it ---
    void appendRow(int record);
    void removeRecordRow(int record);
    void clearRows();
    void setRowSelected(int row, bool selected);
    void selectAllRows();
    void clearSelection();
    std::vector<int> selectedRecords() const;

    // --- what the engine asked for ---
    int blinkRequests() const;
    // (row, showMessages) of every openDocument request.
    std::vector<std::pair<int, bool>> openRequests() const;
    std::vector<std::string> messages() const;

    // --- MonitorView ---
    int rowCount() override;
    bool isRowSelected(int row) override;
    int rowToRecord(int row) override;
    int recordToRow(int record) override;
    void refreshRow(int record, int row, bool insert) override;
    void selectRecordRow(int record) override;
    void startBlink() override;
    void showMessage(const std::string& text, MessageIcon icon) override;
    void openDocument(int row, bool showMessages) override;

private:
    int rowOf(int record) const; // under m_mutex

    MessageSink m_sink;
    mutable std::mutex m_mutex;
    std::vector<int> m_rows;  // record index per row
    std::set<int> m_selected; // selected records
    int m_blinks = 0;
    std::vector<std::pair<int, bool>> m_opens;
    std::vector<std::string> m_messages;
};

} // namespace sentorix
