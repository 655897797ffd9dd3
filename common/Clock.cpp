#include "common/Clock.h"

#include "common/TimeText.h"

namespace sentorix
{

std::tm SystemClock::localNow() const
{
    // A check stamps every document it ends with the time, a thousand in a second: each
    // thread converts a second once.
    thread_local std::time_t lastSecond = -1;
    thread_local std::tm lastLocal{};
    const std::time_t now = std::time(nullptr);
    if (now == lastSecond)
        return lastLocal;
    std::tm local{};
    if (!localtime_r(&now, &local))
        return std::tm{};
    lastSecond = now;
    lastLocal = local;
    return local;
}

const Clock& systemClock()
{
    static const SystemClock clock;
    return clock;
}

std::string formatTimeText(const Clock& clock)
{
    return formatTimeText(clock.localNow());
}

} // namespace sentorix
