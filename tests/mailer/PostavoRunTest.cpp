// The mailer as the monitor starts it: the hand-off files written in a temporary data folder,
// the built Postavo started without a display (so it runs headless and logs to stderr), a
// real SMTP server on 127.0.0.1, and the result checked where a user would see it: the mail
// that arrived (read with Python's MIME parser), the files left behind, the log lines and the
// exit status.
#include "common/FixedText.h"
#include "common/MailHandoff.h"
#include "mailer/MailerRun.h"
#include "mailer/MailerStart.h"
#include "mailer/smtp/Smtp.h"
#include "tests/support/PausedChild.h"
#include "tests/support/ReceivedMail.h"
#include "tests/support/TestAuthority.h"
#include "tests/support/TestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace sentorix
{
namespace
{

using test::PeerProcess;
using test::TempDir;
using ::testing::ElementsAre;
using ::testing::MatchesRegex;

// --- the mailer's start-up rules and log lines ---------------------------------------------

TEST(MailerSwitches, AreFoundAsCaseSensitiveSubstrings)
{
    struct Case {
        const char* commandLine;
        bool fromSentorix;
        bool testRun;
    };
    const Case cases[] = {
        {"/from_sentorix", true, false},
        {"/test /from_sentorix", true, true},
        {"/from_sentorix /test", true, true},
        {"/test/from_sentorix", true, true},     // one argument holding both
        {"x/from_sentorixy", true, false},       // anywhere in the line
        {"/testing /from_sentorix", true, true}, // "/test" inside a longer word
        {"/test", false, false},                 // test alone: only the notice
        {"", false, false},
        {"/FROM_SENTORIX", false, false}, // case matters
        {"/TEST /from_sentorix", true, false},
        {"/from_sentoriX /test", false, false},
        {"from_sentorix", false, false}, // the slash is part of the switch
    };
    for (const Case& c : cases) {
        const MailerSwitches s = parseMailerSwitches(c.commandLine);
        EXPECT_EQ(s.fromSentorix, c.fromSentorix) << c.commandLine;
        EXPECT_EQ(s.testRun, c.testRun) << c.commandLine;
    }
}

TEST(MailerSwitches, CommandLineLeavesOutTheProgramName)
{
    const char* argv[] = {"/home/u/test/Postavo", "/from_sentorix", nullptr};
    EXPECT_EQ(joinCommandLine(2, argv), "/from_sentorix");
    EXPECT_FALSE(parseMailerSwitches(joinCommandLine(2, argv)).testRun);
    const char* both[] = {"Postavo", "/test", "/from_sentorix", nullptr};
    EXPECT_EQ(joinCommandLine(3, both), "/test /from_sentorix");
}

TEST(MailerLogLine, IsCutAt1023BytesOnACharacterBoundaryAndAtANul)
{
    const std::string prefix = "SMTP error: ";
    struct Case {
        std::string text;
        std::string expected;
    };
    const std::string fits(1023 - prefix.size(), 'a');
    // "é" is two bytes; placed so that its second byte would be byte 1024.
    const std::string straddling = std::string(1022 - prefix.size(), 'b') + "\xC3\xA9" + "tail";
    const Case cases[] = {
        {"550 refused", prefix + "550 refused"},
        {fits, prefix + fits},
        {fits + "overflow", prefix + fits},
        {straddling, prefix + std::string(1022 - prefix.size(), 'b')},
        {std::string("421 bye\0hidden", 14), prefix + "421 bye"},
        {"", prefix},
    };
    for (const Case& c : cases) {
        const std::string line = formatLogLine(prefix, c.text);
        EXPECT_EQ(line, c.expected);
        EXPECT_LE(line.size(), kLogLineMaxBytes);
    }
}

TEST(MailerWindow, ClosesAfterANormalRunAndAlwaysWithoutADisplay)
{
    using O = MailerRunOutcome;
    struct Case {
        bool headless;
        bool testRun;
        O outcome;
        bool closes;
    };
    const Case cases[] = {
        {false, false, O::Accepted, true},
        {false, false, O::Refused, true},
        {false, false, O::ConnectionFailed, true},
        {false, false, O::SettingsUnreadable, false}, // the user reads why
        {false, true, O::Accepted, false},            // a test run keeps its log
        {false, true, O::SettingsUnreadable, false},
        {true, false, O::SettingsUnreadable, true}, // nobody could close it
        {true, true, O::Accepted, true},
        {true, true, O::ConnectionFailed, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(closesAfterRun(c.headless, c.testRun, c.outcome), c.closes)
            << c.headless << c.testRun << static_cast<int>(c.outcome);
}

// --- running the built program ------------------------------------------------------------

struct RunResult {
    bool ended = false; // ended by itself within the time allowed
    int exitStatus = -1;
    std::vector<std::string> lines; // stderr, one entry a line
};

// Postavo started as the monitor starts it, with its own data home and no display.
class PostavoProcess
{
public:
    PostavoProcess() = default;
    PostavoProcess(const PostavoProcess&) = delete;
    PostavoProcess& operator=(const PostavoProcess&) = delete;
    ~PostavoProcess()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_stderr >= 0)
            ::close(m_stderr);
    }

    // `runtimeDir` stands for the session's XDG_RUNTIME_DIR, which Qt expects to find.
    bool start(const std::vector<std::string>& args, const std::string& dataHome,
               const std::string& runtimeDir)
    {
        std::vector<std::string> env;
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string entry(*e);
            const bool dropped =
                entry.rfind("DISPLAY=", 0) == 0 || entry.rfind("WAYLAND_DISPLAY=", 0) == 0 ||
                entry.rfind("XDG_DATA_HOME=", 0) == 0 || entry.rfind("QT_QPA_PLATFORM=", 0) == 0;
            if (!dropped)
                env.push_back(entry);
        }
        env.push_back("XDG_DATA_HOME=" + dataHome);
        env.push_back("XDG_RUNTIME_DIR=" + runtimeDir);

        std::vector<std::string> argv{POSTAVO_PATH};
        argv.insert(argv.end(), args.begin(), args.end());

        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        std::vector<char*> cargv;
        for (auto& a : argv)
            cargv.push_back(a.data());
        cargv.push_back(nullptr);
        std::vector<char*> cenv;
        for (auto& e : env)
            cenv.push_back(e.data());
        cenv.push_back(nullptr);
        const int rc =
            ::posix_spawn(&m_pid, cargv[0], &actions, nullptr, cargv.data(), cenv.data());
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        if (rc != 0) {
            m_pid = -1;
            ::close(fds[0]);
            return false;
        }
        m_stderr = fds[0];
        return true;
    }

    // Collects stderr until the program ends; kills it when it has not ended by itself
    // within `limit` (a run can wait 30 s for a silent server, so the limit is generous).
    RunResult finish(std::chrono::seconds limit = std::chrono::seconds(120))
    {
        RunResult result;
        std::string text;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        bool open = m_stderr >= 0;
        while (open) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                break;
            pollfd pfd{m_stderr, POLLIN, 0};
            if (::poll(&pfd, 1, static_cast<int>(left.count())) <= 0)
                continue;
            char buffer[4096];
            const ssize_t n = ::read(m_stderr, buffer, sizeof buffer);
            if (n <= 0)
                open = false;
            else
                text.append(buffer, static_cast<std::size_t>(n));
        }
        result.ended = !open;
        if (!result.ended)
            ::kill(m_pid, SIGKILL);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_pid = -1;
        if (result.ended && WIFEXITED(status))
            result.exitStatus = WEXITSTATUS(status);

        std::size_t start = 0;
        while (start < text.size()) {
            const std::size_t end = text.find('\n', start);
            const std::size_t stop = end == std::string::npos ? text.size() : end;
            result.lines.push_back(text.substr(start, stop - start));
            start = stop + 1;
        }
        return result;
    }

private:
    pid_t m_pid = -1;
    int m_stderr = -1;
};

