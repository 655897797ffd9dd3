#include "monitor/dialogs/ModalDialogs.h"

#include <QDialog>
#include <QFileDialog>

namespace sentorix::ui
{

std::deque<QMessageBox::StandardButton> MessageBox::s_answers;
std::deque<MessageBox::Asked> MessageBox::s_asked;
QMessageBox::StandardButton MessageBox::s_default = QMessageBox::NoButton;
std::deque<QString> FileDialog::s_names;
QString FileDialog::s_lastStartPath;
std::deque<DialogRunner::Handler> DialogRunner::s_handlers;

QMessageBox::StandardButton MessageBox::show(QWidget* parent, const QString& text,
                                             QMessageBox::Icon icon,
                                             QMessageBox::StandardButtons buttons,
                                             QMessageBox::StandardButton defaultButton)
{
    s_asked.push_back({text, icon});
    if (!s_answers.empty()) {
        const QMessageBox::StandardButton answer = s_answers.front();
        s_answers.pop_front();
        return answer;
    }
    if (s_default != QMessageBox::NoButton)
        return s_default;
    QMessageBox box(icon, QStringLiteral("Sentorix"), text, buttons, parent);
    if (defaultButton != QMessageBox::NoButton)
        box.setDefaultButton(defaultButton);
    box.setAccessibleName(QStringLiteral("Sentorix"));
    box.setAccessibleDescription(text);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

void MessageBox::setNextAnswer(QMessageBox::StandardButton answer)
{
    s_answers.push_back(answer);
}

void MessageBox::setDefaultAnswer(QMessageBox::StandardButton answer)
{
    s_default = answer;
}

const std::deque<MessageBox::Asked>& MessageBox::asked()
{
    return s_asked;
}

void MessageBox::clearAsked()
{
    s_asked.clear();
    s_answers.clear();
}

QString FileDialog::getOpenFileName(QWidget* parent, const QString& caption, const QString& folder,
                                    const QString& filter)
{
    s_lastStartPath = folder;
    if (!s_names.empty()) {
        const QString name = s_names.front();
        s_names.pop_front();
        return name;
    }
    return QFileDialog::getOpenFileName(parent, caption, folder, filter);
}

QString FileDialog::getSaveFileName(QWidget* parent, const QString& caption, const QString& path,
                                    const QString& filter)
{
    s_lastStartPath = path;
    if (!s_names.empty()) {
        const QString name = s_names.front();
        s_names.pop_front();
        return name;
    }
    return QFileDialog::getSaveFileName(parent, caption, path, filter);
}

void FileDialog::setNextFileName(const QString& name)
{
    s_names.push_back(name);
}

QString FileDialog::lastStartPath()
{
    return s_lastStartPath;
}

int DialogRunner::exec(QDialog& dialog)
{
    if (s_handlers.empty())
        return dialog.exec();
    const Handler handler = std::move(s_handlers.front());
    s_handlers.pop_front();
    dialog.setResult(QDialog::Rejected);
    dialog.show();
    handler(dialog);
    if (dialog.isVisible())
        dialog.reject();
    return dialog.result();
}

void DialogRunner::setNextHandler(Handler handler)
{
    s_handlers.push_back(std::move(handler));
}

void DialogRunner::clearHandlers()
{
    s_handlers.clear();
}

} // namespace sentorix::ui
