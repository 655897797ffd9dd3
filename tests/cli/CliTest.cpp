// sentorix-cli driven as a user drives it: the built program run in a temporary XDG_DATA_HOME,
// its output, exit status and the files it leaves in the DataFolder checked.
#include "tests/support/TestSupport.h"

#include "common/FixedText.h"
#include "common/MailHandoff.h"
#include "monitor/data/DocumentRecord.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

using namespace sentorix;
using namespace sentorix::test;

namespace
{

struct CliResult {
    int status = -1;
    std::string out;
    std::string err;
};

class CliTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_installDir = m_home.file("install");
        std::filesystem::create_directories(m_installDir);
        m_dataFolder = m_home.file("data/Tarnwick/Sentorix");
    }

    // A running sentorix-cli: its process and the read ends of its output pipes.
    struct Child {
        pid_t pid = -1;
        int out = -1;
        int err = -1;
    };

    Child spawn(const std::vector<std::string>& args, const std::string& input = {})
    {
        int inPipe[2], outPipe[2], errPipe[2];
        EXPECT_EQ(pipe(inPipe), 0);
        EXPECT_EQ(pipe(outPipe), 0);
        EXPECT_EQ(pipe(errPipe), 0);
        pid_t pid = fork();
        if (pid == 0) {
            dup2(inPipe[0], 0);
            dup2(outPipe[1], 1);
            dup2(errPipe[1], 2);
            for (int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1], errPipe[0], errPipe[1]})
                close(fd);
            setenv("XDG_DATA_HOME", m_home.file("data").c_str(), 1);
            setenv("HOME", m_home.path().c_str(), 1);
            setenv("SENTORIX_INSTALL_DIR", m_installDir.c_str(), 1);
            for (const auto& [name, value] : m_extraEnv)
                setenv(name.c_str(), value.c_str(), 1);
            std::vector<char*> argv{const_cast<char*>(SENTORIX_CLI)};
            for (const auto& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(inPipe[0]);
        close(outPipe[1]);
        close(errPipe[1]);
        if (!input.empty()) {
            EXPECT_EQ(write(inPipe[1], input.data(), input.size()),
                      static_cast<ssize_t>(input.size()));
        }
        close(inPipe[1]);
        return {pid, outPipe[0], errPipe[0]};
    }

    // Reads the child's output until it closes both pipes (at most two minutes), then reaps it.
    CliResult collect(const Child& child)
    {
        CliResult r;
        pollfd fds[2] = {{child.out, POLLIN, 0}, {child.err, POLLIN, 0}};
        int open = 2;
        while (open > 0) {
            if (poll(fds, 2, 120000) <= 0)
                break;
            for (int i = 0; i < 2; ++i) {
                if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP)))
                    continue;
                char buf[4096];
                ssize_t n = read(fds[i].fd, buf, sizeof buf);
                if (n <= 0) {
                    close(fds[i].fd);
                    fds[i].fd = -1;
                    --open;
                } else {
                    (i == 0 ? r.out : r.err).append(buf, static_cast<std::size_t>(n));
                }
            }
        }
        int status = 0;
        waitpid(child.pid, &status, 0);
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return r;
    }

    CliResult run(const std::vector<std::string>& args, const std::string& input = {})
    {
        return collect(spawn(args, input));
    }

    DocumentRecord readRecord(const std::string& name)
    {
        std::string bytes = readFile(m_dataFolder + "/" + name + ".data");
        DocumentRecord rec{};
        EXPECT_EQ(bytes.size(), sizeof rec);
        std::memcpy(&rec, bytes.data(), std::min(bytes.size(), sizeof rec));
        return rec;
    }

    void addLocal(const std::string& name, const std::string& path)
    {
        CliResult r = run({"add", "--kind", "local-file", "--name", name, "--location", path});
        ASSERT_EQ(r.status, 0) << r.err;
    }

    TempDir m_home;
    std::string m_installDir;
    std::string m_dataFolder;
    std::vector<std::pair<std::string, std::string>> m_extraEnv;
};

