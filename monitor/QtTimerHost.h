// The document list window's timers on QTimers; every tick goes to one callback on the UI
// thread (the engine's onViewTimer).
#pragma once

#include "monitor/check/TimerHost.h"

#include <QObject>

#include <functional>
#include <map>
#include <memory>

class QTimer;

namespace sentorix::ui
{

class QtTimerHost final : public QObject, public TimerHost
{
    Q_OBJECT
public:
    explicit QtTimerHost(QObject* parent = nullptr);
    ~QtTimerHost() override;

    void setTickHandler(std::function<void(int id)> handler);

    void armTimer(int id, long long periodMs) override;
    void stopTimer(int id) override;

    bool isRunning(int id) const;
    long long periodMs(int id) const;
    // Test seam: one tick of a running timer now, as its QTimer would give it; false when the
    // timer does not run.
    bool tickNow(int id);

private:
    std::function<void(int)> m_tick;
    std::map<int, std::unique_ptr<QTimer>> m_timers;
};

} // namespace sentorix::ui
