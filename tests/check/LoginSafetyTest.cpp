// A login holding a line break never reaches the wire: FTP documents checked against a scripted
// server that writes down every command it receives, web documents against the real HTTP
// server, and the URL session refusing such a login by itself. The same scripted server shows
// that an FTP path goes to the server as typed.

#include "CheckHarness.h"

#include "platform/UrlSession.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

namespace sentorix::test
{
namespace
{

// The scripted FTP server of tests/peers and the log of the command lines it received.
class CommandLogFtp
{
public:
    CommandLogFtp()
        : m_log(m_dir.file("commands.log")),
          m_process("ftp_command_log.py", {"--root", m_dir.file("root"), "--log", m_log})
    {
        std::filesystem::create_directories(m_dir.file("root"));
        writeFile(m_dir.file("root/important.txt"), "keep me\n");
    }
    bool start() { return m_process.start(); }
    std::string rootFile(const std::string& name) const { return m_dir.file("root/" + name); }
    std::string location(const std::string& file) const
    {
        return "ftp://127.0.0.1:" + std::to_string(m_process.port()) + "/" + file;
    }
    std::vector<std::string> commands() const
    {
        std::vector<std::string> lines;
        if (!exists(m_log))
            return lines;
        std::istringstream in(readFile(m_log));
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
    // The same server addressed over HTTP: a request that reached it would be logged too.
    std::string httpUrl() const
    {
        return "http://127.0.0.1:" + std::to_string(m_process.port()) + "/";
    }
    FtpTarget target(const std::string& file) const
    {
        return FtpTarget{"127.0.0.1:" + std::to_string(m_process.port()), "", file};
    }

private:
    TempDir m_dir;
    std::string m_log;
    PeerProcess m_process;
};

struct HostileLogin {
    const char* what;
    std::string userName;
    std::string password;
};

const HostileLogin kHostileLogins[] = {
    {"CR LF in the user name", "anonymous\r\nDELE important.txt", "guest"},
    {"CR LF in the password", "anonymous", "guest\r\nDELE important.txt"},
    {"LF alone in the user name", "anonymous\nDELE important.txt", "guest"},
    {"CR alone in the password", "anonymous", "guest\rDELE important.txt"},
    {"a trailing LF", "anonymous\n", "guest"},
};

// The verbs a download in active mode sends; anything else is a command nobody asked for.
bool isTransferCommand(const std::string& line)
{
    const std::string verb = line.substr(0, line.find(' '));
    for (const char* allowed : {"USER", "PASS", "PWD", "CWD", "TYPE", "PORT", "EPRT", "SIZE",
                                "MDTM", "REST", "RETR", "QUIT"}) {
        if (verb == allowed)
            return true;
    }
    return false;
}

DocumentSpec ftpDocument(const std::string& location, const std::string& user,
                         const std::string& password)
{
    DocumentSpec spec;
    spec.kind = DocumentKind::FtpFile;
    spec.name = "important";
    spec.location = location;
    spec.userName = user;
    spec.password = password;
    return spec;
}

TEST(LoginSafety, FtpLoginWithALineBreakIsNeverSent)
{
    CommandLogFtp server;
    ASSERT_TRUE(server.start());
    for (const HostileLogin& login : kHostileLogins) {
        EngineHarness h;
        const int doc =
            h.add(ftpDocument(server.location("important.txt"), login.userName, login.password));
        EXPECT_EQ(h.check(doc), DocumentStatus::Unavailable) << login.what;
        EXPECT_EQ(h.sound.played(), std::vector<std::string>{"Sentorix.alert"}) << login.what;
        EXPECT_FALSE(h.hasContent(doc)) << login.what;
        EXPECT_EQ(h.check(doc), DocumentStatus::Unavailable) << "every later check too";
    }
    EXPECT_EQ(server.commands(), std::vector<std::string>{}) << "not even a connection";
}

TEST(LoginSafety, HonestFtpLoginSendsOnlyTheTransfersCommands)
{
    CommandLogFtp server;
    ASSERT_TRUE(server.start());
    EngineHarness h;
    const int doc = h.add(ftpDocument(server.location("important.txt"), "ann", "se cret"));
    ASSERT_EQ(h.check(doc), DocumentStatus::Ready) << ::testing::PrintToString(server.commands());
    EXPECT_EQ(h.content(doc), "keep me\n");

    const std::vector<std::string> commands = server.commands();
    ASSERT_GE(commands.size(), 3u);
    EXPECT_EQ(commands[0], "USER ann");
    EXPECT_EQ(commands[1], "PASS se cret");
    for (const std::string& line : commands)
        EXPECT_TRUE(isTransferCommand(line)) << line;
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "RETR important.txt"), 1);
}

TEST(LoginSafety, WebLoginWithALineBreakIsNeverSent)
{
    HttpPeer server;
    ASSERT_TRUE(server.start());
    server.put("page.html", "<p>hello</p>");
    for (const HostileLogin& login : kHostileLogins) {
        EngineHarness h;
        DocumentSpec spec;
        spec.name = "page";
        spec.location = server.url("page.html");
        spec.userName = login.userName;
        spec.password = login.password;
        const int doc = h.add(spec);
        EXPECT_EQ(h.check(doc), DocumentStatus::Unavailable) << login.what;
        EXPECT_FALSE(h.hasContent(doc)) << login.what;
    }
    // The same page with a plain login is fetched: only the line break was refused.
    EngineHarness h;
    DocumentSpec spec;
    spec.name = "page";
    spec.location = server.url("page.html");
    spec.userName = "ann";
    spec.password = "secret";
    EXPECT_EQ(h.check(h.add(spec)), DocumentStatus::Ready);
}

TEST(LoginSafety, UrlSessionRefusesALoginWithALineBreakOrNul)
{
    CommandLogFtp server;
    ASSERT_TRUE(server.start());
    std::vector<HostileLogin> logins(std::begin(kHostileLogins), std::end(kHostileLogins));
    logins.push_back({"a NUL in the user name", std::string("anon\0DELE x", 11), "guest"});
    logins.push_back({"a NUL in the password", "anonymous", std::string("gu\0est", 6)});
    for (const HostileLogin& login : logins) {
        UrlSession session(testSessionSettings());
        const Credentials credentials{true, login.userName, login.password};
        const auto sink = [](const char*, std::size_t) { return true; };
        EXPECT_EQ(session.fetchFtp(server.target("important.txt"), credentials, sink).status,
                  FetchStatus::Failed)
            << login.what;
        EXPECT_EQ(session.fetchWeb(server.httpUrl(), credentials, sink).status, FetchStatus::Failed)
            << login.what;
    }
    EXPECT_EQ(server.commands(), std::vector<std::string>{});
}

// "pub/../important.txt" is the server's to resolve: the directory is changed to "pub/.." as
// typed (this server refuses it), never squashed by the client into "important.txt" of the
// login directory.
TEST(FtpPath, DotSegmentsGoToTheServerAsTyped)
{
    CommandLogFtp server;
    ASSERT_TRUE(server.start());
    std::filesystem::create_directories(server.rootFile("pub"));
    EngineHarness h;
    const int doc = h.add(ftpDocument(server.location("pub/../important.txt"), "ann", "pw"));
    EXPECT_EQ(h.check(doc), DocumentStatus::Unavailable);
    EXPECT_EQ(h.engine->unavailableReason(doc), "FTP 550 No such directory");
    const std::vector<std::string> commands = server.commands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "CWD pub/.."), 1)
        << ::testing::PrintToString(commands);
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "RETR important.txt"), 0);
}

} // namespace
} // namespace sentorix::test
