// The document commands of the list window that need no window of their own: storing the
// record a document dialog staged (Add, Copy, Properties), Delete, Mark as Checked and the
// preparation of Open. They run on the UI thread, over the list's selection, and talk to the
// user through the MonitorView's message boxes. The dialogs themselves, the shell call that
// shows a document and the start of the workers after an add or edit are the front end's.
#pragma once

#include "monitor/data/DocumentRecord.h"

#include <functional>
#include <string>

namespace sentorix
{

class DocumentList;
class DocumentTable;
class MonitorView;
class OptionsStore;

inline constexpr const char* kSelectOneToCopyText = "Please select one document data to duplicate.";
inline constexpr const char* kSelectOneToEditText = "Please select one document data to edit.";
inline constexpr const char* kSelectToDeleteText = "Please select the document data to delete.";
inline constexpr const char* kConfirmDeleteText =
    "Are you sure you want to delete the selected data ?";
inline constexpr const char* kSelectToOpenText = "Please select one document data to open.";
inline constexpr const char* kNotDownloadedText =
    "This document is not downloaded yet.\nPlease use the 'Check!' button to download.";
inline constexpr const char* kInvalidLocationText =
    "Invalid document location.\nPlease use the 'Edit' button to correct.";
inline constexpr const char* kSelectToMarkText = "Please select the document data.";
inline constexpr const char* kNotRetrievedText =
    "Selected document is not retrieved. Please press Check! button to retrieve.";

// What Open hands to the desktop: a web address for the browser, or the path of a viewing
// copy for the program registered for its extension.
struct OpenTarget {
    enum class Kind { Address, File };
    Kind kind = Kind::Address;
    std::string text;
};

class DocumentCommands
{
public:
    DocumentCommands(DocumentTable& table, DocumentList& list, MonitorView& view,
                     OptionsStore& options, std::string dataFolder);

    // The record of the one selected row, for Copy and Properties; otherwise shows `message`
    // (kSelectOneToCopyText, kSelectOneToEditText) and returns -1.
    int singleSelectedRecord(const char* message);

    // Add and Copy once the dialog was confirmed: stores the staged record in the first free
    // slot, inserts its row at the slot's position and saves it. Returns the slot, or -1 when
    // the table is full (nothing changed). The caller then starts the check workers.
    int addStagedRecord(const DocumentRecord& staged);
    // Properties once the dialog was confirmed: deletes the record's ".data" file and
    // ContentFile under the name it had (the MiddleFile stays), stores the staged record,
    // redraws its row and saves it. The caller then starts the check workers.
    void applyEdit(int record, const DocumentRecord& staged);

    // Delete: with no selection shows kSelectToDeleteText; asks kConfirmDeleteText (Yes/No)
    // and on Yes removes every selected row with its record and files. Returns the number of
    // documents removed.
    int deleteSelected();
    // Removes one record's row, its ".data", ContentFile and MiddleFile, and frees its slot.
    void deleteRecord(int record);

    // Mark as Checked: with no selection shows kSelectToMarkText and returns false. The
    // status is not saved; it reaches the ".data" file at the next save or at exit.
    bool markSelectedChecked();
    // Mark All as Checked: every listed record.
    void markAllChecked();
    void markChecked(int record);

    // Open (several rows: in row order, messages only with exactly one selected); with no
    // selection shows kSelectToOpenText.
    using Desktop = std::function<void(const OpenTarget&)>;
    void openSelected(const Desktop& desktop);
    // Open of one record: builds the address or the viewing copy, hands it to `desktop`, then
    // marks the record Checked when the options ask for it. False when nothing was opened.
    bool openDocument(int record, bool showMessages, const Desktop& desktop);
    // The address or viewing copy for a record, without opening or marking it. False (with
    // the message shown when `showMessages`) when there is none.
    bool openTarget(int record, bool showMessages, OpenTarget& target);

    const std::string& dataFolder() const { return m_dataFolder; }

private:
    DocumentTable& m_table;
    DocumentList& m_list;
    MonitorView& m_view;
    OptionsStore& m_options;
    std::string m_dataFolder;
};

} // namespace sentorix
