// The document list as a Qt table model: a thin adapter over the toolkit-free DocumentList
// (which holds the rows, their order and their selection) and the DocumentTable (which holds
// each row's record). No row is copied here: every call reads the list and the table, and
// the list's changes arrive through its listener as the model's begin/end calls.
#pragma once

#include "monitor/data/DocumentList.h"

#include <QAbstractTableModel>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sentorix
{

class DocumentTable;

// The status image of a status: busy while Retrieving or Waiting, then Changed and
// Unavailable, the normal image for every other value.
int statusImageOf(int32_t status);

class DocumentListModel final : public QAbstractTableModel, public DocumentListListener
{
    Q_OBJECT
public:
    DocumentListModel(DocumentList& list, const DocumentTable& table, QObject* parent = nullptr);
    ~DocumentListModel() override;

    // Why a record is Unavailable (empty when unknown); the row's tool tip.
    void setReasonSource(std::function<std::string(int record)> reason);
    QString reasonOfRow(int row) const;

    DocumentList& list() { return m_list; }
    const DocumentTable& table() const { return m_table; }

    // A record's texts or status changed: its row is redrawn (nothing when it has no row).
    void recordChanged(int record);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // --- DocumentListListener ---
    void rowAboutToBeInserted(int row) override;
    void rowInserted(int row) override;
    void rowAboutToBeRemoved(int row) override;
    void rowRemoved(int row) override;
    void layoutAboutToChange() override;
    void layoutChanged() override;
    void selectionChanged() override;

signals:
    // The list's own selection changed (Select All, a change notification, a removal, ...).
    void listSelectionChanged();
    // A row was redrawn because its record changed.
    void recordRedrawn(int row);

private:
    DocumentList& m_list;
    const DocumentTable& m_table;
    std::function<std::string(int)> m_reason;
    QModelIndexList m_persistent;
    std::vector<int> m_persistentRecords;
};

} // namespace sentorix
