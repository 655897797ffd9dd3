// One running monitor per user: the first start listens on a per-user local socket; a later
// start connects to it, asks the running monitor to bring its window to the front and ends.
#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

namespace sentorix::ui
{

class SingleInstance final : public QObject
{
    Q_OBJECT
public:
    // `name` defaults to one per user ("Sentorix-<uid>").
    explicit SingleInstance(QString name = QString(), QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when another monitor answered and was asked to come to the front.
    bool notifyRunning(int timeoutMs = 2000);
    // Starts listening; false when the socket cannot be had.
    bool listen();

    const QString& name() const { return m_name; }
    static QString defaultName();

signals:
    void showRequested();

private:
    QString m_name;
    QLocalServer* m_server = nullptr;
};

} // namespace sentorix::ui