// --- the hand-off files and the mail that arrived -------------------------------------------

struct Settings {
    std::string server;
    std::string to = "alice@example.org";
    std::string cc;
    std::string bcc;
    int32_t requiresAuth = 0;
    std::string user;
    std::string password;

    Settings withTo(std::string v) const { return with(&Settings::to, std::move(v)); }
    Settings withCc(std::string v) const { return with(&Settings::cc, std::move(v)); }
    Settings withBcc(std::string v) const { return with(&Settings::bcc, std::move(v)); }
    Settings withAuth(int32_t required, std::string name, std::string secret) const
    {
        Settings copy = *this;
        copy.requiresAuth = required;
        copy.user = std::move(name);
        copy.password = std::move(secret);
        return copy;
    }

private:
    Settings with(std::string Settings::*member, std::string value) const
    {
        Settings copy = *this;
        copy.*member = std::move(value);
        return copy;
    }
};

Settings at(std::string server)
{
    Settings s;
    s.server = std::move(server);
    return s;
}

std::string settingsBytes(const Settings& s)
{
    MailSettings record{};
    record.sendOnChange = 1;
    record.sendOnUnavailable = 1;
    record.requiresAuth = s.requiresAuth;
    setFieldText(record.authUserName, s.user, kMailTextMaxChars);
    setFieldText(record.authPassword, s.password, kMailTextMaxChars);
    setFieldText(record.smtpServer, s.server, kMailTextMaxChars);
    setFieldText(record.toAddress, s.to, kMailTextMaxChars);
    setFieldText(record.ccAddress, s.cc, kMailTextMaxChars);
    setFieldText(record.bccAddress, s.bcc, kMailTextMaxChars);
    return std::string(reinterpret_cast<const char*>(&record), sizeof record);
}

