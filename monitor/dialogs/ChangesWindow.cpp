#include "monitor/dialogs/ChangesWindow.h"

#include "common/FixedText.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTextBlock>
#include <QTextCursor>
#include <QThreadPool>
#include <QToolBar>
#include <QVBoxLayout>

#include <memory>

namespace sentorix::ui
{
namespace
{

QString text(std::string_view bytes)
{
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

QString sizeText(std::size_t bytes)
{
    return QString::number(static_cast<qulonglong>(bytes)) + " bytes";
}

QString timeText(std::time_t when)
{
    return text(diffTimeText(when));
}

QColor headerColor()
{
    return QColor(0xe8, 0xe8, 0xf4);
}

QColor fillerColor()
{
    return QColor(0xf0, 0xf0, 0xf0);
}

QPlainTextEdit* makeEditor(QWidget* parent)
{
    auto* editor = new QPlainTextEdit(parent);
    editor->setReadOnly(true);
    editor->setLineWrapMode(QPlainTextEdit::NoWrap);
    editor->setUndoRedoEnabled(false);
    QFont font = editor->font();
    font.setFamily("monospace");
    font.setStyleHint(QFont::Monospace);
    editor->setFont(font);
    return editor;
}

// Appends one line (a new block unless the document is empty) with a line background and
// the changed words on a stronger one.
void appendLine(QTextCursor& cursor, const QString& prefix, std::string_view line,
                const std::vector<WordRange>& words, const QColor& lineColor,
                const QColor& wordColor)
{
    // A block that holds a line is marked; the empty first block of a document is not.
    if (cursor.block().userState() == 1)
        cursor.insertBlock();
    cursor.block().setUserState(1);
    QTextBlockFormat block;
    if (lineColor.isValid())
        block.setBackground(lineColor);
    cursor.setBlockFormat(block);
    QTextCharFormat plain;
    QTextCharFormat strong;
    strong.setBackground(wordColor);
    cursor.insertText(prefix, plain);
    std::size_t at = 0;
    for (const WordRange& word : words) {
        if (word.begin > line.size())
            break;
        cursor.insertText(text(line.substr(at, word.begin - at)), plain);
        cursor.insertText(text(line.substr(word.begin, word.length)), strong);
        at = word.begin + word.length;
    }
    if (at < line.size())
        cursor.insertText(text(line.substr(at)), plain);
}

} // namespace

QColor ChangesWindow::deletedLineColor()
{
    return QColor(0xff, 0xe4, 0xe4);
}

QColor ChangesWindow::deletedWordColor()
{
    return QColor(0xff, 0xa8, 0xa8);
}

QColor ChangesWindow::insertedLineColor()
{
    return QColor(0xdc, 0xf8, 0xdc);
}

QColor ChangesWindow::insertedWordColor()
{
    return QColor(0x96, 0xe6, 0x96);
}

ChangesWindow::ChangesWindow(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setAttribute(Qt::WA_DeleteOnClose, false);
    resize(900, 600);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);

    auto* toolbar = new QToolBar(this);
    auto* group = new QActionGroup(this);
    m_sideBySideAction = toolbar->addAction("Side by Side");
    m_inlineAction = toolbar->addAction("Inline");
    for (QAction* action : {m_sideBySideAction, m_inlineAction}) {
        action->setCheckable(true);
        group->addAction(action);
    }
    m_sideBySideAction->setChecked(true);
    toolbar->addSeparator();
    m_previousAction = toolbar->addAction("Previous Change");
    m_previousAction->setShortcuts(
        {QKeySequence(Qt::SHIFT | Qt::Key_F7), QKeySequence(Qt::ALT | Qt::Key_Up)});
    m_nextAction = toolbar->addAction("Next Change");
    m_nextAction->setShortcuts({QKeySequence(Qt::Key_F7), QKeySequence(Qt::ALT | Qt::Key_Down)});
    for (QAction* action : {m_previousAction, m_nextAction}) {
        action->setShortcutContext(Qt::WindowShortcut);
        action->setEnabled(false);
    }
    layout->addWidget(toolbar);
    connect(m_sideBySideAction, &QAction::triggered, this,
            [this] { setLayout(Layout::SideBySide); });
    connect(m_inlineAction, &QAction::triggered, this, [this] { setLayout(Layout::Inline); });
    connect(m_nextAction, &QAction::triggered, this, [this] { nextChange(); });
    connect(m_previousAction, &QAction::triggered, this, [this] { previousChange(); });

