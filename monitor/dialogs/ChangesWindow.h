// The "View Changes..." window: what the last detected change of a document changed, side by
// side or inline, deleted lines and words on red, inserted ones on green, with a toolbar and
// keys (F7, Shift+F7) that step from one change to the next.
//
// The versions are loaded and compared on a pool thread; the window shows "Comparing..." until
// the result arrives on the UI thread. A window closed meanwhile simply drops the result.
#pragma once

#include "monitor/check/DocumentChanges.h"
#include "monitor/data/DocumentRecord.h"

#include <QColor>
#include <QWidget>

#include <string>
#include <vector>

class QAction;
class QLabel;
class QPlainTextEdit;
class QStackedWidget;
class QTextDocument;

namespace sentorix::ui
{

inline constexpr const char* kViewChangesText = "View Changes...";

class ChangesWindow : public QWidget
{
    Q_OBJECT

public:
    enum class Layout { SideBySide, Inline };

    explicit ChangesWindow(QWidget* parent = nullptr);

    // Compares the document's versions off the UI thread and shows them when done.
    void load(const std::string& dataFolder, const DocumentRecord& record);
    // Shows an already compared result (also what load() ends with).
    void showChanges(const DocumentChanges& changes);

    bool loaded() const { return m_loaded; }
    Layout layout() const { return m_layout; }
    void setLayout(Layout layout);
    int changeCount() const { return static_cast<int>(m_changes.size()); }
    int currentChange() const { return m_current; }
    void nextChange();
    void previousChange();

    // For tests and the status line: what is shown.
    QString message() const;
    QTextDocument* inlineDocument() const;
    QTextDocument* oldDocument() const;
    QTextDocument* newDocument() const;
    // The block (line of the shown document) the current change starts at, in the layout shown.
    int currentBlock() const;

    static QColor deletedLineColor();
    static QColor deletedWordColor();
    static QColor insertedLineColor();
    static QColor insertedWordColor();

signals:
    void changesShown();

private:
    void render();
    void goToChange(int index);

    Layout m_layout = Layout::SideBySide;
    bool m_loaded = false;
    DocumentChanges m_result;
    // Per change: its first block in the inline view and in the side-by-side views.
    struct ChangeStart {
        int inlineBlock = 0;
        int sideBlock = 0;
    };
    std::vector<ChangeStart> m_changes;
    int m_current = -1;

    QLabel* m_header = nullptr;
    QLabel* m_message = nullptr;
    QStackedWidget* m_stack = nullptr;
    QPlainTextEdit* m_inline = nullptr;
    QPlainTextEdit* m_old = nullptr;
    QPlainTextEdit* m_new = nullptr;
    QAction* m_sideBySideAction = nullptr;
    QAction* m_inlineAction = nullptr;
    QAction* m_nextAction = nullptr;
    QAction* m_previousAction = nullptr;
};

} // namespace sentorix::ui