// The body a reader gets for a body text: the text and one empty line more, which the
// end-of-data sequence after the text's own last line end adds.
std::string received(const std::string& text)
{
    return text + "\r\n";
}

// The body a reader gets for a MessageLog: its lines as the mailer reads them (CR CR LF ->
// CR LF).
std::string bodyOf(const std::string& storedEntries)
{
    std::string body;
    for (std::size_t i = 0; i < storedEntries.size(); ++i) {
        if (storedEntries[i] == '\r' && i + 1 < storedEntries.size() &&
            storedEntries[i + 1] == '\n')
            continue;
        body += storedEntries[i];
    }
    return received(body);
}

// The one line that says a session went on in plain text (the test server offers no TLS).
const std::string kPlainNotice =
    "The connection is not encrypted: the server does not offer STARTTLS.";

const char* const kDoneLine = R"(Done - [0-9]{4}/[0-9]{2}/[0-9]{2} \[[0-9]{2}:[0-9]{2}:[0-9]{2}\])";

class PostavoRun : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ::mkdir((home.path() + "/Tarnwick").c_str(), 0700);
        ::mkdir(dataFolder.c_str(), 0700);
        ::mkdir(mailFolder.c_str(), 0700);
    }

    // Starts the aiosmtpd server, with `options` such as a recipient prefix it refuses,
    // holding at RCPT TO, or AUTH LOGIN (see tests/peers/smtp_server.py).
    bool startServer(std::vector<std::string> options = {})
    {
        std::vector<std::string> args{"0", mailFolder};
        args.insert(args.end(), options.begin(), options.end());
        server = std::make_unique<PeerProcess>("smtp_server.py", args);
        return server->start();
    }

    std::string serverText() const { return "127.0.0.1:" + std::to_string(server->port()); }

    void writeSettings(const char* file, const Settings& s)
    {
        test::writeFile(data(file), settingsBytes(s));
    }

    std::string data(const std::string& name) const { return dataFolder + "/" + name; }

    // A normal run that ended by itself once message `n` had arrived with `body`, and left
    // nothing but the settings in the data folder.
    void expectDelivered(const RunResult& r, int n, const std::string& body)
    {
        ASSERT_TRUE(r.ended);
        EXPECT_EQ(r.exitStatus, 0);
        ASSERT_EQ(test::receivedMessageCount(mailFolder), n);
        EXPECT_EQ(test::readReceivedMessage(mailFolder, n).field("body"), body);
        EXPECT_THAT(test::listFolder(dataFolder), ElementsAre(kMailSettingsFile));
    }

    RunResult run(const std::vector<std::string>& args)
    {
        PostavoProcess postavo;
        if (!postavo.start(args, home.path(), runtime.path()))
            return {};
        return postavo.finish();
    }

    TempDir home;
    TempDir mail;
    TempDir runtime;
    std::string dataFolder = home.path() + "/Tarnwick/Sentorix";
    std::string mailFolder = mail.path() + "/received";
    std::unique_ptr<PeerProcess> server;
};

const std::string kEntries =
    formatMessageEntry("2011/05/07 [09:03:00]", "Changed", "Syslog", "/var/log/syslog") +
    formatMessageEntry("2011/05/07 [09:04:10]", "Unable to retrieve", "Café Überblick",
                       "https://example.org/café?x=1&y=2");

