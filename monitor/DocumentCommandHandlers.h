// The document commands of the main window: Add, Copy, Properties, Delete, Open, Save As,
// Content Header, Compared Data, Mark as Checked, Mark All as Checked and View Changes (the
// first-document prompt runs Add through the command router). Each runs on the UI thread over
// the session's list selection; the dialogs and viewers are those of monitor/dialogs, the table
// and file work is the session's DocumentCommands. Every message box and dialog goes through
// the modal wrappers, so a test answers them in advance.
#pragma once

#include <QObject>
#include <QString>

namespace sentorix
{

class CMainFrame;
class MonitorSession;

inline constexpr const char* kTableFullText =
    "The document list is full.\nPlease delete a document before adding another one.";
inline constexpr const char* kCannotOpenDocumentText = "Cannot open the selected document.";
inline constexpr const char* kCannotSaveDocumentText =
    "Cannot save the selected document to the chosen file.";
inline constexpr const char* kSaveAsTitle = "Save As...";
inline constexpr const char* kSaveAsFilter = "All Files (*)";

class DocumentCommandHandlers final : public QObject
{
    Q_OBJECT
public:
    // The frame and the session outlive the handlers (the frame owns them).
    DocumentCommandHandlers(CMainFrame& frame, MonitorSession& session);

    void addDocument();
    void copyDocument();
    void editDocument();
    void deleteDocuments();
    void openSelectedDocuments();
    void markSelectedChecked();
    void markAllChecked();
    void saveContentAs();
    void viewContentHeader();
    void viewComparedData();
    void viewChanges();

    // View Changes is enabled for exactly one selected row whose document has a previous
    // version.
    bool canViewChanges() const;

    // The path last chosen in the Save As dialog (the whole process shares it); it starts in
    // the user's home folder.
    static QString lastSavePath();
    static void setLastSavePath(const QString& path);

private:
    // The record of the one selected row, or -1 when not exactly one row is selected.
    int onlySelectedRecord() const;
    // False (with the not-retrieved message) for a document without a stored content.
    bool isRetrieved(int record) const;
    void storeNewRecord(int sourceIndex);
    void showDataViewOf(int record, const char* extension);

    CMainFrame& m_frame;
    MonitorSession& m_session;
};

// Creates the handlers (owned by the frame), hangs them on the frame's commands and makes View
// Changes enabled only when it can run.
DocumentCommandHandlers* registerDocumentCommands(CMainFrame& frame, MonitorSession& session);

} // namespace sentorix
