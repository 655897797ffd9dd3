#include "monitor/data/DocumentCommands.h"

#include "common/FixedText.h"
#include "common/TextFile.h"
#include "monitor/data/DocumentList.h"
#include "monitor/data/DocumentTable.h"
#include "monitor/data/DocumentValidation.h"
#include "monitor/data/MonitorView.h"
#include "monitor/data/Options.h"
#include "platform/TempFile.h"

#include <cstdio>

namespace sentorix
{
namespace
{

// An account's name or password inside an address: every byte but the unreserved ones is
// percent-encoded, so a "@", "/" or ":" in a password cannot move the host part.
std::string encodeUserInfo(std::string_view text)
{
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') ||
            b == '-' || b == '.' || b == '_' || b == '~') {
            out += c;
        } else {
            out += '%';
            out += hex[b >> 4];
            out += hex[b & 15];
        }
    }
    return out;
}

bool hasControlBytes(std::string_view text)
{
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7f)
            return true;
    }
    return false;
}

} // namespace

DocumentCommands::DocumentCommands(DocumentTable& table, DocumentList& list, MonitorView& view,
                                   OptionsStore& options, std::string dataFolder)
    : m_table(table), m_list(list), m_view(view), m_options(options),
      m_dataFolder(std::move(dataFolder))
{
}

int DocumentCommands::singleSelectedRecord(const char* message)
{
    if (m_list.selectedCount() != 1) {
        m_view.showMessage(message, MessageIcon::Information);
        return -1;
    }
    return m_list.rowToRecord(m_list.selectedRows().front());
}

int DocumentCommands::addStagedRecord(const DocumentRecord& staged)
{
    const int slot = m_table.findFreeSlot();
    if (slot < 0)
        return -1;
    m_table.put(slot, staged);
    m_list.insertRow(slot, slot);
    saveRecord(m_table, slot, m_dataFolder);
    return slot;
}

void DocumentCommands::applyEdit(int record, const DocumentRecord& staged)
{
    if (record < 0 || record >= m_table.capacity())
        return;
    const std::string oldName = m_table.displayName(record);
    if (!oldName.empty()) {
        removeFile(recordFilePath(m_dataFolder, oldName, kDataExtension));
        removeFile(recordFilePath(m_dataFolder, oldName, kContentExtension));
        removePreviousVersions(m_dataFolder, oldName);
    }
    m_table.put(record, staged);
    if (m_list.recordToRow(record) < 0)
        m_list.insertRow(record, record);
    m_view.recordChanged(record);
    saveRecord(m_table, record, m_dataFolder);
}

int DocumentCommands::deleteSelected()
{
    if (m_list.selectedCount() == 0) {
        m_view.showMessage(kSelectToDeleteText, MessageIcon::Information);
        return 0;
    }
    if (m_view.showMessage(kConfirmDeleteText, MessageIcon::Question, MessageButtons::YesNo) !=
        MessageAnswer::Yes)
        return 0;
    int removed = 0;
    // Bottom up, so removing a row never moves a row still to be visited.
    for (int row = m_list.rowCount() - 1; row >= 0; --row) {
        if (!m_list.isRowSelected(row))
            continue;
        const int record = m_list.rowToRecord(row);
        if (record < 0)
            continue;
        deleteRecord(record);
        ++removed;
    }
    return removed;
}

void DocumentCommands::deleteRecord(int record)
{
    if (record < 0 || record >= m_table.capacity())
        return;
    m_list.removeRow(m_list.recordToRow(record));
    const std::string name = m_table.displayName(record);
    if (!name.empty()) {
        removeFile(recordFilePath(m_dataFolder, name, kDataExtension));
        removeFile(recordFilePath(m_dataFolder, name, kContentExtension));
        removeFile(recordFilePath(m_dataFolder, name, kMiddleExtension));
        removePreviousVersions(m_dataFolder, name);
    }
    m_table.clear(record);
}

void DocumentCommands::markChecked(int record)
{
    if (record < 0 || record >= m_table.capacity() || !m_table.isUsed(record))
        return;
    m_table.setStatus(record, DocumentStatus::Checked);
    m_view.recordChanged(record);
}

bool DocumentCommands::markSelectedChecked()
{
    const std::vector<int> records = m_list.selectedRecords();
    if (m_list.selectedCount() == 0) {
        m_view.showMessage(kSelectToMarkText, MessageIcon::Information);
        return false;
    }
    for (int record : records)
        markChecked(record);
    return true;
}

void DocumentCommands::markAllChecked()
{
    for (int row = 0; row < m_list.rowCount(); ++row)
        markChecked(m_list.rowToRecord(row));
}

void DocumentCommands::openSelected(const Desktop& desktop)
{
    const std::vector<int> rows = m_list.selectedRows();
    if (rows.empty()) {
        m_view.showMessage(kSelectToOpenText, MessageIcon::Information);
        return;
    }
    const bool showMessages = rows.size() == 1;
    for (int row : rows) {
        const int record = m_list.rowToRecord(row);
        if (record >= 0)
            openDocument(record, showMessages, desktop);
    }
}

bool DocumentCommands::openDocument(int record, bool showMessages, const Desktop& desktop)
{
    OpenTarget target;
    if (!openTarget(record, showMessages, target))
        return false;
    if (desktop)
        desktop(target);
    if (m_options.get().markCheckedWhenOpened == 1)
        markChecked(record);
    return true;
}

bool DocumentCommands::openTarget(int record, bool showMessages, OpenTarget& target)
{
    if (record < 0 || record >= m_table.capacity() || !m_table.isUsed(record))
        return false;
    const DocumentRecord r = m_table.get(record);
    const std::string_view location = fieldText(r.location);
    if (static_cast<DocumentKind>(r.kind) == DocumentKind::WebPage) {
        std::string address = webAddressPrefix(location);
        if (r.useAccount == 1) {
            address += encodeUserInfo(fieldText(r.userName));
            address += ':';
            address += encodeUserInfo(fieldText(r.password));
            address += '@';
        }
        address += webAddressRest(location);
        // A line break or other control byte has no place in an address handed to a program.
        if (hasControlBytes(address))
            return false;
        target = {OpenTarget::Kind::Address, address};
        return true;
    }

    const std::string name(fieldText(r.displayName));
    const std::string contentPath = recordFilePath(m_dataFolder, name, kContentExtension);
    {
        InputFile content;
        if (!content.open(contentPath, FileMode::Binary)) {
            if (showMessages)
                m_view.showMessage(kNotDownloadedText, MessageIcon::Information);
            return false;
        }
    }
    // The file name: the text after the last separator, searched back to the second byte.
    std::size_t separator = std::string_view::npos;
    for (std::size_t k = location.size(); k-- > 1;) {
        if (location[k] == '/' || location[k] == '\\') {
            separator = k;
            break;
        }
    }
    if (separator == std::string_view::npos) {
        if (showMessages)
            m_view.showMessage(kInvalidLocationText, MessageIcon::Warning);
        return false;
    }
    const std::string fileName(location.substr(separator + 1));
    if (hasControlBytes(fileName))
        return false;
    const std::string unique = createTempFile(m_dataFolder, "KTP");
    if (unique.empty())
        return false;
    removeFile(unique);
    const std::string copy = unique + "_" + fileName;
    if (!copyFileReplacing(contentPath, copy))
        return false;
    target = {OpenTarget::Kind::File, copy};
    return true;
}

} // namespace sentorix