TEST_F(PostavoRun, NormalRunMailsTheMessageLogDeletesItAndEnds)
{
    ASSERT_TRUE(startServer());
    writeSettings(kMailSettingsFile, at(serverText()));
    test::writeFile(data(kMessageLogFile), kEntries);

    const RunResult r = run({"/from_sentorix"});

    ASSERT_TRUE(r.ended);
    EXPECT_EQ(r.exitStatus, 0);
    ASSERT_EQ(r.lines.size(), 5u);
    EXPECT_EQ(r.lines[0], "Email configuration file read OK.");
    EXPECT_EQ(r.lines[1], "Connecting to " + serverText() + "...");
    EXPECT_EQ(r.lines[2], kPlainNotice);
    EXPECT_EQ(r.lines[3], "Sending email...");
    EXPECT_THAT(r.lines[4], MatchesRegex(kDoneLine));

    ASSERT_EQ(test::receivedMessageCount(mailFolder), 1);
    const test::ReceivedMessage m = test::readReceivedMessage(mailFolder, 1);
    EXPECT_EQ(m.field("defects"), "0");
    EXPECT_EQ(m.field("mail-from"), "alice@example.org");
    EXPECT_THAT(m.list("rcpt"), ElementsAre("alice@example.org"));
    EXPECT_EQ(m.field("from-name"), "Sentorix");
    EXPECT_EQ(m.field("from-address"), "alice@example.org");
    EXPECT_THAT(m.list("to"), ElementsAre("alice@example.org"));
    EXPECT_EQ(m.field("header:Subject"), "Sentorix Email Notification");
    EXPECT_EQ(m.field("header:X-Mailer"), "Postavo");
    EXPECT_EQ(m.field("multipart"), "0");
    EXPECT_EQ(m.field("content-type"), "text/plain");
    EXPECT_EQ(m.field("charset"), "utf-8");
    // The accented name arrives readable in the charset the part names.
    EXPECT_EQ(m.field("body"), bodyOf(kEntries));

    // Only the settings stay; the consumed MessageLog and its claimed copy are gone.
    EXPECT_THAT(test::listFolder(dataFolder), ElementsAre(kMailSettingsFile));
}

TEST_F(PostavoRun, TestRunMailsTheTestTextAndTouchesNothingElse)
{
    ASSERT_TRUE(startServer());
    // The settings in force name a server that is not there: a test run must not use them.
    writeSettings(kMailSettingsFile, at("127.0.0.1:1").withTo("old@example.org"));
    writeSettings(kTestMailSettingsFile, at(serverText()).withTo("bob@example.org"));
    test::writeFile(data(kMessageLogFile), kEntries);
    const std::string settingsBefore = test::readFile(data(kMailSettingsFile));

    const RunResult r = run({"/test", "/from_sentorix"});

    ASSERT_TRUE(r.ended);
    EXPECT_EQ(r.exitStatus, 0);
    ASSERT_EQ(r.lines.size(), 5u);
    EXPECT_EQ(r.lines[0], "Email configuration file read OK.");
    EXPECT_EQ(r.lines[1], "Connecting to " + serverText() + "...");
    EXPECT_EQ(r.lines[2], kPlainNotice);
    EXPECT_EQ(r.lines[3], "Sending email...");
    EXPECT_THAT(r.lines[4], MatchesRegex(kDoneLine));

    ASSERT_EQ(test::receivedMessageCount(mailFolder), 1);
    const test::ReceivedMessage m = test::readReceivedMessage(mailFolder, 1);
    EXPECT_THAT(m.list("rcpt"), ElementsAre("bob@example.org"));
    EXPECT_EQ(m.field("body"), received(kTestMessageBody));

    EXPECT_FALSE(test::exists(data(kTestMailSettingsFile)));
    EXPECT_EQ(test::readFile(data(kMessageLogFile)), kEntries);
    EXPECT_EQ(test::readFile(data(kMailSettingsFile)), settingsBefore);
}

TEST_F(PostavoRun, MissingOrEmptyMessageLogMailsTheFixedText)
{
    struct Case {
        const char* name;
        bool writeEmptyLog;
    };
    for (const Case c : {Case{"no MessageLog", false}, Case{"empty MessageLog", true}}) {
        SCOPED_TRACE(c.name);
        TempDir mailHome;
        mailFolder = mailHome.path() + "/m";
        ASSERT_TRUE(startServer());
        writeSettings(kMailSettingsFile, at(serverText()));
        if (c.writeEmptyLog)
            test::writeFile(data(kMessageLogFile), "");

        expectDelivered(run({"/from_sentorix"}), 1, received(kNoDetailsBody));
    }
}

TEST_F(PostavoRun, UnreadableSettingsSendNothingDeleteNothingAndStillEnd)
{
    struct Case {
        const char* name;
        bool testRun;
        std::size_t settingsSize; // 0 = no file
        const char* logLine;
    };
    const char* const missing =
        "Cannot read email configuration file that is created by Sentorix program.";
    const char* const shortRecord = "Cannot read email configuration data from file.";
    const Case cases[] = {
        {"normal run, no settings", false, 0, missing},
        {"normal run, 495 bytes", false, 495, shortRecord},
        {"test run, no settings", true, 0, missing},
        {"test run, 495 bytes", true, 495, shortRecord},
    };
    ASSERT_TRUE(startServer());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const std::string& name : test::listFolder(dataFolder))
            ::unlink(data(name).c_str());
        test::writeFile(data(kMessageLogFile), kEntries);
        const char* file = c.testRun ? kTestMailSettingsFile : kMailSettingsFile;
        if (c.settingsSize > 0)
            test::writeFile(data(file), settingsBytes(at(serverText())).substr(0, c.settingsSize));
        const auto before = test::listFolder(dataFolder);

        const RunResult r = run(c.testRun ? std::vector<std::string>{"/test", "/from_sentorix"}
                                          : std::vector<std::string>{"/from_sentorix"});

        ASSERT_TRUE(r.ended);
        EXPECT_EQ(r.exitStatus, 1);
        EXPECT_THAT(r.lines, ElementsAre(c.logLine));
        EXPECT_EQ(test::listFolder(dataFolder), before);
        EXPECT_EQ(test::readFile(data(kMessageLogFile)), kEntries);
    }
    EXPECT_EQ(test::receivedMessageCount(mailFolder), 0);
}

