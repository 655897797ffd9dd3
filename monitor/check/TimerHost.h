// The timers of the document list window, behind a small interface: the windowed monitor
// implements it with window timers, the command-line front end and the tests with their own.
#pragma once

namespace sentorix
{

enum TimerId : int {
    kPeriodicTimer = 1, // periodic check: checkAll every checkIntervalMinutes
    kBlinkTimer = 2,    // one step of the tray icon's blink cycle, 500 ms
    kPromptTimer = 3,   // the first-document prompt, once, 2000 ms after start
    kMailTimer = 4,     // the mail hand-off (runMailer), every 60000 ms
    kStartupTimer = 5,  // the start-up check, once, 5000 ms after start
};

inline constexpr long long kBlinkPeriodMs = 500;
inline constexpr long long kPromptDelayMs = 2000;
inline constexpr long long kMailPeriodMs = 60000;
inline constexpr long long kStartupDelayMs = 5000;

// Called on the UI thread only. Every tick of a timer is delivered to
// CheckEngine::onViewTimer(id) on the UI thread.
class TimerHost
{
public:
    virtual ~TimerHost() = default;
    // Arms timer `id` to tick every `periodMs`; arming a running timer restarts its period.
    virtual void armTimer(int id, long long periodMs) = 0;
    // Stops timer `id`; nothing when it does not run.
    virtual void stopTimer(int id) = 0;
};

} // namespace sentorix
