// sentorix-cli check killed with SIGKILL at random moments over many documents whose pages all
// changed, each kill followed by a normal run: every change must be shown (Changed in the list)
// or mailed (an entry in the MessageLog), no record may be short, no ContentFile partial, and
// nothing of the killed run may stay in the DataFolder. The rounds are bounded in number and
// time; the random seed is printed, so a failure can be replayed with SENTORIX_CRASH_SEED.
#include "tests/support/TestSupport.h"

#include "common/MailHandoff.h"
#include "monitor/data/ContentDigests.h"
#include "monitor/data/DocumentRecord.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace sentorix;
using namespace sentorix::test;

namespace
{

constexpr int kWebDocuments = 10;
constexpr int kLocalDocuments = 6;
// Fewer rounds where the programs run under a sanitizer, several times slower.
#ifdef SENTORIX_SANITIZED_BUILD
constexpr int kRounds = 4;
#else
constexpr int kRounds = 10;
#endif

class CrashSafety : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_install = m_home.file("install"); // no mailer: the MessageLog stays for inspection
        m_www = m_home.file("www");
        m_files = m_home.file("files");
        m_data = m_home.file("data/Tarnwick/Sentorix");
        for (const std::string& dir : {m_install, m_www, m_files})
            std::filesystem::create_directories(dir);
        writeVersion(0);
        m_http = std::make_unique<PeerProcess>("http_server.py",
                                               std::vector<std::string>{"--root", m_www});
        ASSERT_TRUE(m_http->start());
    }

    // Starts sentorix-cli with `args`, its output thrown away; returns its process id.
    pid_t start(const std::vector<std::string>& args)
    {
        const pid_t pid = fork();
        if (pid == 0) {
            const int null = open("/dev/null", O_RDWR);
            dup2(null, 0);
            dup2(null, 1);
            dup2(null, 2);
            setenv("XDG_DATA_HOME", m_home.file("data").c_str(), 1);
            setenv("HOME", m_home.path().c_str(), 1);
            setenv("SENTORIX_INSTALL_DIR", m_install.c_str(), 1);
            setenv("no_proxy", "127.0.0.1", 1);
            std::vector<char*> argv{const_cast<char*>(SENTORIX_CLI)};
            for (const std::string& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        return pid;
    }

    // Waits for the process, at most two minutes; its exit status, or -1.
    static int finish(pid_t pid)
    {
        for (int i = 0; i < 12000; ++i) {
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid)
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            usleep(10000);
        }
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        return -1;
    }

    int run(const std::vector<std::string>& args) { return finish(start(args)); }

    std::string name(int i) const
    {
        return (i < kWebDocuments ? "Web " : "Local ") + std::to_string(i);
    }

    static std::string body(int i, int v)
    {
        std::string b = "document " + std::to_string(i) + " version " + std::to_string(v) + "\n";
        b += std::string(40000 + 1000 * i, static_cast<char>('a' + v % 26));
        return b;
    }

    // Every page and file in version v: long enough that a fetch takes several reads.
    void writeVersion(int v)
    {
        for (int i = 0; i < kWebDocuments + kLocalDocuments; ++i) {
            const std::string path = i < kWebDocuments
                                         ? m_www + "/doc" + std::to_string(i) + ".bin"
                                         : m_files + "/doc" + std::to_string(i) + ".txt";
            // Written aside and renamed, so no fetch sees half a version.
            writeFile(path + ".part", body(i, v));
            std::filesystem::rename(path + ".part", path);
        }
    }

    // name -> status text from `sentorix-cli list`, read through a file.
    std::map<std::string, std::string> statuses()
    {
        const std::string out = m_home.file("list.txt");
        const pid_t pid = fork();
        if (pid == 0) {
            const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(fd, 1);
            setenv("XDG_DATA_HOME", m_home.file("data").c_str(), 1);
            setenv("HOME", m_home.path().c_str(), 1);
            setenv("SENTORIX_INSTALL_DIR", m_install.c_str(), 1);
            execl(SENTORIX_CLI, SENTORIX_CLI, "list", static_cast<char*>(nullptr));
            _exit(127);
        }
        EXPECT_EQ(finish(pid), 0);
        std::map<std::string, std::string> result;
        std::istringstream in(readFile(out));
        for (std::string line; std::getline(in, line);) {
            std::vector<std::string> fields;
            std::istringstream fin(line);
            for (std::string f; std::getline(fin, f, '\t');)
                fields.push_back(f);
            if (fields.size() == 4)
                result[fields[0]] = fields[2];
        }
        return result;
    }

    TempDir m_home;
    std::string m_install, m_www, m_files, m_data;
    std::unique_ptr<PeerProcess> m_http;
};