TEST_F(PostavoRun, UnreachableServerKeepsTheNotificationsAndTheNextRunMailsThemOnce)
{
    const test::RefusingPort refusing;
    ASSERT_TRUE(refusing.valid());
    const std::string unreachable = refusing.address();

    // A test run's settings are used up by the attempt, as before.
    writeSettings(kTestMailSettingsFile, at(unreachable));
    test::writeFile(data(kMessageLogFile), kEntries);
    RunResult r = run({"/test", "/from_sentorix"});
    ASSERT_TRUE(r.ended);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_THAT(r.lines, ElementsAre("Email configuration file read OK.",
                                     "Connecting to " + unreachable + "...", "Connection failed."));
    EXPECT_FALSE(test::exists(data(kTestMailSettingsFile)));
    EXPECT_EQ(test::readFile(data(kMessageLogFile)), kEntries);

    // A normal run keeps both entries in the MessageLog, where the monitor sees them and
    // starts the next run.
    writeSettings(kMailSettingsFile, at(unreachable));
    r = run({"/from_sentorix"});
    ASSERT_TRUE(r.ended);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_THAT(r.lines, ElementsAre("Email configuration file read OK.",
                                     "Connecting to " + unreachable + "...", "Connection failed.",
                                     "2 notifications kept for the next run."));
    EXPECT_EQ(test::readFile(data(kMessageLogFile)), kEntries);
    EXPECT_THAT(test::listFolder(dataFolder), ElementsAre(kMessageLogFile, kMailSettingsFile));

    // The server is back: the kept entries arrive, once, and are gone.
    ASSERT_TRUE(startServer());
    writeSettings(kMailSettingsFile, at(serverText()));
    expectDelivered(run({"/from_sentorix"}), 1, bodyOf(kEntries));
    expectDelivered(run({"/from_sentorix"}), 2, received(kNoDetailsBody));
}

TEST_F(PostavoRun, EntriesBeyondOneMessageWaitForTheNextRunWholeAndInOrder)
{
    ASSERT_TRUE(startServer());
    writeSettings(kMailSettingsFile, at(serverText()));
    // 30 entries of about 400 characters: 19 fit below 8000, 11 wait.
    std::vector<std::string> entries;
    std::string all;
    for (int i = 0; i < 30; ++i) {
        entries.push_back(formatMessageEntry("2026/12/10 [05:43:39]", "Changed",
                                             "Doc " + std::to_string(i),
                                             "https://example.org/" + std::string(340, 'a')));
        all += entries.back();
    }
    test::writeFile(data(kMessageLogFile), all);
    const std::size_t each = bodyOf(entries[0]).size() - 2; // read form, without the end
    const std::size_t fit = 7999 / each;
    ASSERT_LT(fit, entries.size());

    const RunResult r = run({"/from_sentorix"});
    ASSERT_TRUE(r.ended);
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.lines.back(),
              std::to_string(entries.size() - fit) + " notifications kept for the next run.");
    std::string sent, rest;
    for (std::size_t i = 0; i < entries.size(); ++i)
        (i < fit ? sent : rest) += entries[i];
    ASSERT_EQ(test::receivedMessageCount(mailFolder), 1);
    EXPECT_EQ(test::readReceivedMessage(mailFolder, 1).field("body"), bodyOf(sent));
    EXPECT_EQ(test::readFile(data(kMessageLogFile)), rest);

    expectDelivered(run({"/from_sentorix"}), 2, bodyOf(rest));
}

