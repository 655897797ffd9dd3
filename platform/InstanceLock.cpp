#include "InstanceLock.h"

#include "common/DataFolder.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace sentorix
{

InstanceLock::~InstanceLock()
{
    release();
}

InstanceLock::Result InstanceLock::tryAcquire(const std::string& dataFolder)
{
    release();
    std::string path = joinPath(dataFolder, kInstanceLockFile);
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return Result::Failed;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int err = errno;
        ::close(fd);
        return err == EWOULDBLOCK ? Result::Busy : Result::Failed;
    }
    m_fd = fd;
    return Result::Acquired;
}

InstanceLock::Result InstanceLock::acquire(const std::string& dataFolder, int seconds)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (;;) {
        Result r = tryAcquire(dataFolder);
        if (r != Result::Busy || std::chrono::steady_clock::now() >= deadline)
            return r;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

void InstanceLock::release()
{
    if (m_fd >= 0) {
        ::flock(m_fd, LOCK_UN);
        ::close(m_fd);
        m_fd = -1;
    }
}

} // namespace sentorix
