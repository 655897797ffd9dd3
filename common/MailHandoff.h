// The files through which the monitor hands notifications to the mailer, all in the
// DataFolder: the mail settings ("Sentorix.mail"), the settings of one test mail
// ("Sentorix.mail.tmp") and the MessageLog ("Postavo.msg").
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace sentorix
{

inline constexpr const char* kMailSettingsFile = "Sentorix.mail";
inline constexpr const char* kTestMailSettingsFile = "Sentorix.mail.tmp";
inline constexpr const char* kMessageLogFile = "Postavo.msg";

// One MailSettings record, 496 bytes, stored whole and alone. Text fields hold at most 78
// characters before their terminator; readers stop at the first NUL or the field's end.
struct MailSettings {
    int32_t sendOnChange;
    int32_t sendOnUnavailable;
    int32_t requiresAuth;
    char authUserName[80];
    char authPassword[80];
    char smtpServer[80];
    char toAddress[80];
    char ccAddress[80];
    char bccAddress[80];
    int32_t markNotifiedChecked;
};

static_assert(sizeof(MailSettings) == 496);
static_assert(offsetof(MailSettings, sendOnChange) == 0);
static_assert(offsetof(MailSettings, sendOnUnavailable) == 4);
static_assert(offsetof(MailSettings, requiresAuth) == 8);
static_assert(offsetof(MailSettings, authUserName) == 12);
static_assert(offsetof(MailSettings, authPassword) == 92);
static_assert(offsetof(MailSettings, smtpServer) == 172);
static_assert(offsetof(MailSettings, toAddress) == 252);
static_assert(offsetof(MailSettings, ccAddress) == 332);
static_assert(offsetof(MailSettings, bccAddress) == 412);
static_assert(offsetof(MailSettings, markNotifiedChecked) == 492);

inline constexpr std::size_t kMailTextMaxChars = 78;

// Puts a terminator in the last byte of each text field, so that a record read from a file can
// be handed to code that expects terminated text.
void terminateMailTexts(MailSettings& settings);

// --- MessageLog ----------------------------------------------------------------------------

// Appends one whole entry (already in its stored byte form) to the MessageLog in `dataFolder`,
// creating the file when absent. Safe against other appending threads and processes and
// against a mailer claiming the file at the same moment: the entry lands whole either in the
// file the mailer claimed before it read it, or in a new MessageLog. Returns false when the
// file cannot be opened or written.
bool appendToMessageLog(const std::string& dataFolder, const std::string& entryBytes);

// Takes the MessageLog away from the writers for one mailer run: the file is renamed to a
// name of this process's own, and its path is returned; nullopt when there is no MessageLog.
// Entries appended from then on go to a new MessageLog and are kept for the next run.
std::optional<std::string> claimMessageLog(const std::string& dataFolder);

// True while the claimed file whose name carries `pid` and that was claimed at `claimedAt`
// (seconds since the epoch) may still be in the hands of the mailer that claimed it: that
// process exists, is not a zombie, and did not start after the claim (a process started later
// only got the id of a mailer that has ended).
bool claimOwnerRunning(pid_t pid, long long claimedAt);

// The claimed files a mailer run sends and then deletes, oldest first: claimed files left by
// mailer runs that ended before deleting them (crashed or killed), taken over under this
// process's own name, followed by this run's claim of the MessageLog, if there is one. A file
// claimed by a running mailer is never taken; of two runs that find the same left-over file
// only one gets it.
std::vector<std::string> claimMessageLogs(const std::string& dataFolder);

// The three stored lines of one entry: "<time> <event>: <name>", the location and an empty
// line, each ending CR CR LF.
std::string formatMessageEntry(const std::string& timeText, const std::string& event,
                               const std::string& name, const std::string& location);

// --- the mailer's readers ------------------------------------------------------------------

using LogLine = std::function<void(const std::string&)>;

// Reads "Sentorix.mail.tmp" (test run) or "Sentorix.mail" from `dataFolder` into `settings`
// and writes one of the three log lines; true only when a whole record was read.
bool readMailSettings(const std::string& dataFolder, bool testRun, MailSettings& settings,
                      const LogLine& log);

inline constexpr const char* kNoDetailsBody =
    "There are document changes but can't retrieve the details.\r\n";
inline constexpr const char* kTestMessageBody = "This is a test message from Sentorix program.\r\n";

// The notification text from the MessageLog at `path`, read in text mode in pieces of at most
// 1022 characters while the running total stays below 8000; kNoDetailsBody when the file is
// missing or yields nothing.
std::string readMessageBody(const std::string& path);

// The same for several claimed files read one after the other as one text: the piece and
// total rules run on across the files, and a piece that begins with NUL ends only the text of
// its own file. kNoDetailsBody when no file yields anything.
std::string readMessageBody(const std::vector<std::string>& paths);

// --- one run's batch of notifications ------------------------------------------------------

// The notification text of one mailer run, taken from its claimed files entry by entry: an
// entry is the stored lines up to and including an empty line (or the end of its file). The
// text is read as readMessageBody() reads it (text mode, pieces of at most 1022 characters,
// a piece ending at a NUL, one beginning with NUL ending its file's text), but the body ends
// before the first entry that would bring it to 8000 characters or more, so it holds whole
// entries only, at most 7999 characters. An entry too long for a message on its own, when it
// comes first, is sent cut by the piece rule rather than held back for good.
struct MessageBatch {
    struct File {
        std::string path;
        bool read = false;                  // false: could not be read, is left alone
        std::string raw;                    // the file's stored bytes
        std::vector<std::size_t> entryEnds; // raw offset after each readable entry
        std::size_t taken = 0;              // entries of this file in the body
    };
    std::string body; // kNoDetailsBody when no entry could be read
    std::vector<File> files;
    std::size_t entriesTaken = 0;
    std::size_t entriesLeft = 0; // readable entries that did not fit
};

MessageBatch readMessageBatch(const std::vector<std::string>& paths);

// Ends a run's use of its claimed files: after a sent message, the entries it carried are
// deleted and the rest go back to the MessageLog; after a failed send, every readable entry
// goes back. Returns how many entries went back. A claimed file whose rest cannot be put back
// stays where it is, so the next run takes it over: nothing is deleted that was not sent.
std::size_t settleMessageBatch(const std::string& dataFolder, const MessageBatch& batch, bool sent);

} // namespace sentorix