TEST_F(PostavoRun, SendsOverStartTlsAndKeepsEverythingWhenTheCertificateIsNotTrusted)
{
    TempDir certs;
    test::TestAuthority trusted, stranger;
    std::string goodCert, goodKey, badCert, badKey;
    ASSERT_TRUE(trusted.create(certs.path(), "Sentorix Test CA"));
    ASSERT_TRUE(trusted.issue("good", "DNS:localhost,IP:127.0.0.1", goodCert, goodKey));
    ASSERT_TRUE(stranger.create(certs.path(), "Unknown CA"));
    ASSERT_TRUE(stranger.issue("bad", "DNS:localhost,IP:127.0.0.1", badCert, badKey));
    // The mailer inherits the test's environment.
    setenv("SENTORIX_CA_BUNDLE", trusted.caFile.c_str(), 1);

    struct Case {
        const char* what;
        std::string cert, key;
        bool delivered;
    };
    const Case cases[] = {{"untrusted", badCert, badKey, false},
                          {"trusted", goodCert, goodKey, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string received = mailFolder + "-" + c.what;
        PeerProcess peer("smtp_server.py",
                         {"0", received, "--auth", "mailer", "pw", "--starttls", c.cert, c.key});
        ASSERT_TRUE(peer.start());
        const std::string server = "localhost:" + std::to_string(peer.port());
        writeSettings(kMailSettingsFile, at(server).withAuth(1, "mailer", "pw"));
        test::writeFile(data(kMessageLogFile), kEntries);

        const RunResult r = run({"/from_sentorix"});
        ASSERT_TRUE(r.ended);
        if (c.delivered) {
            EXPECT_EQ(r.exitStatus, 0);
            ASSERT_EQ(r.lines.size(), 4u) << ::testing::PrintToString(r.lines);
            EXPECT_EQ(r.lines[2], "Sending email...");
            ASSERT_EQ(test::receivedMessageCount(received), 1);
            EXPECT_EQ(test::readReceivedMessage(received, 1).field("body"), bodyOf(kEntries));
            EXPECT_FALSE(test::exists(data(kMessageLogFile)));
        } else {
            EXPECT_EQ(r.exitStatus, 1);
            EXPECT_THAT(r.lines, ElementsAre("Email configuration file read OK.",
                                             "Connecting to " + server + "...",
                                             "Secure connection failed: server certificate not "
                                             "accepted: unable to get local issuer certificate",
                                             "Connection failed.",
                                             "2 notifications kept for the next run."));
            EXPECT_EQ(test::receivedMessageCount(received), 0);
            EXPECT_FALSE(test::exists(received + "/commands.log")); // no AUTH, no MAIL
            EXPECT_EQ(test::readFile(data(kMessageLogFile)), kEntries);
        }
    }
    unsetenv("SENTORIX_CA_BUNDLE");
}

TEST_F(PostavoRun, RefusedRecipientsAreLoggedAndTheOthersStillGetTheMail)
{
    ASSERT_TRUE(startServer({"--refuse", "nobody"}));
    struct Case {
        const char* name;
        Settings settings;
        int exitStatus;
        std::vector<std::string> smtpLines; // between "Sending email..." and "Done"
        std::vector<std::string> delivered; // envelope recipients of the mail, if one came
        const char* kept = nullptr;         // the line after "Done", if any
    };
    const Case cases[] = {
        {"CC refused",
         at(serverText()).withCc("nobody@example.org"),
         0,
         {"SMTP message: 550 5.1.1 <nobody@example.org>: Recipient address rejected"},
         {"alice@example.org"}},
        {"the only recipient refused",
         at(serverText()).withTo("nobody@example.org"),
         1,
         {"SMTP message: 550 5.1.1 <nobody@example.org>: Recipient address rejected",
          "SMTP error: 550 5.1.1 <nobody@example.org>: Recipient address rejected"},
         {},
         "2 notifications kept for the next run."},
    };
    int expectedMessages = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeSettings(kMailSettingsFile, c.settings);
        test::writeFile(data(kMessageLogFile), kEntries);

        const RunResult r = run({"/from_sentorix"});

        ASSERT_TRUE(r.ended);
        EXPECT_EQ(r.exitStatus, c.exitStatus);
        const std::size_t after = c.kept != nullptr ? 1 : 0;
        ASSERT_EQ(r.lines.size(), 5 + c.smtpLines.size() + after);
        EXPECT_EQ(r.lines[2], kPlainNotice);
        EXPECT_EQ(r.lines[3], "Sending email...");
        EXPECT_EQ(std::vector<std::string>(r.lines.begin() + 4, r.lines.end() - 1 - after),
                  c.smtpLines);
        EXPECT_THAT(r.lines[r.lines.size() - 1 - after], MatchesRegex(kDoneLine));
        if (c.kept != nullptr) {
            EXPECT_EQ(r.lines.back(), c.kept);
            EXPECT_EQ(test::readFile(data(kMessageLogFile)), kEntries);
        } else {
            EXPECT_FALSE(test::exists(data(kMessageLogFile)));
        }
        if (!c.delivered.empty()) {
            ++expectedMessages;
            ASSERT_EQ(test::receivedMessageCount(mailFolder), expectedMessages);
            EXPECT_EQ(test::readReceivedMessage(mailFolder, expectedMessages).list("rcpt"),
                      c.delivered);
        }
        EXPECT_EQ(test::receivedMessageCount(mailFolder), expectedMessages);
    }
}

