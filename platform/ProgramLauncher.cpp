#include "platform/ProgramLauncher.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/close_range.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace sentorix
{

// Between fork and exec only async-signal-safe calls are made: everything the children need
// (the argument vector) is built before the first fork.
bool PosixProgramLauncher::launchDetached(const std::string& program,
                                          const std::vector<std::string>& arguments)
{
    std::vector<std::string> args;
    args.reserve(arguments.size() + 1);
    args.push_back(program);
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0)
        return false;

    const pid_t middle = fork();
    if (middle < 0) {
        close(report[0]);
        close(report[1]);
        return false;
    }
    if (middle == 0) {
        // The middle child: a session of its own, then the program's process, then gone, so
        // the program is adopted by init and never waited for by us.
        close(report[0]);
        setsid();
        const pid_t child = fork();
        if (child < 0) {
            const int err = errno;
            (void)!write(report[1], &err, sizeof err);
            _exit(1);
        }
        if (child > 0)
            _exit(0);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        // No descriptor of ours (sockets of running checks, open files) reaches the program.
        close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
        execv(argv[0], argv.data());
        const int err = errno;
        (void)!write(report[1], &err, sizeof err);
        _exit(127);
    }

    close(report[1]);
    int status = 0;
    while (waitpid(middle, &status, 0) < 0 && errno == EINTR) {
    }
    // The pipe closes without a word when the exec succeeded (close-on-exec); an errno
    // arrives when it did not.
    int err = 0;
    ssize_t got;
    do {
        got = read(report[0], &err, sizeof err);
    } while (got < 0 && errno == EINTR);
    close(report[0]);
    return got == 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace sentorix
