// Where the time texts of the monitor come from. Production code reads the system clock;
// tests hand in a clock that stands still, so they can state an exact "Last Check" text or
// MessageLog entry.
#pragma once

#include <ctime>
#include <string>

namespace sentorix
{

class Clock
{
public:
    virtual ~Clock() = default;
    // The current local broken-down time. Called from any thread.
    virtual std::tm localNow() const = 0;
};

// The system's local time.
class SystemClock final : public Clock
{
public:
    std::tm localNow() const override;
};

// The process-wide system clock.
const Clock& systemClock();

// The clock's current time as time text ("2011/05/07 [09:03:00]").
std::string formatTimeText(const Clock& clock);

} // namespace sentorix
