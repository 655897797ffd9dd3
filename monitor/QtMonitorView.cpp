#include "monitor/QtMonitorView.h"

#include "monitor/DocumentListModel.h"
#include "monitor/dialogs/ModalDialogs.h"

#include <QMetaObject>

namespace sentorix
{

QtMonitorView::QtMonitorView(QObject* parent) : QObject(parent) {}

QtMonitorView::~QtMonitorView() = default;

void QtMonitorView::onRecordChanged(int record)
{
    if (m_model)
        m_model->recordChanged(record);
    emit reportCarriedOut();
}

void QtMonitorView::onSelectRecord(int record)
{
    if (m_model)
        m_model->list().selectRecord(record);
    emit recordSelected(record);
    emit reportCarriedOut();
}

void QtMonitorView::onStartBlink()
{
    if (m_startBlink)
        m_startBlink();
}

void QtMonitorView::onOpenDocument(int record, bool showMessages)
{
    if (m_open)
        m_open(record, showMessages);
}

MessageAnswer QtMonitorView::onMessage(const std::string& text, MessageIcon icon,
                                       MessageButtons buttons)
{
    QMessageBox::Icon boxIcon = QMessageBox::Information;
    switch (icon) {
    case MessageIcon::Information:
        boxIcon = QMessageBox::Information;
        break;
    case MessageIcon::Warning:
        boxIcon = QMessageBox::Warning;
        break;
    case MessageIcon::Question:
        boxIcon = QMessageBox::Question;
        break;
    case MessageIcon::Stop:
        boxIcon = QMessageBox::Critical;
        break;
    }
    const bool yesNo = buttons == MessageButtons::YesNo;
    const QMessageBox::StandardButton answer =
        ui::MessageBox::show(m_dialogParent, QString::fromStdString(text), boxIcon,
                             yesNo ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok,
                             yesNo ? QMessageBox::No : QMessageBox::Ok);
    if (!yesNo)
        return MessageAnswer::Ok;
    return answer == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
}

// Any thread: one queued call per report; deliverReports carries out whatever waits, so a
// call finding an empty queue does nothing. The call dies with the view.
void QtMonitorView::wakeUiThread()
{
    QMetaObject::invokeMethod(
        this, [this] { deliverReports(); }, Qt::QueuedConnection);
}

} // namespace sentorix
