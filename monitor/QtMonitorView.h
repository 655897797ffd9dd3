// The core's view on Qt. A worker's report is queued to the UI thread and the worker goes on
// at once; only a message box blocks its caller, and it is shown modal to the main window
// (through ui::MessageBox, so tests answer it in advance). On the UI thread each report is
// carried out on the list model, the list, the tray or the desktop.
#pragma once

#include "monitor/check/QueuedView.h"

#include <QObject>
#include <QPointer>

#include <functional>

class QWidget;

namespace sentorix
{

class DocumentListModel;

class QtMonitorView final : public QObject, public QueuedView
{
    Q_OBJECT
public:
    // Construct it on the UI thread.
    explicit QtMonitorView(QObject* parent = nullptr);
    ~QtMonitorView() override;

    // Set once the window and the list exist (and reset before they go); until then a report
    // finds no row.
    void setModel(DocumentListModel* model) { m_model = model; }
    void setDialogParent(QWidget* parent) { m_dialogParent = parent; }
    void setBlinkStarter(std::function<void()> start) { m_startBlink = std::move(start); }
    void setDocumentOpener(std::function<void(int record, bool showMessages)> open)
    {
        m_open = std::move(open);
    }

signals:
    // A record's row was redrawn or selected by a report (the status pane follows).
    void reportCarriedOut();
    // A report selected the record: the list shows its row.
    void recordSelected(int record);

protected:
    void onRecordChanged(int record) override;
    void onSelectRecord(int record) override;
    void onStartBlink() override;
    void onOpenDocument(int record, bool showMessages) override;
    MessageAnswer onMessage(const std::string& text, MessageIcon icon,
                            MessageButtons buttons) override;
    void wakeUiThread() override;

private:
    DocumentListModel* m_model = nullptr;
    QPointer<QWidget> m_dialogParent;
    std::function<void()> m_startBlink;
    std::function<void(int, bool)> m_open;
};

} // namespace sentorix
