#include "common/MailHandoff.h"

#include "common/DataFolder.h"
#include "common/TextFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace sentorix
{

// How the MessageLog is shared without losing or tearing an entry.
//
// Any number of monitor threads append entries, and a mailer process takes the file away for
// its run. Both sides hold flock(LOCK_EX) on the file while they act on it:
//  - a writer opens "Postavo.msg" for appending (creating it when absent), takes the lock, and
//    then checks that the path still names the file it holds. If not, a mailer claimed that
//    file between the open and the lock: the writer closes it and starts again, so its entry
//    goes to the new MessageLog. Otherwise it writes the whole entry with one write loop
//    (taking back a partial entry when the disk refuses the rest), then closes, which unlocks.
//  - the mailer's claim opens the file, takes the same lock and renames the file to a name of
//    its own while holding it, so no writer is halfway through an entry at that moment. It
//    reads the claimed file and deletes that one after its send attempt; entries appended in
//    the meantime land in a new "Postavo.msg" and wait for the next run.
// So every entry ends up whole in exactly one file: a claimed one, which the mailer sends, or
// the current MessageLog.

namespace
{

// A writer retries only when a claim happened between its open and its lock; this bound only
// guards against a file system where the check can never succeed.
constexpr int kMaxAttempts = 1000;

bool lockExclusive(int fd)
{
    while (::flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR)
            return false;
    }
    return true;
}

// True when `path` still names the file open as `fd`.
bool pathNamesFile(const std::string& path, int fd, struct stat& held)
{
    struct stat named {
    };
    if (::fstat(fd, &held) != 0 || ::stat(path.c_str(), &named) != 0)
        return false;
    return held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

bool writeAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

// Renames `from` to a claimed name that no other file has; empty on failure.
std::string renameToClaimedName(const std::string& dataFolder, const std::string& from)
{
    static std::atomic<unsigned> counter{0};
    const std::string prefix =
        std::string(kMessageLogFile) + "." + std::to_string(::getpid()) + ".";
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
        const std::string to =
            joinPath(dataFolder, prefix + std::to_string(counter.fetch_add(1)) + ".claimed");
        // Never replace a claimed file left by an earlier run whose process id was the same.
        if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
            return to;
        if (errno == EEXIST)
            continue;
        if (errno != EINVAL && errno != ENOSYS)
            return {};
        // The file system cannot refuse to replace: test first (the name holds our pid and
        // counter, so only a stale file can be in the way).
        struct stat st {
        };
        if (::lstat(to.c_str(), &st) == 0)
            continue;
        if (::rename(from.c_str(), to.c_str()) == 0)
            return to;
        return {};
    }
    return {};
}

void appendTextMode(std::string& out, const std::string& text)
{
    for (const char c : text) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
}

} // namespace

void terminateMailTexts(MailSettings& settings)
{
    for (char* field : {settings.authUserName, settings.authPassword, settings.smtpServer,
                        settings.toAddress, settings.ccAddress, settings.bccAddress})
        field[sizeof settings.authUserName - 1] = '\0';
}

bool appendToMessageLog(const std::string& dataFolder, const std::string& entryBytes)
{
    const std::string path = joinPath(dataFolder, kMessageLogFile);
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
        // O_NONBLOCK only keeps a FIFO in the file's place from blocking the open.
        const int fd = ::open(
            path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0600);
        if (fd < 0)
            return false;
        if (!lockExclusive(fd)) {
            ::close(fd);
            return false;
        }
        struct stat held {
        };
        if (!pathNamesFile(path, fd, held)) {
            ::close(fd); // claimed meanwhile: append to the new MessageLog instead
            continue;
        }
        if (!S_ISREG(held.st_mode)) {
            ::close(fd);
            return false;
        }
        bool ok = writeAll(fd, entryBytes.data(), entryBytes.size());
        if (!ok) {
            // Under the lock nobody else wrote since: cut the partial entry off again.
            if (::ftruncate(fd, held.st_size) != 0) {
                // Nothing more can be done; the entry is reported as lost.
            }
        }
        if (::close(fd) != 0)
            ok = false;
        return ok;
    }
    return false;
}

std::optional<std::string> claimMessageLog(const std::string& dataFolder)
{
    const std::string path = joinPath(dataFolder, kMessageLogFile);
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        if (fd < 0)
            return std::nullopt;
        if (!lockExclusive(fd)) {
            ::close(fd);
            return std::nullopt;
        }
        struct stat held {
        };
        if (!pathNamesFile(path, fd, held)) {
            ::close(fd); // another claim took it first; look again
            continue;
        }
        std::string claimed;
        if (S_ISREG(held.st_mode))
            claimed = renameToClaimedName(dataFolder, path);
        ::close(fd);
        if (claimed.empty())
            return std::nullopt;
        return claimed;
    }
    return std::nullopt;
}

std::string formatMessageEntry(const std::string& timeText, const std::string& event,
                               const std::string& name, const std::string& location)
{
    // Each line is its text followed by CR and a newline written in text mode, so the stored
    // line end is CR CR LF, and any newline inside the texts is stored as CR LF.
    std::string entry;
    entry.reserve(timeText.size() + event.size() + name.size() + location.size() + 16);
    appendTextMode(entry, timeText + " " + event + ": " + name + "\r\n");
    appendTextMode(entry, location + "\r\n");
    appendTextMode(entry, "\r\n");
    return entry;
}

bool readMailSettings(const std::string& dataFolder, bool testRun, MailSettings& settings,
                      const LogLine& log)
{
    const std::string path =
        joinPath(dataFolder, testRun ? kTestMailSettingsFile : kMailSettingsFile);
    std::memset(&settings, 0, sizeof settings);
    const long got = readFilePrefix(path, &settings, sizeof settings);
    const auto say = [&](const char* line) {
        if (log)
            log(line);
    };
    if (got < 0) {
        say("Cannot read email configuration file that is created by Sentorix program.");
        return false;
    }
    if (static_cast<std::size_t>(got) < sizeof settings) {
        std::memset(&settings, 0, sizeof settings);
        say("Cannot read email configuration data from file.");
        return false;
    }
    terminateMailTexts(settings);
    say("Email configuration file read OK.");
    return true;
}

std::string readMessageBody(const std::string& path)
{
    constexpr std::size_t kPieceMax = 1022; // a read buffer of 1023 with its terminator
    constexpr std::size_t kTotalLimit = 8000;

    InputFile file;
    if (!file.open(path, FileMode::Text))
        return kNoDetailsBody;

    std::string body;
    body.reserve(8192);
    std::size_t total = 0;
    std::string piece;
    for (;;) {
        piece.clear();
        if (file.readLine(piece, kPieceMax) == 0)
            break;
        // The piece is text: it ends at its first NUL, and one that starts with NUL ends
        // the body.
        piece.resize(strnlen(piece.data(), piece.size()));
        if (piece.empty())
            break;
        total += piece.size();
        if (total >= kTotalLimit)
            break;
        body += piece;
    }
    file.close();
    if (body.empty())
        return kNoDetailsBody;
    return body;
}

} // namespace sentorix
