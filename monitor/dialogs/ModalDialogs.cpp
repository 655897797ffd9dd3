#include "monitor/dialogs/ModalDialogs.h"

#include <QFileDialog>

namespace sentorix::ui
{

std::deque<QMessageBox::StandardButton> MessageBox::s_answers;
std::deque<MessageBox::Asked> MessageBox::s_asked;
std::deque<QString> FileDialog::s_names;
QString FileDialog::s_lastStartPath;

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

} // namespace sentorix::ui