TEST_F(CliTest, EmptyFolderListsNothing)
{
    CliResult r = run({"list"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(exists(m_dataFolder));
}

TEST_F(CliTest, AddStoresTheRecordAsTheMonitorBuildsIt)
{
    CliResult r =
        run({"add", "--kind", "web-page", "--name", "News", "--location", "HTTPS://example.org/a",
             "--user", "ann", "--password", "-", "--count", "item"},
            "p@ss:w/rd\n");
    ASSERT_EQ(r.status, 0) << r.err;
    DocumentRecord rec = readRecord("News");
    EXPECT_EQ(rec.kind, 0);
    EXPECT_EQ(fieldText(rec.location), "https://example.org/a");
    EXPECT_EQ(fieldText(rec.displayName), "News");
    EXPECT_EQ(rec.status, static_cast<int32_t>(DocumentStatus::Waiting));
    EXPECT_EQ(rec.countMode, 1);
    EXPECT_EQ(rec.middleMode, 0);
    EXPECT_EQ(fieldText(rec.countString), "item");
    EXPECT_EQ(rec.useAccount, 1);
    // Stored scrambled: count byte, then the characters reversed at 1, 5, 9, ...
    EXPECT_EQ(rec.password[0], 9);
    EXPECT_EQ(rec.password[1], 'd');
    EXPECT_EQ(rec.password[33], 'p');
    unscrambleCredentials(rec);
    EXPECT_EQ(fieldText(rec.userName), "ann");
    EXPECT_EQ(fieldText(rec.password), "p@ss:w/rd");
    // Everything after each text is zero, as in a record the monitor builds.
    EXPECT_EQ(std::string(rec.lastCheck, sizeof rec.lastCheck), std::string(512, '\0'));

    r = run({"list"});
    EXPECT_EQ(r.out, "News\tWeb Page\tWaiting to retrieve...\t?\n");
}

TEST_F(CliTest, AddRefusesWithTheDialogMessages)
{
    addLocal("Syslog", "/var/log/syslog");
    struct Case {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"--kind", "web-page", "--name", "A", "--location", "x", "--count", ""},
         "Please enter the string for count."},
        {{"--kind", "web-page", "--name", "A", "--location", "x", "--middle", "a", ""},
         "Please enter the string."},
        {{"--kind", "web-file", "--name", "A", "--location", "x", "--user", ""},
         "Please enter the username."},
        {{"--kind", "ftp-file", "--name", "A", "--location", "x", "--user", "u"},
         "Please enter the password."},
        {{"--kind", "ftp-file", "--name", "A", "--location", ""}, "Please enter the file path."},
        {{"--kind", "web-page", "--name", "A", "--location", ""},
         "Please enter the URL or server address of the document."},
        {{"--kind", "local-file", "--name", "", "--location", "/x"},
         "Please enter the document name."},
        {{"--kind", "local-file", "--name", "SYSLOG", "--location", "/x"},
         "Same document name already exist. Please use another name."},
        {{"--kind", "local-file", "--name", "a:b", "--location", "/x"},
         "Invalid document name. Please do not use the following characters: \\ / : * ? \" < > |"},
        {{"--kind", "local-file", "--name", "what?", "--location", "/x"},
         "Invalid document name. Please do not use the following characters: \\ / : * ? \" < > |"},
        // Its files would exceed the file system's name limit.
        {{"--kind", "local-file", "--name", std::string(250, 'n'), "--location", "/x"},
         "The document name is too long: at most 238 bytes can be stored."},
        {{"--kind", "local-file", "--name", "Two\nLines", "--location", "/x"},
         "Invalid document name. Please do not use control characters such as line breaks or "
         "tabs."},
        {{"--kind", "local-file", "--name", "Tab\there", "--location", "/x"},
         "Invalid document name. Please do not use control characters such as line breaks or "
         "tabs."},
        {{"--kind", "ftp-file", "--name", "A", "--location", "h/x", "--user",
          "anonymous\r\nDELE important.txt", "--password", "p"},
         "The username must not contain a line break or a NUL character."},
        {{"--kind", "web-page", "--name", "A", "--location", "x", "--user", "u", "--password",
          "p\nq"},
         "The password must not contain a line break or a NUL character."},
        {{"--kind", "web-page", "--name", "A", "--location", std::string(600, 'x')},
         "The location is too long: at most 511 bytes can be stored."},
        {{"--kind", "web-page", "--name", "A", "--location", "x", "--user", std::string(128, 'u'),
          "--password", "p"},
         "The username is too long: at most 127 bytes can be stored."},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{"add"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        CliResult r = run(args);
        EXPECT_EQ(r.status, 2) << c.message;
        EXPECT_EQ(r.err, "sentorix-cli: " + c.message + "\n");
    }
    EXPECT_EQ(run({"list"}).out, "Syslog\tLocal File\tWaiting to retrieve...\t?\n");
}

TEST_F(CliTest, AddRefusesAPasswordFromStandardInputThatHoldsALineBreakOrNul)
{
    for (const std::string& input :
         {std::string("guest\rDELE important.txt\n"), std::string("gu\0est\n", 7)}) {
        CliResult r = run({"add", "--kind", "ftp-file", "--name", "A", "--location", "h/x",
                           "--user", "anonymous", "--password", "-"},
                          input);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err,
                  "sentorix-cli: The password must not contain a line break or a NUL character.\n");
    }
    // One line break ends the password, as typed at a prompt.
    CliResult r = run({"add", "--kind", "ftp-file", "--name", "A", "--location", "h/x", "--user",
                       "anonymous", "--password", "-"},
                      "guest\r\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(run({"list"}).out, "A\tFTP File\tWaiting to retrieve...\t?\n");
}

TEST_F(CliTest, AddAcceptsNamesWithBlanksAndStoresWebFilesWithoutMethod)
{
    CliResult r = run({"add", "--kind", "web-file", "--name", "Setup (new) v2", "--location",
                       "http://h/x.zip", "--count", "x"});
    ASSERT_EQ(r.status, 0) << r.err;
    DocumentRecord rec = readRecord("Setup (new) v2");
    EXPECT_EQ(rec.countMode, 0);
    EXPECT_EQ(std::string(rec.countString, sizeof rec.countString), std::string(512, '\0'));
    EXPECT_EQ(fieldText(rec.location), "http://h/x.zip");
}

TEST_F(CliTest, RemoveDeletesRecordAndStoredFiles)
{
    addLocal("One", "/x/1");
    addLocal("Two", "/x/2");
    for (const char* ext : {".content", ".middle"})
        writeFile(m_dataFolder + "/One" + ext, "stored");

    CliResult r = run({"remove", "nobody", "one"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "sentorix-cli: no document named 'nobody'\n");
    EXPECT_TRUE(exists(m_dataFolder + "/One.data")) << "an unknown name changes nothing";

    r = run({"remove", "ONE"});
    EXPECT_EQ(r.status, 0) << r.err;
    for (const char* ext : {".data", ".content", ".middle"})
        EXPECT_FALSE(exists(m_dataFolder + "/One" + ext)) << ext;
    EXPECT_EQ(run({"list"}).out, "Two\tLocal File\tWaiting to retrieve...\t?\n");
}

TEST_F(CliTest, MarkCheckedByNameOrAll)
{
    addLocal("One", "/x/1");
    addLocal("Two", "/x/2");
    EXPECT_EQ(run({"mark-checked", "two"}).status, 0);
    EXPECT_EQ(run({"list"}).out, "One\tLocal File\tWaiting to retrieve...\t?\n"
                                 "Two\tLocal File\tChecked\t?\n");
    EXPECT_EQ(run({"mark-checked", "--all"}).status, 0);
    EXPECT_EQ(readRecord("One").status, 0);
    EXPECT_EQ(run({"mark-checked"}).status, 2);
    EXPECT_EQ(run({"mark-checked", "three"}).status, 2);
}

TEST_F(CliTest, UsageErrorsAndHelp)
{
    struct Case {
        std::vector<std::string> args;
        int status;
    } cases[] = {
        {{}, 2},
        {{"frobnicate"}, 2},
        {{"list", "extra"}, 2},
        {{"remove"}, 2},
        {{"add", "--name", "x"}, 2},
        {{"add", "--kind", "gopher"}, 2},
        {{"check", "--bogus"}, 2},
        {{"--help"}, 0},
        {{"check", "--help"}, 0},
        {{"add", "--help"}, 0},
        {{"--version"}, 0},
    };
    for (const Case& c : cases) {
        CliResult r = run(c.args);
        EXPECT_EQ(r.status, c.status) << (c.args.empty() ? "" : c.args[0]);
        if (c.status == 2) {
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
            EXPECT_EQ(r.out, "");
        } else {
            EXPECT_FALSE(r.out.empty());
        }
    }
}

TEST_F(CliTest, RefusesWhileAnotherFrontEndHoldsTheFolder)
{
    ASSERT_EQ(run({"list"}).status, 0); // creates the folder
    int fd = open((m_dataFolder + "/Sentorix.lock").c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX), 0);
    CliResult r = run({"list"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("Sentorix is running"), std::string::npos) << r.err;
    close(fd);
    EXPECT_EQ(run({"list"}).status, 0);
}

TEST_F(CliTest, StartRemovesWhatInterruptedWritesLeftAndNothingElse)
{
    addLocal("News", "/x/news");
    writeFile(m_dataFolder + "/News.content", "stored");
    for (const char* leftover : {".News.data.a8Zk2Q", ".News.content.Qx81mB", "KTP1A.tmp"})
        writeFile(m_dataFolder + "/" + leftover, "partial");
    writeFile(m_dataFolder + "/notes.txt", "mine");

    EXPECT_EQ(run({"list"}).status, 0);
    std::vector<std::string> names = listFolder(m_dataFolder);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"News.content", "News.data", "Sentorix.lock",
                                               "notes.txt"}));
    EXPECT_EQ(readFile(m_dataFolder + "/News.content"), "stored");
}

