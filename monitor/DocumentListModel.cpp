#include "monitor/DocumentListModel.h"

#include "monitor/Artwork.h"
#include "monitor/data/DocumentTable.h"

namespace sentorix
{

int statusImageOf(int32_t status)
{
    switch (status) {
    case static_cast<int32_t>(DocumentStatus::Retrieving):
    case static_cast<int32_t>(DocumentStatus::Waiting):
        return ui::kStatusBusy;
    case static_cast<int32_t>(DocumentStatus::Changed):
        return ui::kStatusChanged;
    case static_cast<int32_t>(DocumentStatus::Unavailable):
        return ui::kStatusUnavailable;
    default:
        return ui::kStatusNormal;
    }
}

DocumentListModel::DocumentListModel(DocumentList& list, const DocumentTable& table,
                                     QObject* parent)
    : QAbstractTableModel(parent), m_list(list), m_table(table)
{
    m_list.setListener(this);
}

DocumentListModel::~DocumentListModel()
{
    m_list.setListener(nullptr);
}

void DocumentListModel::setReasonSource(std::function<std::string(int)> reason)
{
    m_reason = std::move(reason);
}

QString DocumentListModel::reasonOfRow(int row) const
{
    const int record = m_list.rowToRecord(row);
    if (record < 0 || !m_reason || m_table.status(record) != DocumentStatus::Unavailable)
        return {};
    return QString::fromStdString(m_reason(record));
}

void DocumentListModel::recordChanged(int record)
{
    const int row = m_list.recordToRow(record);
    if (row < 0)
        return;
    emit dataChanged(index(row, 0), index(row, kListColumnCount - 1));
    emit recordRedrawn(row);
}

int DocumentListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_list.rowCount();
}

int DocumentListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : kListColumnCount;
}

QVariant DocumentListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_list.rowCount())
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return QString::fromStdString(m_list.text(index.row(), index.column()));
    case Qt::DecorationRole: {
        if (index.column() != kNameColumn)
            return {};
        const int record = m_list.rowToRecord(index.row());
        if (record < 0)
            return {};
        return ui::statusIcon(statusImageOf(static_cast<int32_t>(m_table.status(record))));
    }
    case Qt::ToolTipRole: {
        const QString reason = reasonOfRow(index.row());
        return reason.isEmpty() ? QVariant() : QVariant(reason);
    }
    default:
        return {};
    }
}

QVariant DocumentListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    static const char* const headings[kListColumnCount] = {"Name", "Type", "Status", "Last Check"};
    if (orientation != Qt::Horizontal || section < 0 || section >= kListColumnCount)
        return {};
    if (role == Qt::DisplayRole)
        return QString::fromLatin1(headings[section]);
    if (role == Qt::TextAlignmentRole)
        return QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
}

// The list tells before and after each change; Qt wants the position before the change.
void DocumentListModel::rowAboutToBeInserted(int row)
{
    beginInsertRows(QModelIndex(), row, row);
}

void DocumentListModel::rowInserted(int)
{
    endInsertRows();
}

void DocumentListModel::rowAboutToBeRemoved(int row)
{
    beginRemoveRows(QModelIndex(), row, row);
}

void DocumentListModel::rowRemoved(int)
{
    endRemoveRows();
}

// Persistent indexes (the view's current row, its selection) follow their record through a
// sort; after a clear() they point nowhere.
void DocumentListModel::layoutAboutToChange()
{
    emit layoutAboutToBeChanged();
    m_persistent = persistentIndexList();
    m_persistentRecords.clear();
    m_persistentRecords.reserve(static_cast<std::size_t>(m_persistent.size()));
    for (const QModelIndex& index : m_persistent)
        m_persistentRecords.push_back(m_list.rowToRecord(index.row()));
}

void DocumentListModel::layoutChanged()
{
    // One pass over the rows for the new place of every record (a list row by row would be
    // quadratic with a large selection).
    std::vector<int> rowOf;
    for (int row = 0; row < m_list.rowCount(); ++row) {
        const int record = m_list.rowToRecord(row);
        if (record < 0)
            continue;
        if (static_cast<std::size_t>(record) >= rowOf.size())
            rowOf.resize(static_cast<std::size_t>(record) + 1, -1);
        rowOf[static_cast<std::size_t>(record)] = row;
    }
    QModelIndexList moved;
    moved.reserve(m_persistent.size());
    for (qsizetype i = 0; i < m_persistent.size(); ++i) {
        const int record = m_persistentRecords[static_cast<std::size_t>(i)];
        const int row = record < 0 || static_cast<std::size_t>(record) >= rowOf.size()
                            ? -1
                            : rowOf[static_cast<std::size_t>(record)];
        moved.push_back(row < 0 ? QModelIndex() : index(row, m_persistent[i].column()));
    }
    changePersistentIndexList(m_persistent, moved);
    m_persistent.clear();
    m_persistentRecords.clear();
    emit QAbstractItemModel::layoutChanged();
}

void DocumentListModel::selectionChanged()
{
    emit listSelectionChanged();
}

} // namespace sentorix
