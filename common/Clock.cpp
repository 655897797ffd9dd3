#include "common/Clock.h"

#include "common/TimeText.h"

namespace sentorix
{

std::tm SystemClock::localNow() const
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (!localtime_r(&now, &local))
        return std::tm{};
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
