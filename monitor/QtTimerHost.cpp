#include "monitor/QtTimerHost.h"

#include <QTimer>

#include <algorithm>
#include <limits>

namespace sentorix::ui
{

QtTimerHost::QtTimerHost(QObject* parent) : QObject(parent) {}

QtTimerHost::~QtTimerHost() = default;

void QtTimerHost::setTickHandler(std::function<void(int)> handler)
{
    m_tick = std::move(handler);
}

void QtTimerHost::armTimer(int id, long long periodMs)
{
    auto& timer = m_timers[id];
    if (!timer) {
        timer = std::make_unique<QTimer>();
        connect(timer.get(), &QTimer::timeout, this, [this, id] {
            if (m_tick)
                m_tick(id);
        });
    }
    // QTimer counts in int milliseconds (24.8 days); a longer period (checkIntervalMinutes
    // is not bounded by the record) is clamped rather than wrapped into a short one.
    const long long bounded = std::clamp<long long>(periodMs, 0, std::numeric_limits<int>::max());
    timer->start(std::chrono::milliseconds(bounded));
}

void QtTimerHost::stopTimer(int id)
{
    const auto found = m_timers.find(id);
    if (found != m_timers.end())
        found->second->stop();
}

bool QtTimerHost::isRunning(int id) const
{
    const auto found = m_timers.find(id);
    return found != m_timers.end() && found->second->isActive();
}

bool QtTimerHost::tickNow(int id)
{
    if (!isRunning(id))
        return false;
    if (m_tick)
        m_tick(id); // what the timer's timeout calls
    return true;
}

long long QtTimerHost::periodMs(int id) const
{
    const auto found = m_timers.find(id);
    return found == m_timers.end() ? 0 : found->second->interval();
}

} // namespace sentorix::ui
