#include "monitor/DocumentCommandHandlers.h"

#include "common/FixedText.h"
#include "common/TextFile.h"
#include "monitor/Commands.h"
#include "monitor/MainFrame.h"
#include "monitor/check/DocumentChanges.h"
#include "monitor/check/MonitorSession.h"
#include "monitor/dialogs/ChangesWindow.h"
#include "monitor/dialogs/DesktopOpen.h"
#include "monitor/dialogs/DocumentDialog.h"
#include "monitor/dialogs/ModalDialogs.h"
#include "monitor/dialogs/Viewers.h"

#include <QDir>

namespace sentorix
{
namespace
{

QString& savePath()
{
    static QString path = QDir::homePath();
    return path;
}

void inform(QWidget* parent, const char* text, QMessageBox::Icon icon = QMessageBox::Information)
{
    ui::MessageBox::show(parent, QString::fromUtf8(text), icon);
}

} // namespace

DocumentCommandHandlers::DocumentCommandHandlers(CMainFrame& frame, MonitorSession& session)
    : QObject(&frame), m_frame(frame), m_session(session)
{
}

QString DocumentCommandHandlers::lastSavePath()
{
    return savePath();
}

void DocumentCommandHandlers::setLastSavePath(const QString& path)
{
    savePath() = path;
}

int DocumentCommandHandlers::onlySelectedRecord() const
{
    const DocumentList& list = m_session.list();
    if (list.selectedCount() != 1)
        return -1;
    return list.rowToRecord(list.selectedRows().front());
}

bool DocumentCommandHandlers::isRetrieved(int record) const
{
    switch (m_session.table().status(record)) {
    case DocumentStatus::Retrieving:
    case DocumentStatus::Unavailable:
    case DocumentStatus::Waiting:
        inform(&m_frame, kNotRetrievedText);
        return false;
    default:
        return true;
    }
}

// Add (sourceIndex -1) and Copy: the dialog over the first free slot, then the staged record
// stored there and fetched at once.
void DocumentCommandHandlers::storeNewRecord(int sourceIndex)
{
    // Asked before the dialog, so nobody fills in a dialog whose document cannot be kept.
    if (m_session.table().findFreeSlot() < 0) {
        inform(&m_frame, kTableFullText, QMessageBox::Warning);
        return;
    }
    const ui::DocumentDialogContext context{&m_session.table(), m_session.dataFolder(),
                                            m_session.engine().sessionSettings()};
    DocumentRecord staged{};
    if (ui::runDocumentDialog(&m_frame,
                              sourceIndex < 0 ? DocumentDialogMode::Add : DocumentDialogMode::Copy,
                              sourceIndex, context, staged) != 1)
        return;
    if (m_session.commands().addStagedRecord(staged) < 0) {
        inform(&m_frame, kTableFullText, QMessageBox::Warning);
        return;
    }
    m_session.engine().startCheckWorkers();
}

void DocumentCommandHandlers::addDocument()
{
    storeNewRecord(-1);
}

void DocumentCommandHandlers::copyDocument()
{
    const int source = m_session.commands().singleSelectedRecord(kSelectOneToCopyText);
    if (source < 0)
        return;
    storeNewRecord(source);
}

void DocumentCommandHandlers::editDocument()
{
    const int record = m_session.commands().singleSelectedRecord(kSelectOneToEditText);
    if (record < 0)
        return;
    const ui::DocumentDialogContext context{&m_session.table(), m_session.dataFolder(),
                                            m_session.engine().sessionSettings()};
    DocumentRecord staged{};
    if (ui::runDocumentDialog(&m_frame, DocumentDialogMode::Properties, record, context, staged) !=
        1)
        return;
    m_session.commands().applyEdit(record, staged);
    m_session.engine().startCheckWorkers();
}

void DocumentCommandHandlers::deleteDocuments()
{
    m_session.commands().deleteSelected();
}

void DocumentCommandHandlers::openSelectedDocuments()
{
    m_session.commands().openSelected(ui::DesktopOpen::openTarget);
}

void DocumentCommandHandlers::markSelectedChecked()
{
    m_session.commands().markSelectedChecked();
}

void DocumentCommandHandlers::markAllChecked()
{
    m_session.commands().markAllChecked();
}

void DocumentCommandHandlers::saveContentAs()
{
    const int record = onlySelectedRecord();
    if (record < 0 || !isRetrieved(record))
        return;
    const std::string name(fieldText(m_session.table().get(record).displayName));
    const std::string content = recordFilePath(m_session.dataFolder(), name, kContentExtension);
    const QString chosen =
        ui::FileDialog::getSaveFileName(&m_frame, QString::fromLatin1(kSaveAsTitle), savePath(),
                                        QString::fromLatin1(kSaveAsFilter));
    if (chosen.isEmpty())
        return;
    savePath() = chosen;
    // A copy that fails is said, so nobody relies on a file that was never written.
    if (!copyFileReplacing(content, QDir::toNativeSeparators(chosen).toStdString()))
        inform(&m_frame, kCannotSaveDocumentText, QMessageBox::Critical);
}

void DocumentCommandHandlers::showDataViewOf(int record, const char* extension)
{
    const std::string name(fieldText(m_session.table().get(record).displayName));
    const std::string path = recordFilePath(m_session.dataFolder(), name, extension);
    if (ui::showDataView(&m_frame, QString::fromStdString(path)) == 0)
        inform(&m_frame, kCannotOpenDocumentText, QMessageBox::Critical);
}

void DocumentCommandHandlers::viewContentHeader()
{
    const int record = onlySelectedRecord();
    if (record < 0 || !isRetrieved(record))
        return;
    showDataViewOf(record, kContentExtension);
}

void DocumentCommandHandlers::viewComparedData()
{
    const int record = onlySelectedRecord();
    if (record < 0 || !isRetrieved(record))
        return;
    const DocumentRecord r = m_session.table().get(record);
    if (r.countMode == 1)
        ui::showCountView(&m_frame, r);
    else if (r.middleMode == 1)
        showDataViewOf(record, kMiddleExtension);
    else
        showDataViewOf(record, kContentExtension);
}

bool DocumentCommandHandlers::canViewChanges() const
{
    const int record = onlySelectedRecord();
    return record >= 0 && hasPreviousVersion(m_session.dataFolder(), m_session.table().get(record));
}

void DocumentCommandHandlers::viewChanges()
{
    const int record = onlySelectedRecord();
    if (record < 0)
        return;
    // A window of its own beside the list; it compares off the UI thread and is deleted when
    // closed. Several may be open at once, one per look.
    auto* window = new ui::ChangesWindow(&m_frame);
    window->setAttribute(Qt::WA_DeleteOnClose);
    const DocumentRecord r = m_session.table().get(record);
    window->setWindowTitle(QString::fromLatin1(ui::kViewChangesText).remove(QStringLiteral("...")) +
                           QStringLiteral(" - ") + QString::fromUtf8(fieldText(r.displayName)));
    window->load(m_session.dataFolder(), r);
    window->show();
}

DocumentCommandHandlers* registerDocumentCommands(CMainFrame& frame, MonitorSession& session)
{
    auto* handlers = new DocumentCommandHandlers(frame, session);
    ui::CommandRouter& commands = frame.commands();
    const struct {
        int id;
        void (DocumentCommandHandlers::*run)();
    } table[] = {
        {ui::kCmdAdd, &DocumentCommandHandlers::addDocument},
        {ui::kCmdCopy, &DocumentCommandHandlers::copyDocument},
        {ui::kCmdProperties, &DocumentCommandHandlers::editDocument},
        {ui::kCmdDelete, &DocumentCommandHandlers::deleteDocuments},
        {ui::kCmdOpen, &DocumentCommandHandlers::openSelectedDocuments},
        {ui::kCmdMarkChecked, &DocumentCommandHandlers::markSelectedChecked},
        {ui::kCmdMarkAllChecked, &DocumentCommandHandlers::markAllChecked},
        {ui::kCmdSaveAs, &DocumentCommandHandlers::saveContentAs},
        {ui::kCmdContentHeader, &DocumentCommandHandlers::viewContentHeader},
        {ui::kCmdComparedData, &DocumentCommandHandlers::viewComparedData},
        {ui::kCmdViewChanges, &DocumentCommandHandlers::viewChanges},
    };
    for (const auto& entry : table)
        commands.setHandler(entry.id, [handlers, run = entry.run] { (handlers->*run)(); });
    frame.setEnablingCondition(ui::kCmdViewChanges,
                               [handlers] { return handlers->canViewChanges(); });
    return handlers;
}

} // namespace sentorix
