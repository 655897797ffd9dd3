#include "PausedChild.h"

#include <unistd.h>

namespace sentorix::test
{

pid_t forkPausedChild(const std::function<std::string()>& work, std::string& result)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return -1;
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return -1;
    }
    if (child == 0) {
        ::close(fds[0]);
        const std::string text = work();
        std::size_t sent = 0;
        while (sent < text.size()) {
            const ssize_t n = ::write(fds[1], text.data() + sent, text.size() - sent);
            if (n <= 0)
                ::_exit(1);
            sent += static_cast<std::size_t>(n);
        }
        ::close(fds[1]); // the parent's read ends here
        for (;;)
            ::pause();
    }
    ::close(fds[1]);
    result.clear();
    char buffer[4096];
    ssize_t got = 0;
    while ((got = ::read(fds[0], buffer, sizeof buffer)) > 0)
        result.append(buffer, static_cast<std::size_t>(got));
    ::close(fds[0]);
    return child;
}

} // namespace sentorix::test
