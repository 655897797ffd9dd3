#include "common/MailHandoff.h"

#include "common/DataFolder.h"
#include "common/TextFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string_view>

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
//
// A mailer that dies between its claim and the delete leaves its claimed file behind. The
// claimed name carries the claiming process's id, so the next run can tell such a file from
// one that a running mailer is still sending: it takes over every claimed file whose owner is
// gone (renaming it to a claimed name of its own, which only one run can do), sends those
// entries first and deletes them with its own claim.

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

// The process id in a claimed name "Postavo.msg.<pid>.<n>.claimed"; 0 when `name` is not one.
pid_t claimedNameOwner(const std::string& name)
{
    const std::string prefix = std::string(kMessageLogFile) + ".";
    const std::string suffix = ".claimed";
    if (name.size() <= prefix.size() + suffix.size() ||
        name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
        return 0;
    const std::string middle =
        name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    const std::size_t dot = middle.find('.');
    if (dot == std::string::npos || dot == 0 || dot > 9 || dot + 1 == middle.size())
        return 0;
    const auto digits = [](const std::string& text) {
        return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    if (!digits(middle.substr(0, dot)) || !digits(middle.substr(dot + 1)))
        return 0;
    return static_cast<pid_t>(std::strtol(middle.substr(0, dot).c_str(), nullptr, 10));
}

// The state letter and start time (seconds since the epoch) of process `pid` from /proc;
// false when they cannot be read.
bool processStatus(pid_t pid, char& state, long long& startedAt)
{
    std::ifstream statFile("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(statFile, line))
        return false;
    // The command name in parentheses may hold blanks: the fields follow its last ')'.
    const std::size_t close = line.rfind(')');
    if (close == std::string::npos)
        return false;
    std::istringstream fields(line.substr(close + 1));
    std::string field;
    unsigned long long startTicks = 0;
    // Field 3 is the state and field 22 the start time in clock ticks after boot.
    for (int index = 3; index <= 22 && fields >> field; ++index) {
        if (index == 3)
            state = field.empty() ? '?' : field[0];
        if (index == 22)
            startTicks = std::strtoull(field.c_str(), nullptr, 10);
    }
    if (!fields)
        return false;

    std::ifstream systemStat("/proc/stat");
    long long bootTime = -1;
    while (std::getline(systemStat, line)) {
        if (line.rfind("btime ", 0) == 0) {
            bootTime = std::atoll(line.c_str() + 6);
            break;
        }
    }
    const long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
    if (bootTime < 0 || ticksPerSecond <= 0)
        return false;
    startedAt = bootTime + static_cast<long long>(startTicks /
                                                  static_cast<unsigned long long>(ticksPerSecond));
    return true;
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
        // On the disk before the caller goes on: a change is announced before its new content
        // replaces the old, so a crash right after must still find the entry. A file system that
        // cannot flush keeps the entry all the same.
        if (ok)
            ::fdatasync(fd);
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

bool claimOwnerRunning(pid_t pid, long long claimedAt)
{
    if (pid <= 0)
        return false;
    if (::kill(pid, 0) != 0 && errno == ESRCH)
        return false;
    char state = '?';
    long long startedAt = 0;
    if (!processStatus(pid, state, startedAt))
        return true; // it exists; without /proc nothing more can be told
    if (state == 'Z' || state == 'X')
        return false; // ended, not yet reaped by its parent
    // The boot time has whole seconds: allow one more before calling the process too young.
    return startedAt <= claimedAt + 1;
}

std::vector<std::string> claimMessageLogs(const std::string& dataFolder)
{
    struct LeftOver {
        struct timespec modified;
        std::string name;
    };
    std::vector<LeftOver> leftOvers;
    if (DIR* folder = ::opendir(dataFolder.c_str())) {
        while (const dirent* entry = ::readdir(folder)) {
            const std::string name = entry->d_name;
            const pid_t owner = claimedNameOwner(name);
            if (owner == 0)
                continue;
            struct stat st {
            };
            if (::lstat(joinPath(dataFolder, name).c_str(), &st) != 0 || !S_ISREG(st.st_mode))
                continue;
            // A rename sets the change time, so it tells when the file was claimed.
            if (claimOwnerRunning(owner, static_cast<long long>(st.st_ctim.tv_sec)))
                continue;
            leftOvers.push_back({st.st_mtim, name});
        }
        ::closedir(folder);
    }
    // Oldest first: a file claimed earlier had its last entry appended earlier.
    std::sort(leftOvers.begin(), leftOvers.end(), [](const LeftOver& a, const LeftOver& b) {
        if (a.modified.tv_sec != b.modified.tv_sec)
            return a.modified.tv_sec < b.modified.tv_sec;
        if (a.modified.tv_nsec != b.modified.tv_nsec)
            return a.modified.tv_nsec < b.modified.tv_nsec;
        return a.name < b.name;
    });

    std::vector<std::string> claimed;
    for (const LeftOver& leftOver : leftOvers) {
        // Taken under this process's name: if this run dies too, the next one finds it again;
        // another run that took it first leaves nothing to rename.
        std::string taken = renameToClaimedName(dataFolder, joinPath(dataFolder, leftOver.name));
        if (!taken.empty())
            claimed.push_back(std::move(taken));
    }
    if (std::optional<std::string> own = claimMessageLog(dataFolder))
        claimed.push_back(std::move(*own));
    return claimed;
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
    return readMessageBody(std::vector<std::string>{path});
}

std::string readMessageBody(const std::vector<std::string>& paths)
{
    constexpr std::size_t kPieceMax = 1022; // a read buffer of 1023 with its terminator
    constexpr std::size_t kTotalLimit = 8000;

    std::string body;
    body.reserve(8192);
    std::size_t total = 0;
    std::string piece;
    bool full = false;
    for (const std::string& path : paths) {
        InputFile file;
        if (!file.open(path, FileMode::Text))
            continue;
        for (;;) {
            piece.clear();
            if (file.readLine(piece, kPieceMax) == 0)
                break;
            // The piece is text: it ends at its first NUL, and one that starts with NUL ends
            // the text of this file.
            piece.resize(strnlen(piece.data(), piece.size()));
            if (piece.empty())
                break;
            total += piece.size();
            if (total >= kTotalLimit) {
                full = true;
                break;
            }
            body += piece;
        }
        file.close();
        if (full)
            break;
    }
    if (body.empty())
        return kNoDetailsBody;
    return body;
}

namespace
{

constexpr std::size_t kPieceMaxChars = 1022; // a read buffer of 1023 with its terminator
constexpr std::size_t kBodyLimit = 8000;     // the body stays below this many characters

// The stored bytes of a file, or false when it cannot be read.
bool readWholeFile(const std::string& path, std::string& bytes)
{
    InputFile file;
    if (!file.open(path, FileMode::Binary))
        return false;
    char buffer[65536];
    for (;;) {
        const long got = file.read(buffer, sizeof buffer);
        if (got < 0)
            return false;
        if (got == 0)
            break;
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    return true;
}

// Text-mode reading of stored bytes that end at a line end or at the end of the file: every
// CR LF becomes LF, a CR alone stays.
std::string fromStoredText(std::string_view raw)
{
    std::string text;
    text.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n')
            continue;
        text.push_back(raw[i]);
    }
    return text;
}

// The pieces of one entry's text as the reader takes them; `endsFile` when a piece begins
// with NUL, which ends the text of the file.
std::vector<std::string> entryPieces(const std::string& text, bool& endsFile)
{
    std::vector<std::string> pieces;
    std::size_t at = 0;
    endsFile = false;
    while (at < text.size()) {
        std::size_t length = std::min(kPieceMaxChars, text.size() - at);
        const std::size_t lf = text.find('\n', at);
        if (lf != std::string::npos && lf - at + 1 < length)
            length = lf - at + 1;
        std::string piece = text.substr(at, length);
        at += length;
        piece.resize(strnlen(piece.data(), piece.size()));
        if (piece.empty()) {
            endsFile = true;
            break;
        }
        pieces.push_back(std::move(piece));
    }
    return pieces;
}

// Whether the stored line [start, end) (its LF excluded) is empty: nothing but CRs.
bool blankLine(const std::string& raw, std::size_t start, std::size_t end)
{
    for (std::size_t i = start; i < end; ++i)
        if (raw[i] != '\r')
            return false;
    return true;
}

} // namespace

MessageBatch readMessageBatch(const std::vector<std::string>& paths)
{
    MessageBatch batch;
    std::size_t total = 0;
    bool full = false;
    for (const std::string& path : paths) {
        MessageBatch::File file;
        file.path = path;
        file.read = readWholeFile(path, file.raw);
        if (!file.read) {
            file.raw.clear();
            batch.files.push_back(std::move(file));
            continue;
        }
        const std::string& raw = file.raw;
        std::size_t entryStart = 0;
        std::size_t lineStart = 0;
        bool fileEnded = false;
        while (entryStart < raw.size() && !fileEnded) {
            // The entry runs to the end of its first empty line, or to the end of the file.
            std::size_t entryEnd = raw.size();
            for (std::size_t lf = raw.find('\n', lineStart); lf != std::string::npos;
                 lf = raw.find('\n', lineStart)) {
                const bool blank = blankLine(raw, lineStart, lf);
                lineStart = lf + 1;
                if (blank) {
                    entryEnd = lf + 1;
                    break;
                }
            }
            if (entryEnd == raw.size())
                lineStart = raw.size();
            const std::vector<std::string> pieces = entryPieces(
                fromStoredText(std::string_view(raw).substr(entryStart, entryEnd - entryStart)),
                fileEnded);
            entryStart = entryEnd;
            if (pieces.empty())
                continue; // nothing readable (the file's text ended at a NUL)
            file.entryEnds.push_back(entryEnd);
            if (full) {
                ++batch.entriesLeft;
                continue;
            }
            std::size_t size = 0;
            for (const std::string& piece : pieces)
                size += piece.size();
            if (total + size < kBodyLimit) {
                for (const std::string& piece : pieces)
                    batch.body += piece;
                total += size;
            } else if (batch.entriesTaken == 0) {
                // Alone too long for any message: its pieces go while they fit, as before.
                for (const std::string& piece : pieces) {
                    if (total + piece.size() >= kBodyLimit)
                        break;
                    batch.body += piece;
                    total += piece.size();
                }
            } else {
                full = true;
                ++batch.entriesLeft;
                continue;
            }
            ++file.taken;
            ++batch.entriesTaken;
        }
        batch.files.push_back(std::move(file));
    }
    if (batch.body.empty())
        batch.body = kNoDetailsBody;
    return batch;
}

std::size_t settleMessageBatch(const std::string& dataFolder, const MessageBatch& batch, bool sent)
{
    std::size_t putBack = 0;
    for (const MessageBatch::File& file : batch.files) {
        if (!file.read)
            continue; // left claimed for the next run, which tries again
        const std::size_t taken = sent ? file.taken : 0;
        const std::size_t left = file.entryEnds.size() - std::min(taken, file.entryEnds.size());
        if (left > 0) {
            // The stored bytes after the last entry sent, exactly as they were.
            const std::size_t from = taken == 0 ? 0 : file.entryEnds[taken - 1];
            if (!appendToMessageLog(dataFolder, file.raw.substr(from)))
                continue; // stays claimed: the next run takes the file over
            putBack += left;
        }
        std::remove(file.path.c_str());
    }
    return putBack;
}

} // namespace sentorix