TEST_F(CliTest, UnusableDataFolderIsRefused)
{
    // No per-user folder can be made (XDG_DATA_HOME is a file) and the fallback, the
    // InstallFolder, does not exist.
    writeFile(m_home.file("data"), "not a folder");
    m_extraEnv.emplace_back("SENTORIX_INSTALL_DIR", m_home.file("missing"));
    CliResult r = run({"list"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("cannot use the data folder"), std::string::npos) << r.err;
}

} // namespace

namespace
{

// The check command against real servers: an HTTP server and an FTP server (active mode) on
// 127.0.0.1 serving files of a folder the test changes between checks, and files on disk.
class CliCheckTest : public CliTest
{
protected:
    void SetUp() override
    {
        CliTest::SetUp();
        m_www = m_home.file("www");
        std::filesystem::create_directories(m_www + "/pub");
        writeFile(m_www + "/page.html", "<html><body>news: one</body></html>\r\n");
        writeFile(m_www + "/file.bin", std::string("\x00\x01\x02 binary", 10));
        writeFile(m_www + "/pub/report.txt", "report v1\n");
        writeFile(m_home.file("local.txt"), "local v1\n");
        m_http = std::make_unique<PeerProcess>("http_server.py",
                                               std::vector<std::string>{"--root", m_www});
        ASSERT_TRUE(m_http->start());
        m_ftp = std::make_unique<PeerProcess>(
            "ftp_server.py",
            std::vector<std::string>{"--root", m_www, "--user", "ann", "--password", "s3:cr@t"});
        ASSERT_TRUE(m_ftp->start());
        const std::string web = "127.0.0.1:" + std::to_string(m_http->port());
        const std::string ftp = "127.0.0.1:" + std::to_string(m_ftp->port());
        ASSERT_EQ(
            run({"add", "--kind", "web-page", "--name", "Page", "--location", web + "/page.html"})
                .status,
            0);
        ASSERT_EQ(run({"add", "--kind", "web-file", "--name", "File", "--location",
                       "http://" + web + "/file.bin"})
                      .status,
                  0);
        ASSERT_EQ(run({"add", "--kind", "ftp-file", "--name", "Ftp", "--location",
                       "ftp://" + ftp + "/pub/report.txt", "--user", "ann", "--password", "-"},
                      "s3:cr@t\n")
                      .status,
                  0);
        addLocal("Local", m_home.file("local.txt"));
    }

