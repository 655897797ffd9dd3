// The document list view, the main window's client. It shows DocumentListModel with full-row
// highlighting, keeps the Qt selection and the DocumentList's selection the same both ways,
// sorts on a heading click (the list's own sort, one direction flag for every column), opens
// a document on a double click, offers the context menu inside its client area only, and
// tells the window when the mouse moves over it (the user is back: trayMode 0).
#pragma once

#include <QTableView>

#include <functional>

class QMenu;

namespace sentorix
{

class DocumentListModel;

// Name, Type, Status, Last Check.
inline constexpr int kColumnWidths[] = {250, 130, 150, 170};

class CSentorixView final : public QTableView
{
    Q_OBJECT
public:
    explicit CSentorixView(DocumentListModel& model, QWidget* parent = nullptr);

    // Builds the context menu for a number of selected rows (the window owns its items).
    void setContextMenuFactory(std::function<QMenu*(int selected, QWidget* parent)> factory);
    int selectedCount() const;

signals:
    void mouseMovedOverList();
    // A double click on a row (the document is opened).
    void rowDoubleClicked(int row);
    // The selection changed, by the user or by the list.
    void selectionCountChanged();

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void selectionChanged(const QItemSelection& selected,
                          const QItemSelection& deselected) override;

private:
    // Copies the DocumentList's selection into the Qt selection.
    void takeListSelection();

    DocumentListModel& m_model;
    std::function<QMenu*(int, QWidget*)> m_menuFactory;
    bool m_syncing = false;
};

} // namespace sentorix