TEST_F(CrashSafety, KilledChecksLoseNoChangeTearNoFileAndLeaveNothingBehind)
{
    unsigned seed = static_cast<unsigned>(std::random_device{}());
    if (const char* fixed = std::getenv("SENTORIX_CRASH_SEED"))
        seed = static_cast<unsigned>(std::strtoul(fixed, nullptr, 10));
    std::mt19937 random(seed);
    SCOPED_TRACE("SENTORIX_CRASH_SEED=" + std::to_string(seed));

    const std::string web = "http://127.0.0.1:" + std::to_string(m_http->port()) + "/";
    for (int i = 0; i < kWebDocuments + kLocalDocuments; ++i) {
        const bool isWeb = i < kWebDocuments;
        const std::string location = isWeb ? web + "doc" + std::to_string(i) + ".bin"
                                           : m_files + "/doc" + std::to_string(i) + ".txt";
        ASSERT_EQ(run({"add", "--kind", isWeb ? "web-file" : "local-file", "--name", name(i),
                       "--location", location}),
                  0);
    }
    // Five workers, and e-mail on for changes in every other round; no mailer is installed, so
    // the MessageLog stays. Without e-mail the Changed status alone must tell each change.
    const auto setEmail = [this](int32_t sendEmail) {
        const int32_t options[11] = {0, 10, 0, 0, 0, 0, 0, sendEmail, 0, 0, 5};
        writeFile(m_data + "/" + "Sentorix.option",
                  std::string(reinterpret_cast<const char*>(options), sizeof options));
    };
    setEmail(0);
    MailSettings mail{};
    mail.sendOnChange = 1;
    writeFile(m_data + "/" + kMailSettingsFile,
              std::string(reinterpret_cast<const char*>(&mail), sizeof mail));

    const auto began = std::chrono::steady_clock::now();
    ASSERT_EQ(run({"check"}), 0) << "the first fetch of every document";
    const auto fullRun = std::chrono::steady_clock::now() - began;
    const long long fullMicros = std::max<long long>(
        std::chrono::duration_cast<std::chrono::microseconds>(fullRun).count(), 20000);

    const std::string messageLog = m_data + "/" + kMessageLogFile;
    for (int round = 1; round <= kRounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const bool email = round % 2 == 1;
        setEmail(email ? 1 : 0);
        ASSERT_EQ(run({"mark-checked", "--all"}), 0);
        std::filesystem::remove(messageLog);
        writeVersion(round);

        // Killed somewhere between its start and a little past the time a whole run takes.
        const pid_t pid = start({"check"});
        std::uniform_int_distribution<long long> moment(0, fullMicros * 5 / 4);
        std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);

        // The next run goes through, and then every change is told.
        const int status = run({"check"});
        EXPECT_TRUE(status == 0 || status == 1) << status;
        const std::map<std::string, std::string> list = statuses();
        const std::string log = exists(messageLog) ? readFile(messageLog) : "";
        for (int i = 0; i < kWebDocuments + kLocalDocuments; ++i) {
            const std::string doc = name(i);
            const bool shown = list.count(doc) && list.at(doc) == "** Changed";
            const bool mailed =
                email && log.find(" Changed: " + doc + "\r\r\n") != std::string::npos;
            EXPECT_TRUE(shown || mailed)
                << doc << " was not told (" << (list.count(doc) ? list.at(doc) : "missing") << ")";

            const std::string record = readFile(m_data + "/" + doc + ".data");
            EXPECT_EQ(record.size(), sizeof(DocumentRecord)) << doc;
            // A whole version: the new one, or (killed after the change was told, before the
            // content was replaced) an earlier one; never part of one.
            const std::string content = readFile(m_data + "/" + doc + ".content");
            bool whole = false;
            for (int v = round; v >= 0 && !whole; --v)
                whole = content == body(i, v);
            EXPECT_TRUE(whole) << doc << ": " << content.size() << " bytes";
        }
        for (const std::string& entry : listFolder(m_data)) {
            const bool known = entry == "Sentorix.lock" || entry == "Sentorix.option" ||
                               entry == kContentDigestsFile || entry == kMailSettingsFile ||
                               entry == kMessageLogFile || entry.ends_with(".data") ||
                               entry.ends_with(".content") || entry.ends_with(".previous");
            EXPECT_TRUE(known && entry[0] != '.') << "left in the DataFolder: " << entry;
        }
        if (::testing::Test::HasFailure())
            break;
    }
}

} // namespace
