// Every modal window the monitor opens on its own (message boxes, Yes/No questions, the open
// and save file dialogs, its own dialogs and viewers) goes through these wrappers, so a test
// can answer one before it opens and never hangs on it.
#pragma once

#include <QMessageBox>
#include <QString>

#include <deque>
#include <functional>

class QDialog;
class QWidget;

namespace sentorix::ui
{

class MessageBox
{
public:
    // Shows a modal message box with the program's title and returns the button pressed.
    static QMessageBox::StandardButton
    show(QWidget* parent, const QString& text, QMessageBox::Icon icon,
         QMessageBox::StandardButtons buttons = QMessageBox::Ok,
         QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);

    // Test seams: the next boxes are not shown but answered with these buttons, in order.
    // Every box asked for (answered or shown) is recorded with its text and icon.
    static void setNextAnswer(QMessageBox::StandardButton answer);
    // Test seam: once the queue is empty, boxes are answered with this button instead of
    // shown (NoButton, the start value, shows them again).
    static void setDefaultAnswer(QMessageBox::StandardButton answer);
    struct Asked {
        QString text;
        QMessageBox::Icon icon;
    };
    static const std::deque<Asked>& asked();
    static void clearAsked();

private:
    static std::deque<QMessageBox::StandardButton> s_answers;
    static std::deque<Asked> s_asked;
    static QMessageBox::StandardButton s_default;
};

class FileDialog
{
public:
    // An empty text means the user cancelled.
    static QString getOpenFileName(QWidget* parent, const QString& caption, const QString& folder,
                                   const QString& filter = QString());
    static QString getSaveFileName(QWidget* parent, const QString& caption, const QString& path,
                                   const QString& filter = QString());

    // Test seams: the next dialog is not shown but answered with this name ("" = cancelled);
    // the folder or path it would have started in is kept for the test to read.
    static void setNextFileName(const QString& name);
    static QString lastStartPath();

private:
    static std::deque<QString> s_names;
    static QString s_lastStartPath;
};

// Runs one of the program's own dialogs modally and returns its result code.
class DialogRunner
{
public:
    static int exec(QDialog& dialog);

    // Test seam: the next dialogs are not run modally but shown and handed to these handlers,
    // in order; a handler acts as the user would (types, clicks) and usually closes the
    // dialog. A dialog the handler left open counts as cancelled.
    using Handler = std::function<void(QDialog& dialog)>;
    static void setNextHandler(Handler handler);
    static void clearHandlers();

private:
    static std::deque<Handler> s_handlers;
};

} // namespace sentorix::ui