TEST_F(PostavoRun, LogsInOnlyWhenTheSettingsRequireIt)
{
    ASSERT_TRUE(startServer({"--auth", "mailer", "s3cret:@/"}));
    const std::string readOk = "Email configuration file read OK\\.";
    const std::string connecting = "Connecting to 127\\.0\\.0\\.1:[0-9]+\\.\\.\\.";
    const std::string sending = "Sending email\\.\\.\\.";
    const std::string plain = "The connection is not encrypted: .*";
    const std::string refusedLogin[] = {"SMTP message: 535 .*", "SMTP error: 535 .*"};
    const std::string authRequired = "SMTP error: 530 .*";

    // A refused login is logged as a message and then as an error, at the greeting and again
    // at every MAIL FROM answered with 530; then the 530 itself is the error.
    std::vector<std::string> wrongPassword{readOk,          connecting,      plain,
                                           refusedLogin[0], refusedLogin[1], sending};
    for (int i = 0; i < CSmtp::kMailFromRetries; ++i)
        wrongPassword.insert(wrongPassword.end(), {refusedLogin[0], refusedLogin[1]});
    const std::string kept = "2 notifications kept for the next run\\.";
    wrongPassword.insert(wrongPassword.end(), {authRequired, kDoneLine, kept});

    struct Case {
        const char* name;
        int32_t requiresAuth;
        const char* password;
        int exitStatus;
        std::vector<std::string> lines; // regexes
        int messages;                   // messages received so far
    };
    const Case cases[] = {
        {"required, right password",
         1,
         "s3cret:@/",
         0,
         {readOk, connecting, plain, sending, kDoneLine},
         1},
        // The stored credentials are not used, so the server keeps refusing MAIL FROM.
        {"not required, credentials stored",
         0,
         "s3cret:@/",
         1,
         {readOk, connecting, plain, sending, authRequired, kDoneLine, kept},
         1},
        {"required, wrong password", 1, "wrong", 1, wrongPassword, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeSettings(kMailSettingsFile,
                      at(serverText()).withAuth(c.requiresAuth, "mailer", c.password));
        test::writeFile(data(kMessageLogFile), kEntries);

        const RunResult r = run({"/from_sentorix"});

        ASSERT_TRUE(r.ended);
        EXPECT_EQ(r.exitStatus, c.exitStatus);
        ASSERT_EQ(r.lines.size(), c.lines.size()) << ::testing::PrintToString(r.lines);
        for (std::size_t i = 0; i < c.lines.size(); ++i)
            EXPECT_THAT(r.lines[i], MatchesRegex(c.lines[i])) << i;
        EXPECT_EQ(test::receivedMessageCount(mailFolder), c.messages);
        // A refused login keeps the notifications; the next case starts from them again.
        if (c.exitStatus == 0)
            EXPECT_FALSE(test::exists(data(kMessageLogFile)));
        else
            EXPECT_EQ(test::readFile(data(kMessageLogFile)), kEntries);
    }
    EXPECT_EQ(test::readReceivedMessage(mailFolder, 1).field("body"), bodyOf(kEntries));
}

TEST_F(PostavoRun, CcIsListedInToAndBccOnlyInTheEnvelope)
{
    ASSERT_TRUE(startServer());
    writeSettings(kMailSettingsFile, at(serverText())
                                         .withTo("alice@example.org")
                                         .withCc("carol@example.org")
                                         .withBcc("dave@example.org"));

    const RunResult r = run({"/from_sentorix"});

    ASSERT_TRUE(r.ended);
    EXPECT_EQ(r.exitStatus, 0);
    ASSERT_EQ(test::receivedMessageCount(mailFolder), 1);
    const test::ReceivedMessage m = test::readReceivedMessage(mailFolder, 1);
    EXPECT_THAT(m.list("rcpt"),
                ElementsAre("alice@example.org", "carol@example.org", "dave@example.org"));
    EXPECT_THAT(m.list("to"), ElementsAre("alice@example.org", "carol@example.org"));
    EXPECT_FALSE(m.has("header:Cc"));
    EXPECT_FALSE(m.has("header:Bcc"));
    EXPECT_EQ(m.field("defects"), "0");
}

TEST_F(PostavoRun, EntryAppendedDuringTheRunIsKeptForTheNextRun)
{
    ASSERT_TRUE(startServer({"--hold"}));
    writeSettings(kMailSettingsFile, at(serverText()));
    const std::string first =
        formatMessageEntry("2011/05/07 [09:03:00]", "Changed", "First", "/srv/first.txt");
    const std::string late =
        formatMessageEntry("2011/05/07 [09:03:05]", "Changed", "Late", "/srv/late.txt");
    test::writeFile(data(kMessageLogFile), first);

    PostavoProcess postavo;
    ASSERT_TRUE(postavo.start({"/from_sentorix"}, home.path(), runtime.path()));
    // The server holds the session at RCPT TO: the mailer has read its MessageLog by now.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!test::exists(mailFolder + "/held") && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(test::exists(mailFolder + "/held"));
    // The monitor appends while the mailer is in the middle of its session.
    ASSERT_TRUE(appendToMessageLog(dataFolder, late));
    test::writeFile(mailFolder + "/release", "");

    const RunResult r = postavo.finish();

    ASSERT_TRUE(r.ended);
    EXPECT_EQ(r.exitStatus, 0);
    ASSERT_EQ(test::receivedMessageCount(mailFolder), 1);
    EXPECT_EQ(test::readReceivedMessage(mailFolder, 1).field("body"), bodyOf(first));
    EXPECT_EQ(test::readFile(data(kMessageLogFile)), late);
    EXPECT_THAT(test::listFolder(dataFolder), ElementsAre(kMessageLogFile, kMailSettingsFile));

    // The next run mails the late entry.
    expectDelivered(run({"/from_sentorix"}), 2, bodyOf(late));
}

TEST_F(PostavoRun, WithoutTheRequiredSwitchOnlyTheNoticeIsShown)
{
    ASSERT_TRUE(startServer());
    writeSettings(kMailSettingsFile, at(serverText()));
    writeSettings(kTestMailSettingsFile, at(serverText()));
    test::writeFile(data(kMessageLogFile), kEntries);
    const auto before = test::listFolder(dataFolder);

    const std::vector<std::vector<std::string>> commandLines = {
        {}, {"/test"}, {"/FROM_SENTORIX"}, {"/From_Sentorix", "/test"}};
    for (const auto& args : commandLines) {
        const RunResult r = run(args);
        ASSERT_TRUE(r.ended);
        EXPECT_EQ(r.exitStatus, 1);
        EXPECT_THAT(r.lines, ElementsAre("Postavo is not a stand-alone program.", "",
                                         "Sentorix program will execute this program "
                                         "automatically."));
    }
    EXPECT_EQ(test::listFolder(dataFolder), before);
    EXPECT_EQ(test::receivedMessageCount(mailFolder), 0);
}

// A mailer that has claimed the MessageLog in `folder` and is still running; its claimed
// file's path in `claimed`.
pid_t startClaimingMailer(const std::string& folder, std::string& claimed)
{
    return test::forkPausedChild([&] { return claimMessageLog(folder).value_or(""); }, claimed);
}

TEST_F(PostavoRun, EntriesOfAMailerKilledAfterItsClaimGoOutWithTheNextRun)
{
    ASSERT_TRUE(startServer());
    writeSettings(kMailSettingsFile, at(serverText()));
    const std::string lost =
        formatMessageEntry("2011/05/07 [09:03:00]", "Changed", "Lost", "/srv/lost.txt");
    const std::string sending =
        formatMessageEntry("2011/05/07 [09:03:30]", "Changed", "Sending", "/srv/sending.txt");
    const std::string next =
        formatMessageEntry("2011/05/07 [09:04:00]", "Changed", "Next", "/srv/next.txt");

    // One mailer claims and is killed before it could send or delete anything.
    ASSERT_TRUE(appendToMessageLog(dataFolder, lost));
    std::string deadClaim;
    const pid_t dead = startClaimingMailer(dataFolder, deadClaim);
    ASSERT_GT(dead, 0);
    ASSERT_FALSE(deadClaim.empty());
    ::kill(dead, SIGKILL);
    ASSERT_EQ(::waitpid(dead, nullptr, 0), dead);
    // Another is still in the middle of its run.
    ASSERT_TRUE(appendToMessageLog(dataFolder, sending));
    std::string liveClaim;
    const pid_t live = startClaimingMailer(dataFolder, liveClaim);
    ASSERT_GT(live, 0);
    ASSERT_TRUE(appendToMessageLog(dataFolder, next));

    const RunResult r = run({"/from_sentorix"});
    ::kill(live, SIGKILL);
    ::waitpid(live, nullptr, 0);

    // The live mailer's claim is left to it; nothing else remains.
    EXPECT_EQ(test::readFile(liveClaim), sending);
    ::unlink(liveClaim.c_str());
    expectDelivered(r, 1, bodyOf(lost + next));
}

} // namespace
} // namespace sentorix
