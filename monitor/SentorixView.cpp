#include "monitor/SentorixView.h"

#include "monitor/DocumentListModel.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QMenu>
#include <QMouseEvent>

namespace sentorix
{

CSentorixView::CSentorixView(DocumentListModel& model, QWidget* parent)
    : QTableView(parent), m_model(model)
{
    setObjectName(QStringLiteral("documents"));
    setAccessibleName(tr("Documents"));
    setAccessibleDescription(tr("The watched documents with their type, status and last check"));
    setModel(&m_model);
    setShowGrid(false);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setSelectionBehavior(QAbstractItemView::SelectRows); // highlighted across all columns
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTextElideMode(Qt::ElideRight);
    setMouseTracking(true);
    setIconSize(QSize(16, 16));
    setSortingEnabled(false); // the list sorts itself, on a heading click
    setTabKeyNavigation(false);

    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    QHeaderView* heading = horizontalHeader();
    heading->setAccessibleName(tr("Columns"));
    heading->setSectionsClickable(true);
    heading->setHighlightSections(false);
    heading->setStretchLastSection(false);
    heading->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    for (int column = 0; column < 4; ++column)
        heading->resizeSection(column, kColumnWidths[column]);

    connect(heading, &QHeaderView::sectionClicked, this,
            [this](int column) { m_model.list().sortByColumn(column); });
    connect(&m_model, &DocumentListModel::listSelectionChanged, this,
            &CSentorixView::takeListSelection);
    connect(&m_model, &QAbstractItemModel::layoutChanged, this, &CSentorixView::takeListSelection);
    connect(this, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        if (index.isValid())
            emit rowDoubleClicked(index.row());
    });
}

void CSentorixView::setContextMenuFactory(std::function<QMenu*(int, QWidget*)> factory)
{
    m_menuFactory = std::move(factory);
}

int CSentorixView::selectedCount() const
{
    return m_model.list().selectedCount();
}

void CSentorixView::mouseMoveEvent(QMouseEvent* event)
{
    emit mouseMovedOverList();
    QTableView::mouseMoveEvent(event);
}

void CSentorixView::contextMenuEvent(QContextMenuEvent* event)
{
    if (!m_menuFactory)
        return;
    // Only a request at a point inside the client area shows the menu; the keyboard's
    // context-menu key names no such point (every item is on the menu bar as well).
    const QPoint at = event->globalPos();
    if (event->reason() == QContextMenuEvent::Keyboard ||
        !viewport()->rect().contains(viewport()->mapFromGlobal(at)))
        return;
    // Shown without a nested event loop; the menu deletes itself once closed.
    QMenu* menu = m_menuFactory(selectedCount(), this);
    if (!menu)
        return;
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(at);
}

void CSentorixView::selectionChanged(const QItemSelection& selected,
                                     const QItemSelection& deselected)
{
    QTableView::selectionChanged(selected, deselected);
    if (m_syncing)
        return;
    DocumentList& list = m_model.list();
    m_syncing = true;
    for (const QItemSelectionRange& range : deselected)
        for (int row = range.top(); row <= range.bottom(); ++row)
            list.setRowSelected(row, false);
    // A row still selected through another column range stays selected.
    const QItemSelection now = selectionModel()->selection();
    for (const QItemSelectionRange& range : deselected)
        for (int row = range.top(); row <= range.bottom(); ++row)
            if (now.contains(m_model.index(row, 0)))
                list.setRowSelected(row, true);
    for (const QItemSelectionRange& range : selected)
        for (int row = range.top(); row <= range.bottom(); ++row)
            list.setRowSelected(row, true);
    m_syncing = false;
    emit selectionCountChanged();
}

void CSentorixView::takeListSelection()
{
    if (m_syncing || !selectionModel())
        return;
    m_syncing = true;
    const DocumentList& list = m_model.list();
    const int last = m_model.columnCount() - 1;
    QItemSelection selection;
    int start = -1;
    const int rows = list.rowCount();
    for (int row = 0; row <= rows; ++row) {
        const bool selectedRow = row < rows && list.isRowSelected(row);
        if (selectedRow && start < 0)
            start = row;
        if (!selectedRow && start >= 0) {
            selection.select(m_model.index(start, 0), m_model.index(row - 1, last));
            start = -1;
        }
    }
    selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    m_syncing = false;
    emit selectionCountChanged();
}

} // namespace sentorix
