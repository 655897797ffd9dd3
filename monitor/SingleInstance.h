// One running monitor per user and DataFolder: the first start listens on a per-user local
// socket; a later start connects to it, asks the running monitor to bring its window to the
// front and ends.
#pragma once

#include <QObject>
#include <QString>

#include <string>

class QLocalServer;

namespace sentorix::ui
{

class SingleInstance final : public QObject
{
    Q_OBJECT
public:
    explicit SingleInstance(QString name, QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when another monitor answered and was asked to come to the front.
    bool notifyRunning(int timeoutMs = 2000);
    // Starts listening; false when the socket cannot be had.
    bool listen();

    const QString& name() const { return m_name; }
    // The socket of the monitor of this user on this DataFolder ("Sentorix-<uid>-<hash>"), so
    // a monitor started on another DataFolder is another instance, as the folder lock says.
    static QString nameFor(const std::string& dataFolder);

signals:
    void showRequested();

private:
    QString m_name;
    QLocalServer* m_server = nullptr;
};

} // namespace sentorix::ui