    m_header = new QLabel(this);
    m_header->setContentsMargins(6, 2, 6, 2);
    layout->addWidget(m_header);
    m_message = new QLabel("Comparing...", this);
    m_message->setContentsMargins(6, 6, 6, 6);
    m_message->setWordWrap(true);
    layout->addWidget(m_message);

    m_stack = new QStackedWidget(this);
    auto* sides = new QWidget(m_stack);
    auto* sidesLayout = new QHBoxLayout(sides);
    sidesLayout->setContentsMargins(0, 0, 0, 0);
    m_old = makeEditor(sides);
    m_new = makeEditor(sides);
    sidesLayout->addWidget(m_old);
    sidesLayout->addWidget(m_new);
    m_inline = makeEditor(m_stack);
    m_stack->addWidget(sides);
    m_stack->addWidget(m_inline);
    m_stack->hide();
    layout->addWidget(m_stack, 1);
    // The two sides scroll together.
    for (auto [from, to] : {std::pair{m_old, m_new}, std::pair{m_new, m_old}}) {
        connect(from->verticalScrollBar(), &QScrollBar::valueChanged, to->verticalScrollBar(),
                &QScrollBar::setValue);
        connect(from->horizontalScrollBar(), &QScrollBar::valueChanged, to->horizontalScrollBar(),
                &QScrollBar::setValue);
    }
}

void ChangesWindow::load(const std::string& dataFolder, const DocumentRecord& record)
{
    setWindowTitle("Changes - " + text(fieldText(record.displayName)));
    m_loaded = false;
    m_message->setText("Comparing...");
    m_message->show();
    m_stack->hide();
    QPointer<ChangesWindow> window(this);
    QThreadPool::globalInstance()->start([window, dataFolder, record] {
        auto changes = std::make_shared<DocumentChanges>(compareVersions(dataFolder, record));
        // qApp outlives every window; the window itself may be gone when the result arrives.
        QMetaObject::invokeMethod(
            qApp,
            [window, changes] {
                if (window)
                    window->showChanges(*changes);
            },
            Qt::QueuedConnection);
    });
}

void ChangesWindow::showChanges(const DocumentChanges& changes)
{
    m_result = changes;
    m_loaded = true;
    render();
    emit changesShown();
}

QString ChangesWindow::message() const
{
    return m_message->isVisible() || m_stack->isHidden() ? m_message->text() : QString();
}

void ChangesWindow::render()
{
    m_changes.clear();
    m_current = -1;
    const DocumentChanges& c = m_result;
    const QString previous = text(c.previous.name) + " (" + timeText(c.previous.time) + ")";
    const QString current = text(c.current.name) + " (" + timeText(c.current.time) + ")";
    m_header->setText(c.result == ChangesResult::NoPrevious ? QString()
                                                            : previous + "  \u2192  " + current);
    const QString sizes =
        " (previous " + sizeText(c.diff.oldSize) + ", current " + sizeText(c.diff.newSize) + ").";
    QString message;
    if (c.result == ChangesResult::NoPrevious) {
        message = "This document has no previous version: no change was detected yet.";
    } else if (c.result == ChangesResult::Counts) {
        message = "Count of \"" + text(c.countString) + "\": previous " +
                  QString::number(c.previousCount) + ", current " +
                  QString::number(c.currentCount) + ".";
    } else {
        switch (c.diff.outcome) {
        case DiffOutcome::Same:
            message = "The previous and the current version are the same.";
            break;
        case DiffOutcome::Binary:
            message = "The versions are not text and differ" + sizes;
            break;
        case DiffOutcome::TooLarge:
            message = "The versions are too large to compare in detail" + sizes;
            break;
        case DiffOutcome::Different:
            break;
        }
    }
    m_nextAction->setEnabled(false);
    m_previousAction->setEnabled(false);
    if (!message.isEmpty()) {
        m_message->setText(message);
        m_message->show();
        m_stack->hide();
        return;
    }
    m_message->hide();

    const TextDiff& diff = c.diff;
    m_inline->clear();
    m_old->clear();
    m_new->clear();
    QTextCursor in(m_inline->document());
    QTextCursor left(m_old->document());
    QTextCursor right(m_new->document());
    const std::vector<WordRange> none;
    for (const DiffHunk& hunk : diff.hunks) {
        const QString header = QString("@@ -%1,%2 +%3,%4 @@")
                                   .arg(hunk.oldStart + 1)
                                   .arg(hunk.oldCount)
                                   .arg(hunk.newStart + 1)
                                   .arg(hunk.newCount);
        appendLine(in, header, {}, none, headerColor(), QColor());
        appendLine(left, header, {}, none, headerColor(), QColor());
        appendLine(right, header, {}, none, headerColor(), QColor());
        std::size_t k = 0;
        while (k < hunk.lines.size()) {
            const DiffLine& line = hunk.lines[k];
            if (line.op == DiffOp::Same) {
                const std::string_view same = diff.newLineText(line.newLine);
                appendLine(in, "  ", same, none, QColor(), QColor());
                appendLine(left, {}, diff.oldLineText(line.oldLine), none, QColor(), QColor());
                appendLine(right, {}, same, none, QColor(), QColor());
                ++k;
                continue;
            }
            m_changes.push_back({in.blockNumber() + 1, left.blockNumber() + 1});
            std::vector<const DiffLine*> deleted;
            std::vector<const DiffLine*> inserted;
            for (; k < hunk.lines.size() && hunk.lines[k].op != DiffOp::Same; ++k)
                (hunk.lines[k].op == DiffOp::Deleted ? deleted : inserted)
                    .push_back(&hunk.lines[k]);
            for (const DiffLine* d : deleted)
                appendLine(in, "- ", diff.oldLineText(d->oldLine), d->words, deletedLineColor(),
                           deletedWordColor());
            for (const DiffLine* i : inserted)
                appendLine(in, "+ ", diff.newLineText(i->newLine), i->words, insertedLineColor(),
                           insertedWordColor());
            const std::size_t rows = std::max(deleted.size(), inserted.size());
            for (std::size_t r = 0; r < rows; ++r) {
                if (r < deleted.size())
                    appendLine(left, {}, diff.oldLineText(deleted[r]->oldLine), deleted[r]->words,
                               deletedLineColor(), deletedWordColor());
                else
                    appendLine(left, {}, {}, none, fillerColor(), QColor());
                if (r < inserted.size())
                    appendLine(right, {}, diff.newLineText(inserted[r]->newLine),
                               inserted[r]->words, insertedLineColor(), insertedWordColor());
                else
                    appendLine(right, {}, {}, none, fillerColor(), QColor());
            }
        }
    }
    m_stack->show();
    setLayout(m_layout);
    const bool any = !m_changes.empty();
    m_nextAction->setEnabled(any);
    m_previousAction->setEnabled(any);
    if (any)
        goToChange(0);
}

void ChangesWindow::setLayout(Layout layout)
{
    m_layout = layout;
    m_stack->setCurrentIndex(layout == Layout::SideBySide ? 0 : 1);
    (layout == Layout::SideBySide ? m_sideBySideAction : m_inlineAction)->setChecked(true);
    if (m_current >= 0)
        goToChange(m_current);
}

void ChangesWindow::nextChange()
{
    if (!m_changes.empty())
        goToChange(std::min(m_current + 1, changeCount() - 1));
}

void ChangesWindow::previousChange()
{
    if (!m_changes.empty())
        goToChange(std::max(m_current - 1, 0));
}

int ChangesWindow::currentBlock() const
{
    if (m_current < 0)
        return -1;
    const ChangeStart& start = m_changes[static_cast<std::size_t>(m_current)];
    return m_layout == Layout::Inline ? start.inlineBlock : start.sideBlock;
}

void ChangesWindow::goToChange(int index)
{
    m_current = index;
    const ChangeStart& start = m_changes[static_cast<std::size_t>(index)];
    auto place = [](QPlainTextEdit* editor, int block) {
        QTextCursor cursor(editor->document()->findBlockByNumber(block));
        editor->setTextCursor(cursor);
        editor->centerCursor();
    };
    if (m_layout == Layout::Inline) {
        place(m_inline, start.inlineBlock);
    } else {
        place(m_old, start.sideBlock);
        place(m_new, start.sideBlock);
    }
}

QTextDocument* ChangesWindow::inlineDocument() const
{
    return m_inline->document();
}

QTextDocument* ChangesWindow::oldDocument() const
{
    return m_old->document();
}

QTextDocument* ChangesWindow::newDocument() const
{
    return m_new->document();
}

} // namespace sentorix::ui
