// The per-user lock that keeps two front ends (the windowed monitor, sentorix-cli) from
// working on one DataFolder at the same time: an exclusive flock on "Sentorix.lock" in the
// DataFolder, released when the holder ends, even by a crash.
#pragma once

#include <string>

namespace sentorix
{

inline constexpr const char* kInstanceLockFile = "Sentorix.lock";

class InstanceLock
{
public:
    InstanceLock() = default;
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;
    ~InstanceLock();

    enum class Result { Acquired, Busy, Failed };

    // Takes the lock without waiting; Busy when another process holds it.
    Result tryAcquire(const std::string& dataFolder);
    // Waits up to `seconds` for the lock.
    Result acquire(const std::string& dataFolder, int seconds);
    void release();
    bool held() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

} // namespace sentorix
