// The mail hand-off files: the settings on both sides, the MessageLog entry and its bytes, the
// mailer's reading of the body, and the list of notified documents.
#include "DataTestHelpers.h"
#include "tests/support/TestSupport.h"

#include "common/FixedText.h"
#include "common/MailHandoff.h"
#include "monitor/data/DocumentTable.h"
#include "monitor/data/MailSettingsStore.h"
#include "monitor/data/MessageLogWriter.h"
#include "monitor/data/NotifiedList.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <numeric>
#include <optional>
#include <regex>
#include <thread>

using namespace sentorix;
using namespace sentorix::test;

namespace
{

std::string settingsBytes(const MailSettings& settings)
{
    return std::string(reinterpret_cast<const char*>(&settings), sizeof settings);
}

MailSettings sampleSettings()
{
    MailSettings settings{};
    settings.sendOnChange = 1;
    settings.sendOnUnavailable = 1;
    settings.requiresAuth = 1;
    setFieldText(settings.authUserName, "mailer");
    setFieldText(settings.authPassword, "pa55");
    setFieldText(settings.smtpServer, "127.0.0.1:2525");
    setFieldText(settings.toAddress, "to@example.org");
    setFieldText(settings.ccAddress, "");
    setFieldText(settings.bccAddress, "bcc@example.org");
    settings.markNotifiedChecked = 1;
    return settings;
}

// --- the monitor's settings ------------------------------------------------------------------

TEST(MailSettings, MonitorLoadsFileBytesOverZeros)
{
    const std::string whole = settingsBytes(sampleSettings());
    struct Case {
        const char* what;
        std::optional<std::string> file;
        std::string expected;
    };
    const Case cases[] = {
        {"missing", std::nullopt, std::string(496, '\0')},
        {"short", whole.substr(0, 100), whole.substr(0, 100) + std::string(396, '\0')},
        {"whole", whole, whole},
        {"longer", whole + std::string(100, 'x'), whole},
    };
    for (const Case& c : cases) {
        TempDir dir;
        if (c.file)
            writeFile(dir.file("Sentorix.mail"), *c.file);
        MailSettingsStore store;
        store.set(sampleSettings()); // the load starts from zeros, not from what was in force
        loadMailSettings(store, dir.path());
        EXPECT_EQ(settingsBytes(store.get()), c.expected) << c.what;
    }
}

TEST(MailSettings, UnterminatedTextFieldsAreTerminatedOnLoad)
{
    TempDir dir;
    MailSettings settings = sampleSettings();
    std::memset(settings.smtpServer, 'h', sizeof settings.smtpServer);
    writeFile(dir.file("Sentorix.mail"), settingsBytes(settings));
    MailSettingsStore store;
    loadMailSettings(store, dir.path());
    EXPECT_EQ(fieldText(store.get().smtpServer), std::string(79, 'h'));
    EXPECT_EQ(fieldText(store.get().toAddress), "to@example.org");
}

TEST(MailSettings, SaveAppliesAndWritesTestSettingsLeaveBothAlone)
{
    TempDir dir;
    MailSettingsStore store;
    const MailSettings edited = sampleSettings();
    saveMailSettings(store, edited, dir.path());
    EXPECT_EQ(settingsBytes(store.get()), settingsBytes(edited));
    EXPECT_EQ(readFile(dir.file("Sentorix.mail")), settingsBytes(edited));

    MailSettings test = edited;
    setFieldText(test.toAddress, "someone-else@example.org");
    writeTestMailSettings(test, dir.path());
    EXPECT_EQ(readFile(dir.file("Sentorix.mail.tmp")), settingsBytes(test));
    EXPECT_EQ(readFile(dir.file("Sentorix.mail")), settingsBytes(edited));
    EXPECT_EQ(settingsBytes(store.get()), settingsBytes(edited));

    // A folder that cannot take the file: the new settings stay in force all the same.
    MailSettings other = edited;
    other.sendOnChange = 0;
    saveMailSettings(store, other, dir.file("missing"));
    EXPECT_EQ(store.get().sendOnChange, 0);
}

// --- the mailer's reading of the settings ----------------------------------------------------

TEST(MailSettings, MailerReadsOneWholeRecordAndSaysSo)
{
    const std::string whole = settingsBytes(sampleSettings());
    struct Case {
        std::optional<std::string> file;
        bool ok;
        const char* line;
    };
    const char* const cannotOpen =
        "Cannot read email configuration file that is created by Sentorix program.";
    const char* const tooShort = "Cannot read email configuration data from file.";
    const char* const readOk = "Email configuration file read OK.";
    const Case cases[] = {
        {std::nullopt, false, cannotOpen},       {"", false, tooShort},
        {whole.substr(0, 495), false, tooShort}, {whole, true, readOk},
        {whole + "extra", true, readOk},
    };
    for (bool testRun : {false, true}) {
        const char* name = testRun ? "Sentorix.mail.tmp" : "Sentorix.mail";
        const char* other = testRun ? "Sentorix.mail" : "Sentorix.mail.tmp";
        for (const Case& c : cases) {
            TempDir dir;
            if (c.file)
                writeFile(dir.file(name), *c.file);
            writeFile(dir.file(other), whole); // the other run's file is never read
            std::vector<std::string> log;
            MailSettings settings;
            const bool ok = readMailSettings(dir.path(), testRun, settings,
                                             [&](const std::string& line) { log.push_back(line); });
            const std::string what =
                std::string(name) + " of " + std::to_string(c.file ? c.file->size() : 0) + " bytes";
            EXPECT_EQ(ok, c.ok) << what;
            EXPECT_EQ(log, std::vector<std::string>{c.line}) << what;
            if (c.ok) {
                EXPECT_EQ(settingsBytes(settings), whole) << what;
            }
        }
    }
}

// --- the MessageLog ----------------------------------------------------------------------------

// The entry of a Local File "Syslog" at C:\Logfiles\System.log that changed on 7 May 2011.
const std::string kSyslogEntry = "2011/05/07 [09:03:00] Changed: Syslog\r\r\n"
                                 "C:\\Logfiles\\System.log\r\r\n"
                                 "\r\r\n";

TEST(MessageLog, EntryLinesEndWithCrCrLf)
{
    const std::string entry = formatMessageEntry("2011/05/07 [09:03:00]", "Changed", "Syslog",
                                                 "C:\\Logfiles\\System.log");
    EXPECT_EQ(entry, kSyslogEntry);
    EXPECT_EQ(entry.size(), 68u);
    EXPECT_EQ(formatMessageEntry("t", "Unable to retrieve", "N", "L"),
              "t Unable to retrieve: N\r\r\nL\r\r\n\r\r\n");
}

TEST(MessageLog, MailerReadsTheEntryAsThreeCrLfLines)
{
    TempDir dir;
    writeFile(dir.file("Postavo.msg"), kSyslogEntry);
    const std::string body = readMessageBody(dir.file("Postavo.msg"));
    EXPECT_EQ(body, "2011/05/07 [09:03:00] Changed: Syslog\r\n"
                    "C:\\Logfiles\\System.log\r\n"
                    "\r\n");
    // 39, 24 and 2 characters.
    EXPECT_EQ(body.find('\n'), 38u);
    EXPECT_EQ(body.size(), 39u + 24u + 2u);
}

TEST(MessageLog, MissingOrEmptyLogGivesTheFixedText)
{
    TempDir dir;
    EXPECT_EQ(readMessageBody(dir.file("Postavo.msg")), kNoDetailsBody);
    writeFile(dir.file("Postavo.msg"), "");
    EXPECT_EQ(readMessageBody(dir.file("Postavo.msg")), kNoDetailsBody);
    // A NUL at the start of a piece ends the text.
    writeFile(dir.file("Postavo.msg"), std::string("\0later text\r\r\n", 14));
    EXPECT_EQ(readMessageBody(dir.file("Postavo.msg")), kNoDetailsBody);
}

TEST(MessageLog, LongLineIsReadInPiecesOf1022)
{
    TempDir dir;
    std::string line;
    for (int i = 0; i < 2000; ++i)
        line += static_cast<char>('a' + i % 26);
    writeFile(dir.file("Postavo.msg"), line + "\r\r\nnext\r\r\n");
    // Pieces of 1022, 980 (ending CR LF) and 6: all used.
    EXPECT_EQ(readMessageBody(dir.file("Postavo.msg")), line + "\r\nnext\r\n");
}

TEST(MessageLog, BodyStopsBeforeThePieceThatReaches8000)
{
    struct Case {
        std::size_t lineChars; // characters read per line, CR LF included
        std::size_t lines;
        std::size_t expectedLines;
    };
    const Case cases[] = {
        {100, 80, 79}, // the 80th line brings the total to 8000 exactly: dropped
        {100, 79, 79}, // 7900: all kept
        {1000, 9, 7},  // 8000 at the 8th line: 7 kept, and the 9th is never used
        {3999, 2, 2},  // 7998 is below the limit (each line is read as 4 pieces)
        {4000, 2, 1},  // 1022+1022+1022+934 = 4000, then the second line's pieces are
                       // taken until the total would reach 8000
    };
    for (const Case& c : cases) {
        TempDir dir;
        const std::string text(c.lineChars - 2, 'x');
        std::string file;
        for (std::size_t i = 0; i < c.lines; ++i)
            file += text + "\r\r\n";
        writeFile(dir.file("Postavo.msg"), file);
        const std::string body = readMessageBody(dir.file("Postavo.msg"));
        EXPECT_LT(body.size(), 8000u) << c.lineChars << " x " << c.lines;
        if (c.lineChars == 4000) {
            // Three pieces of the second line fit (4000 + 3066 = 7066), its last (934) would
            // make 8000.
            EXPECT_EQ(body.size(), 4000u + 3u * 1022u);
            continue;
        }
        std::string expected;
        for (std::size_t i = 0; i < c.expectedLines; ++i)
            expected += text + "\r\n";
        EXPECT_EQ(body, expected) << c.lineChars << " x " << c.lines;
    }
}

// --- one run's batch: whole entries, and only what was sent is deleted -----------------------

namespace
{

// An entry whose stored form is `chars` characters long once read (CR CR LF -> CR LF).
std::string entryOfReadSize(int number, std::size_t chars)
{
    const std::string head = "2026/12/10 [05:43:39] Changed: Doc " + std::to_string(number);
    const std::string location = "https://example.org/";
    // Read: head CR LF, location+pad CR LF, CR LF.
    const std::size_t fixed = head.size() + 2 + location.size() + 2 + 2;
    const std::string pad(chars > fixed ? chars - fixed : 0, 'p');
    return formatMessageEntry("2026/12/10 [05:43:39]", "Changed", "Doc " + std::to_string(number),
                              location + pad);
}

std::string readForm(const std::string& stored)
{
    std::string text;
    for (std::size_t i = 0; i < stored.size(); ++i)
        if (!(stored[i] == '\r' && i + 1 < stored.size() && stored[i + 1] == '\n'))
            text += stored[i];
    return text;
}

} // namespace

TEST(MessageBatch, BodyEndsAtAnEntryBoundaryWithin7999Characters)
{
    struct Case {
        const char* what;
        std::vector<std::size_t> sizes; // read sizes of the entries, in order
        std::size_t taken;
    };
    const Case cases[] = {
        {"all fit", {100, 200, 300}, 3},
        {"exactly 7999", {4000, 3999}, 2},
        {"8000 is one too many", {4000, 4000, 100}, 1},
        {"a small entry after a big one that does not fit stays behind too", {7000, 1500, 100}, 1},
        {"many small ones", std::vector<std::size_t>(100, 100), 79},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        std::string stored;
        std::vector<std::string> entries;
        for (std::size_t i = 0; i < c.sizes.size(); ++i) {
            entries.push_back(entryOfReadSize(static_cast<int>(i), c.sizes[i]));
            ASSERT_EQ(readForm(entries.back()).size(), c.sizes[i]);
            stored += entries.back();
        }
        writeFile(dir.file("claimed"), stored);
        const MessageBatch batch = readMessageBatch({dir.file("claimed")});
        std::string expected;
        for (std::size_t i = 0; i < c.taken; ++i)
            expected += readForm(entries[i]);
        EXPECT_EQ(batch.body, expected);
        EXPECT_LT(batch.body.size(), 8000u);
        EXPECT_EQ(batch.entriesTaken, c.taken);
        EXPECT_EQ(batch.entriesLeft, c.sizes.size() - c.taken);

        // Sent: exactly the entries in the body are gone, the rest is in the MessageLog as
        // it was stored, and the claimed file is gone.
        EXPECT_EQ(settleMessageBatch(dir.path(), batch, true), c.sizes.size() - c.taken);
        EXPECT_FALSE(exists(dir.file("claimed")));
        std::string rest;
        for (std::size_t i = c.taken; i < entries.size(); ++i)
            rest += entries[i];
        if (rest.empty())
            EXPECT_FALSE(exists(dir.file("Postavo.msg")));
        else
            EXPECT_EQ(readFile(dir.file("Postavo.msg")), rest);
    }
}

TEST(MessageBatch, AFailedSendPutsEveryEntryBackAfterThoseAppendedMeanwhile)
{
    TempDir dir;
    const std::string older = entryOfReadSize(1, 100) + entryOfReadSize(2, 100);
    const std::string own = entryOfReadSize(3, 100);
    const std::string meanwhile = entryOfReadSize(4, 100);
    writeFile(dir.file("left.claimed"), older);
    writeFile(dir.file("own.claimed"), own);
    const MessageBatch batch =
        readMessageBatch({dir.file("left.claimed"), dir.file("own.claimed")});
    EXPECT_EQ(batch.body, readForm(older + own));
    EXPECT_EQ(batch.entriesTaken, 3u);
    ASSERT_TRUE(appendToMessageLog(dir.path(), meanwhile));

    EXPECT_EQ(settleMessageBatch(dir.path(), batch, false), 3u);
    EXPECT_EQ(readFile(dir.file("Postavo.msg")), meanwhile + older + own);
    EXPECT_FALSE(exists(dir.file("left.claimed")));
    EXPECT_FALSE(exists(dir.file("own.claimed")));
}

TEST(MessageBatch, OddFilesKeepTheOldReadingRules)
{
    TempDir dir;
    // One entry too long for any message goes out cut (by pieces) instead of blocking the
    // queue for good; the next entry waits.
    const std::string huge = formatMessageEntry("t", "Changed", "Big", std::string(9000, 'x'));
    const std::string next = entryOfReadSize(2, 1500); // 7170 + 1500 would be too many
    writeFile(dir.file("a"), huge + next);
    MessageBatch batch = readMessageBatch({dir.file("a")});
    EXPECT_LT(batch.body.size(), 8000u);
    EXPECT_EQ(batch.body.rfind("t Changed: Big\r\n", 0), 0u);
    EXPECT_EQ(batch.entriesTaken, 1u);
    EXPECT_EQ(settleMessageBatch(dir.path(), batch, true), 1u);
    EXPECT_EQ(readFile(dir.file("Postavo.msg")), next);

    // Text without the empty line is one entry up to the end of the file; a NUL ends the
    // file's text, and what follows it is not mailed.
    TempDir other;
    writeFile(other.file("b"), std::string("first\r\r\nsecond\r\r\n\r\r\nthird\r\r\n") +
                                   std::string(1, '\0') + "hidden\r\r\n");
    batch = readMessageBatch({other.file("b"), other.file("missing")});
    EXPECT_EQ(batch.body, "first\r\nsecond\r\n\r\nthird\r\n");
    EXPECT_EQ(batch.entriesTaken, 2u);
    EXPECT_EQ(settleMessageBatch(other.path(), batch, true), 0u);
    EXPECT_FALSE(exists(other.file("b")));
    EXPECT_FALSE(exists(other.file("Postavo.msg")));

    // No readable entry: the fixed text, nothing to keep.
    TempDir empty;
    writeFile(empty.file("c"), "");
    batch = readMessageBatch({empty.file("c")});
    EXPECT_EQ(batch.body, kNoDetailsBody);
    EXPECT_EQ(settleMessageBatch(empty.path(), batch, false), 0u);
    EXPECT_FALSE(exists(empty.file("Postavo.msg")));
}

// --- appending entries and the notified list ---------------------------------------------------

struct AppendCase {
    int32_t sendOnChange;
    int32_t sendOnUnavailable;
    int32_t markNotifiedChecked;
    DocumentStatus event;
    const char* expectedEvent; // nullptr: no entry
};

TEST(MessageLog, AppendFollowsTheSettingsInForce)
{
    const AppendCase cases[] = {
        {1, 0, 0, DocumentStatus::Changed, "Changed"},
        {1, 0, 0, DocumentStatus::Unavailable, nullptr},
        {0, 1, 1, DocumentStatus::Unavailable, "Unable to retrieve"},
        {0, 1, 1, DocumentStatus::Changed, nullptr},
        {2, 2, 0, DocumentStatus::Changed, nullptr}, // flags count only when exactly 1
        {1, 1, 1, DocumentStatus::Checked, nullptr}, // not an event
        {1, 1, 1, DocumentStatus::Changed, "Changed"},
    };
    for (const AppendCase& c : cases) {
        TempDir dir;
        DocumentTable table(4);
        table.put(2, makeRecord("Syslog", "/var/log/syslog"));
        MailSettingsStore mail;
        MailSettings settings{};
        settings.sendOnChange = c.sendOnChange;
        settings.sendOnUnavailable = c.sendOnUnavailable;
        settings.markNotifiedChecked = c.markNotifiedChecked;
        mail.set(settings);
        NotifiedList notified(4);

        appendMessageEntry(table, 2, c.event, mail, notified, dir.path());

        const std::string what = std::to_string(c.sendOnChange) + "/" +
                                 std::to_string(c.sendOnUnavailable) + " event " +
                                 std::to_string(static_cast<int>(c.event));
        if (!c.expectedEvent) {
            EXPECT_FALSE(exists(dir.file("Postavo.msg"))) << what;
            EXPECT_EQ(notified.at(0), NotifiedList::kEmpty) << what;
            continue;
        }
        const std::regex entry(R"(\d{4}/\d\d/\d\d \[\d\d:\d\d:\d\d\] )" +
                               std::string(c.expectedEvent) +
                               ": Syslog\r\r\n/var/log/syslog\r\r\n\r\r\n");
        EXPECT_TRUE(std::regex_match(readFile(dir.file("Postavo.msg")), entry)) << what;
        EXPECT_EQ(notified.at(0), c.markNotifiedChecked == 1 ? 2 : NotifiedList::kEmpty) << what;
    }
}

TEST(MessageLog, EntriesAccumulateAndALostEntryTakesNoSlot)
{
    TempDir dir;
    DocumentTable table(2);
    table.put(0, makeRecord("A", "http://a/"));
    table.put(1, makeRecord("B", "http://b/"));
    MailSettingsStore mail;
    mail.set(sampleSettings());
    NotifiedList notified(2);

    appendMessageEntry(table, 0, DocumentStatus::Changed, mail, notified, dir.path());
    appendMessageEntry(table, 0, DocumentStatus::Unavailable, mail, notified, dir.path());
    const std::string log = readFile(dir.file("Postavo.msg"));
    EXPECT_EQ(log.size(),
              2 * 21 + std::string(" Changed: A\r\r\nhttp://a/\r\r\n\r\r\n").size() +
                  std::string(" Unable to retrieve: A\r\r\nhttp://a/\r\r\n\r\r\n").size());
    EXPECT_EQ(notified.at(0), 0);
    EXPECT_EQ(notified.at(1), 0); // the same document twice, in two slots

    // A DataFolder that cannot take the MessageLog: the entry is lost, no slot is taken.
    NotifiedList other(2);
    appendMessageEntry(table, 1, DocumentStatus::Changed, mail, other, dir.file("missing"));
    EXPECT_EQ(other.at(0), NotifiedList::kEmpty);
}

TEST(NotifiedList, SlotsAreTakenInOrderAndConsumedByTheTaker)
{
    NotifiedList list(3);
    EXPECT_EQ(list.size(), 3);
    EXPECT_TRUE(list.add(7));
    EXPECT_TRUE(list.add(7));
    EXPECT_TRUE(list.add(4));
    EXPECT_FALSE(list.add(5)); // full: dropped
    EXPECT_EQ(list.at(0), 7);
    EXPECT_EQ(list.at(2), 4);
    EXPECT_EQ(list.at(3), NotifiedList::kEmpty);
    EXPECT_EQ(list.at(-1), NotifiedList::kEmpty);

    // Document 4 has no row: its slot is kept.
    std::vector<int> visited;
    list.consume([&](int index) {
        visited.push_back(index);
        return index != 4;
    });
    EXPECT_EQ(visited, (std::vector<int>{7, 7, 4}));
    EXPECT_EQ(list.at(0), NotifiedList::kEmpty);
    EXPECT_EQ(list.at(2), 4);
    EXPECT_TRUE(list.add(9));
    EXPECT_EQ(list.at(0), 9);

    list.clear();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(list.at(i), NotifiedList::kEmpty);
}

TEST(NotifiedList, NoIndexIsLostWhileTheListIsConsumed)
{
    constexpr int kAdders = 4;
    constexpr int kPerAdder = 300;
    NotifiedList list(kAdders * kPerAdder);
    std::atomic<bool> done{false};
    std::vector<int> consumed;
    std::thread consumer([&] {
        while (!done.load()) {
            list.consume([&](int index) {
                consumed.push_back(index);
                return true;
            });
        }
    });
    std::vector<std::thread> adders;
    for (int a = 0; a < kAdders; ++a) {
        adders.emplace_back([&list, a] {
            for (int i = 0; i < kPerAdder; ++i)
                list.add(a * kPerAdder + i);
        });
    }
    for (auto& adder : adders)
        adder.join();
    done.store(true);
    consumer.join();
    list.consume([&](int index) {
        consumed.push_back(index);
        return true;
    });
    std::sort(consumed.begin(), consumed.end());
    std::vector<int> expected(kAdders * kPerAdder);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(consumed, expected);
}

} // namespace
