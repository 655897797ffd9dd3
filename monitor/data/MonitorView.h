// What the core asks of the document list and the window around it. The windowed monitor
// implements it on its UI thread (a worker's call waits until it was carried out); the
// command-line front end implements it without a window.
#pragma once

#include <string>

namespace sentorix
{

enum class MessageIcon { Information, Warning, Question, Stop };

class MonitorView
{
public:
    virtual ~MonitorView() = default;

    virtual int rowCount() = 0;
    virtual bool isRowSelected(int row) = 0;
    // The record shown by a row, or -1; the row of a record, or -1.
    virtual int rowToRecord(int row) = 0;
    virtual int recordToRow(int record) = 0;
    // Redraws a row from its record; with `insert` a new row is inserted at position `row`.
    virtual void refreshRow(int record, int row, bool insert) = 0;
    // Adds the record's row to the selection; nothing when the record has no row.
    virtual void selectRecordRow(int record) = 0;
    // Starts the tray icon's blinking when the window is hidden in the tray.
    virtual void startBlink() = 0;
    // A message box; blocks the calling thread until it is closed.
    virtual void showMessage(const std::string& text, MessageIcon icon) = 0;
    // Opens the document of a row for the user (browser or viewing copy).
    virtual void openDocument(int row, bool showMessages) = 0;
};

} // namespace sentorix