    // name -> status text, from the list output.
    std::map<std::string, std::string> statuses(const std::string& listing)
    {
        std::map<std::string, std::string> out;
        std::istringstream in(listing);
        for (std::string line; std::getline(in, line);) {
            std::vector<std::string> fields;
            std::istringstream fin(line);
            for (std::string f; std::getline(fin, f, '\t');)
                fields.push_back(f);
            EXPECT_EQ(fields.size(), 4u) << line;
            if (fields.size() == 4)
                out[fields[0]] = fields[2];
        }
        return out;
    }

    void writeOptions(int32_t sendEmail)
    {
        int32_t fields[11] = {0, 10, 0, 0, 0, 0, 1, sendEmail, 1, 1, 2};
        writeFile(m_dataFolder + "/Sentorix.option",
                  std::string(reinterpret_cast<const char*>(fields), sizeof fields));
    }

    std::string m_www;
    std::unique_ptr<PeerProcess> m_http;
    std::unique_ptr<PeerProcess> m_ftp;
};

TEST_F(CliCheckTest, FirstFetchUnchangedChangedAndSkipped)
{
    writeOptions(0);
    CliResult r = run({"check"});
    EXPECT_EQ(r.status, 0) << r.err;
    auto s = statuses(r.out);
    for (const char* name : {"Page", "File", "Ftp", "Local"})
        EXPECT_EQ(s[name], "Ready") << name << "\n" << r.err;
    EXPECT_EQ(readFile(m_dataFolder + "/Ftp.content"), "report v1\n");
    // A page is stored in text mode: the CR LF it arrived with is kept as CR CR LF.
    EXPECT_EQ(readFile(m_dataFolder + "/Page.content"),
              "<html><body>news: one</body></html>\r\r\n");
    EXPECT_EQ(r.out.find("\t?\n"), std::string::npos) << "every check stamps its time";

    r = run({"check"});
    EXPECT_EQ(r.status, 0) << r.err;
    s = statuses(r.out);
    for (const char* name : {"Page", "File", "Ftp", "Local"})
        EXPECT_EQ(s[name], "Checked") << name;

    writeFile(m_www + "/page.html", "<html><body>news: two</body></html>\r\n");
    writeFile(m_www + "/pub/report.txt", "report v2\n");
    r = run({"check"});
    EXPECT_EQ(r.status, 1) << r.err;
    s = statuses(r.out);
    EXPECT_EQ(s["Page"], "** Changed");
    EXPECT_EQ(s["Ftp"], "** Changed");
    EXPECT_EQ(s["File"], "Checked");
    EXPECT_EQ(readFile(m_dataFolder + "/Ftp.content"), "report v2\n");

    // A Changed document is left alone by the next requests until it is marked checked.
    const std::string before = readFile(m_dataFolder + "/Page.data");
    r = run({"check"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(statuses(r.out)["Page"], "** Changed");
    r = run({"check", "page"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(statuses(r.out)["Page"], "** Changed");
    EXPECT_EQ(readFile(m_dataFolder + "/Page.data"), before) << "lastCheck not stamped";

    EXPECT_EQ(run({"mark-checked", "page"}).status, 0);
    r = run({"check", "page"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(statuses(r.out)["Page"], "Checked");
}

TEST_F(CliCheckTest, UnavailableDocumentsGiveExitThreeAndKeepTheirContent)
{
    writeOptions(0);
    ASSERT_EQ(run({"check"}).status, 0);
    std::filesystem::remove(m_home.file("local.txt"));
    std::filesystem::remove(m_www + "/pub/report.txt");
    std::filesystem::remove(m_www + "/file.bin");
    writeFile(m_www + "/page.html", "changed as well");
    CliResult r = run({"check"});
    EXPECT_EQ(r.status, 3) << "a failure wins over a change\n" << r.err;
    auto s = statuses(r.out);
    EXPECT_EQ(s["Local"], "** Unable to retrieve");
    EXPECT_EQ(s["Ftp"], "** Unable to retrieve");
    EXPECT_EQ(s["File"], "** Unable to retrieve");
    EXPECT_EQ(s["Page"], "** Changed");
    EXPECT_EQ(readFile(m_dataFolder + "/Local.content"), "local v1\n");
    EXPECT_EQ(readFile(m_dataFolder + "/Ftp.content"), "report v1\n");
    EXPECT_EQ(readFile(m_dataFolder + "/File.content"), std::string("\x00\x01\x02 binary", 10));
    // Each reason on standard error, one line per document.
    EXPECT_NE(r.err.find("sentorix-cli: Local: no such file\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("sentorix-cli: File: HTTP 404 Not Found\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("sentorix-cli: Ftp: FTP 550 "), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Page"), std::string::npos) << r.err;

    r = run({"check", "nobody"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "sentorix-cli: no document named 'nobody'\n");
}

TEST_F(CliCheckTest, MailHandOffStartsTheMailerAndMarksNotifiedDocuments)
{
    // A stand-in mailer in the InstallFolder records how it was started.
    const std::string marker = m_installDir + "/mailer-ran";
    writeFile(m_installDir + "/Postavo", "#!/bin/sh\necho \"$@\" > '" + marker + "'\n");
    std::filesystem::permissions(m_installDir + "/Postavo", std::filesystem::perms::owner_all);
    writeOptions(1);
    MailSettings mail{};
    mail.sendOnChange = 1;
    mail.sendOnUnavailable = 0;
    mail.markNotifiedChecked = 1;
    writeFile(m_dataFolder + "/Sentorix.mail",
              std::string(reinterpret_cast<const char*>(&mail), sizeof mail));
    writeFile(m_dataFolder + "/KTP1A.tmp", "left by an earlier run");

    ASSERT_EQ(run({"check"}).status, 0);
    EXPECT_FALSE(exists(m_dataFolder + "/KTP1A.tmp")) << "temporary files are deleted at the end";
    EXPECT_FALSE(exists(m_dataFolder + "/Postavo.msg")) << "first fetches are not announced";
    EXPECT_FALSE(exists(marker));

    writeFile(m_home.file("local.txt"), "local v2\n");
    // Unavailable, and not mailed, as sendOnUnavailable is 0.
    std::filesystem::remove(m_www + "/pub/report.txt");
    CliResult r = run({"check"});
    EXPECT_EQ(r.status, 3) << r.err;
    const std::string log = readFile(m_dataFolder + "/Postavo.msg");
    EXPECT_NE(log.find(" Changed: Local\r\r\n" + m_home.file("local.txt") + "\r\r\n\r\r\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("Ftp"), std::string::npos) << log;
    // The notified document is marked Checked once the mailer has been started.
    EXPECT_EQ(statuses(r.out)["Local"], "Checked");
    for (int i = 0; i < 100 && !exists(marker); ++i)
        usleep(100000);
    EXPECT_EQ(readFile(marker), "/from_sentorix\n");
}

TEST_F(CliCheckTest, MissingMailerIsReportedAndNothingIsMarked)
{
    writeOptions(1);
    MailSettings mail{};
    mail.sendOnChange = 1;
    mail.markNotifiedChecked = 1;
    writeFile(m_dataFolder + "/Sentorix.mail",
              std::string(reinterpret_cast<const char*>(&mail), sizeof mail));
    ASSERT_EQ(run({"check"}).status, 0);
    writeFile(m_home.file("local.txt"), "local v2\n");
    CliResult r = run({"check", "local"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("Cannot execute the Postavo program. Sentorix is not installed "
                         "properly."),
              std::string::npos)
        << r.err;
    EXPECT_EQ(statuses(r.out)["Local"], "** Changed");
    EXPECT_TRUE(exists(m_dataFolder + "/Postavo.msg")) << "kept for the next hand-off";
}

} // namespace

// "diff" against stored versions the test writes itself, with fixed check times.
class CliDiffTest : public CliTest
{
protected:
    void SetUp() override
    {
        CliTest::SetUp();
        m_extraEnv.emplace_back("TZ", "UTC");
    }

    void store(const std::string& file, const std::string& bytes, std::time_t when)
    {
        const std::string path = m_dataFolder + "/" + file;
        writeFile(path, bytes);
        const timespec times[2] = {{when, 0}, {when, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    }
};

TEST_F(CliDiffTest, PrintsTheLastChangeByKindAndMethod)
{
    const std::time_t earlier = 1796893200; // 2026-12-10 09:00:00 UTC
    const std::time_t later = 1796896800;   // 2026-12-10 10:00:00 UTC
    const std::string previousTime = "2026-12-10 09:00:00.000000000 +0000";
    const std::string currentTime = "2026-12-10 10:00:00.000000000 +0000";
    struct Case {
        const char* what;
        std::vector<std::string> add;                           // after "add --name Doc"
        std::vector<std::pair<std::string, std::string>> files; // extension -> bytes
        std::string out;
    };
    const std::vector<Case> cases = {
        {"a changed line",
         {"--kind", "local-file", "--location", "/x"},
         {{".previous", "a\nb\nc\n"}, {".content", "a\nB\nc\n"}},
         "--- Doc.previous\t" + previousTime + "\n+++ Doc.content\t" + currentTime +
             "\n@@ -1,3 +1,3 @@\n a\n-b\n+B\n c\n"},
        {"an added last line without a line end",
         {"--kind", "ftp-file", "--location", "h/x"},
         {{".previous", "a\nb\n"}, {".content", "a\nb\nc"}},
         "--- Doc.previous\t" + previousTime + "\n+++ Doc.content\t" + currentTime +
             "\n@@ -1,2 +1,3 @@\n a\n b\n+c\n\\ No newline at end of file\n"},
        // Stored in text mode: the CR LF the server sent is on disk as CR CR LF.
        {"a CR LF page",
         {"--kind", "web-page", "--location", "h/p"},
         {{".previous", "one\r\r\ntwo\r\r\n"}, {".content", "one\r\r\nTWO\r\r\n"}},
         "--- Doc.previous\t" + previousTime + "\n+++ Doc.content\t" + currentTime +
             "\n@@ -1,2 +1,2 @@\n one\n-two\n+TWO\n"},
        {"a middle-method page compares its portions",
         {"--kind", "web-page", "--location", "h/p", "--middle", "<b>", "</b>"},
         {{".previous", "x <b>old</b> 1\r\n"},
          {".content", "y <b>new</b> 2\r\n"},
          {".prevmid", "old"},
          {".middle", "new"}},
         "--- Doc.prevmid\t" + previousTime + "\n+++ Doc.middle\t" + currentTime +
             "\n@@ -1 +1 @@\n-old\n\\ No newline at end of file\n+new\n\\ No newline at end of "
             "file\n"},
        {"a count-method page prints both counts",
         {"--kind", "web-page", "--location", "h/p", "--count", "item"},
         {{".previous", "item item\r\n"}, {".content", "one item\r\n"}},
         "previous count of \"item\": 2 (" + previousTime + ")\ncurrent count of \"item\": 1 (" +
             currentTime + ")\n"},
        {"a binary file",
         {"--kind", "web-file", "--location", "h/f"},
         {{".previous", std::string("ab\0c", 4)}, {".content", std::string("ab\0cd", 5)}},
         "Binary files Doc.previous and Doc.content differ (sizes 4 and 5 bytes)\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> add{"add", "--name", "Doc"};
        add.insert(add.end(), c.add.begin(), c.add.end());
        ASSERT_EQ(run(add).status, 0);
        for (const auto& [extension, bytes] : c.files)
            store("Doc" + extension, bytes, extension.find("prev") == 1 ? earlier : later);
        const CliResult r = run({"diff", "doc"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, c.out);
        ASSERT_EQ(run({"remove", "Doc"}).status, 0);
        for (const char* extension : {".previous", ".prevmid", ".content", ".middle"})
            EXPECT_FALSE(exists(m_dataFolder + "/Doc" + extension)) << extension;
    }
}

TEST_F(CliDiffTest, NoPreviousVersionAndUnknownNames)
{
    addLocal("Doc", "/x");
    CliResult r = run({"diff", "Doc"});
    EXPECT_EQ(r.status, 1) << "never fetched";
    EXPECT_EQ(r.out, "");
    store("Doc.content", "first\n", 0);
    r = run({"diff", "DOC"});
    EXPECT_EQ(r.status, 1) << "a first fetch has no previous version";
    EXPECT_EQ(r.err, "sentorix-cli: Doc has no previous version (no change was detected yet)\n");

    r = run({"diff", "Nobody"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "sentorix-cli: no document named 'Nobody'\n");
    EXPECT_EQ(run({"diff"}).status, 2);
    EXPECT_EQ(run({"diff", "Doc", "Doc"}).status, 2);
}
namespace
{

// A server on 127.0.0.1 that lets connections in (the kernel completes them) and never reads
// or answers: accept() only tells the test that a client is waiting for its reply.
class SilentListener
{
public:
    SilentListener()
    {
        m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof addr;
        if (m_fd < 0 || bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            listen(m_fd, 8) != 0 ||
            getsockname(m_fd, reinterpret_cast<sockaddr*>(&addr), &length) != 0)
            return;
        m_port = ntohs(addr.sin_port);
    }
    ~SilentListener()
    {
        for (int fd : m_clients)
            close(fd);
        if (m_fd >= 0)
            close(m_fd);
    }
    int port() const { return m_port; }
    // Waits up to `ms` for a client; true when one came.
    bool acceptOne(int ms)
    {
        pollfd p{m_fd, POLLIN, 0};
        if (poll(&p, 1, ms) != 1)
            return false;
        const int client = accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            return false;
        m_clients.push_back(client);
        return true;
    }

private:
    int m_fd = -1;
    int m_port = 0;
    std::vector<int> m_clients;
};

} // namespace

// Ctrl+C or a termination request during a check that waits for a server: the transfers stop,
// the finished checks are saved, the interrupted document waits for the next run, no temporary
// file is left, and the program ends at once with 128 + the signal's number.
TEST_F(CliCheckTest, SignalDuringACheckStopsSavesAndExits)
{
    struct Case {
        int signal;
        int status;
    };
    writeOptions(0); // two workers, e-mail off
    ASSERT_EQ(run({"remove", "Page", "File", "Ftp"}).status, 0);
    for (const Case c : {Case{SIGINT, 130}, Case{SIGTERM, 143}}) {
        SilentListener server;
        ASSERT_GT(server.port(), 0);
        ASSERT_EQ(run({"add", "--kind", "web-page", "--name", "Silent", "--location",
                       "127.0.0.1:" + std::to_string(server.port()) + "/never"})
                      .status,
                  0);
        std::filesystem::remove(m_dataFolder + "/Local.content");

        const Child child = spawn({"check"});
        ASSERT_TRUE(server.acceptOne(20000)) << "the check never asked the server";
        // The local document is checked by the other worker meanwhile.
        const auto localDone = [&] {
            return std::filesystem::exists(m_dataFolder + "/Local.content");
        };
        for (int i = 0; i < 500 && !localDone(); ++i)
            usleep(10000);
        ASSERT_TRUE(localDone());
        const auto sent = std::chrono::steady_clock::now();
        ASSERT_EQ(kill(child.pid, c.signal), 0);
        const CliResult r = collect(child);
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - sent)
                            .count();
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_LT(ms, 1000) << "signal " << c.signal;
        EXPECT_EQ(readRecord("Silent").status, static_cast<int32_t>(DocumentStatus::Waiting));
        EXPECT_EQ(readRecord("Silent").lastCheck[0], '\0') << "an interrupted check did not run";
        EXPECT_EQ(readRecord("Local").status, static_cast<int32_t>(DocumentStatus::Ready))
            << "the check finished in this run is saved";
        EXPECT_FALSE(std::filesystem::exists(m_dataFolder + "/Silent.content"));
        for (const auto& entry : std::filesystem::directory_iterator(m_dataFolder))
            EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();
        ASSERT_EQ(run({"remove", "Silent"}).status, 0);
    }
}
