#include "CheckHarness.h"

#include "common/FixedText.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace sentorix::test
{

// --- recording stand-ins -------------------------------------------------------------------

void RecordingTimers::armTimer(int id, long long periodMs)
{
    std::lock_guard lock(m_mutex);
    m_running[id] = periodMs;
}

void RecordingTimers::stopTimer(int id)
{
    std::lock_guard lock(m_mutex);
    m_running.erase(id);
    ++m_stops[id];
}

long long RecordingTimers::period(int id) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_running.find(id);
    return it == m_running.end() ? -1 : it->second;
}

int RecordingTimers::stops(int id) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_stops.find(id);
    return it == m_stops.end() ? 0 : it->second;
}

void RecordingSound::play(const std::string& path)
{
    std::lock_guard lock(m_mutex);
    m_played.push_back(std::filesystem::path(path).filename().string());
}

void RecordingSound::clear()
{
    std::lock_guard lock(m_mutex);
    m_played.clear();
}

std::vector<std::string> RecordingSound::played() const
{
    std::lock_guard lock(m_mutex);
    return m_played;
}

bool RecordingLauncher::launchDetached(const std::string& program,
                                       const std::vector<std::string>& arguments)
{
    std::lock_guard lock(m_mutex);
    std::vector<std::string> call{program};
    call.insert(call.end(), arguments.begin(), arguments.end());
    m_calls.push_back(call);
    return succeed;
}

std::vector<std::vector<std::string>> RecordingLauncher::calls() const
{
    std::lock_guard lock(m_mutex);
    return m_calls;
}

std::tm FixedClock::localNow() const
{
    std::tm when{};
    when.tm_year = 2011 - 1900;
    when.tm_mon = 4;
    when.tm_mday = 7;
    when.tm_hour = 9;
    when.tm_min = 3;
    return when;
}

DocumentSpec middleSpec(const std::string& name, const std::string& location)
{
    DocumentSpec spec;
    spec.name = name;
    spec.location = location;
    spec.middleMode = 1;
    spec.middleStart = "<b>";
    spec.middleEnd = "</b>";
    return spec;
}

SessionSettings testSessionSettings()
{
    SessionSettings settings;
    settings.bounds.connectTimeoutMs = 3000;
    settings.bounds.stallSeconds = 1;
    settings.bounds.lowSpeedBytesPerSecond = 64;
    settings.bounds.maxTransferSeconds = 30;
    return settings;
}

// --- the engine over a temporary DataFolder ------------------------------------------------

EngineHarness::EngineHarness(int capacity, std::string folder)
    : dataFolder(folder.empty() ? dataDir.path() : folder), table(capacity), notified(capacity),
      view([](const std::string&, MessageIcon) {})
{
    // Nothing of a test's traffic to 127.0.0.1 may go through a proxy of the machine.
    setenv("no_proxy", "127.0.0.1,localhost", 1);
    setenv("NO_PROXY", "127.0.0.1,localhost", 1);
    view.setList(&list);
    CheckEngineParts parts{
        dataFolder, installDir.path(), table, options, mail, notified, hooks, list, timers,
        sound,      launcher,          &clock};
    engine = std::make_unique<CheckEngine>(parts);
    engine->setSessionSettings(testSessionSettings());
}

EngineHarness::~EngineHarness()
{
    engine.reset();
}

int EngineHarness::add(const DocumentSpec& spec)
{
    DocumentRecord record{};
    record.kind = static_cast<int32_t>(spec.kind);
    setFieldText(record.location, spec.location);
    setFieldText(record.displayName, spec.name);
    if (!spec.userName.empty() || !spec.password.empty()) {
        record.useAccount = 1;
        setFieldText(record.userName, spec.userName);
        setFieldText(record.password, spec.password);
    }
    record.countMode = spec.countMode;
    setFieldText(record.countString, spec.countString);
    record.middleMode = spec.middleMode;
    setFieldText(record.middleStart, spec.middleStart);
    setFieldText(record.middleEnd, spec.middleEnd);
    record.status = static_cast<int32_t>(spec.status);
    const int index = table.findFreeSlot();
    table.put(index, record);
    list.appendRow(index);
    return index;
}

DocumentStatus EngineHarness::check(int index)
{
    table.setStatus(index, DocumentStatus::Waiting);
    engine->startCheckWorkers();
    settle();
    return table.status(index);
}

void EngineHarness::settle()
{
    while (!engine->waitForWorkers(5))
        view.deliverReports();
    view.deliverReports();
}

std::vector<int> EngineHarness::selected()
{
    view.deliverReports();
    return list.selectedRecords();
}

int EngineHarness::redraws(int record)
{
    view.deliverReports();
    return view.redraws(record);
}

std::string EngineHarness::contentPath(int index) const
{
    return recordFilePath(dataFolder, table.displayName(index), kContentExtension);
}

std::string EngineHarness::middlePath(int index) const
{
    return recordFilePath(dataFolder, table.displayName(index), kMiddleExtension);
}

std::string EngineHarness::content(int index) const
{
    return readFile(contentPath(index));
}

bool EngineHarness::hasContent(int index) const
{
    return exists(contentPath(index));
}

std::vector<std::string> EngineHarness::tempFiles() const
{
    std::vector<std::string> found;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dataFolder, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.size() > 4 && name.substr(name.size() - 4) == ".tmp")
            found.push_back(name);
    }
    return found;
}

// --- peers ---------------------------------------------------------------------------------

namespace
{

std::vector<std::string> httpArgs(const std::string& root, const std::string& user,
                                  const std::string& password, const std::string& cert,
                                  const std::string& key)
{
    std::vector<std::string> args{"--root", root};
    if (!user.empty())
        args.insert(args.end(), {"--user", user, "--password", password});
    if (!cert.empty())
        args.insert(args.end(), {"--cert", cert, "--key", key});
    return args;
}

} // namespace

HttpPeer::HttpPeer(std::string user, std::string password, std::string certFile,
                   std::string keyFile)
    : m_tls(!certFile.empty()),
      m_process("http_server.py", httpArgs(m_root.path(), user, password, certFile, keyFile))
{
}

void HttpPeer::put(const std::string& name, const std::string& bytes) const
{
    // Written aside and renamed, so the server never serves half a file.
    const std::string aside = m_root.file("." + name + ".part");
    writeFile(aside, bytes);
    std::filesystem::rename(aside, m_root.file(name));
}

void HttpPeer::remove(const std::string& name) const
{
    std::filesystem::remove(m_root.file(name));
}

int HttpPeer::connections() const
{
    const std::string log = readFile(m_root.file(".connections"));
    return static_cast<int>(std::count(log.begin(), log.end(), '\n'));
}

std::string HttpPeer::url(const std::string& path) const
{
    return std::string(m_tls ? "https" : "http") + "://127.0.0.1:" + std::to_string(port()) + "/" +
           path;
}

FtpPeer::FtpPeer(std::string user, std::string password)
    : m_process("ftp_server.py", {"--root", m_root.path(), "--user", user, "--password", password})
{
}

void FtpPeer::put(const std::string& relativePath, const std::string& bytes) const
{
    const std::filesystem::path path = m_root.file(relativePath);
    std::filesystem::create_directories(path.parent_path());
    writeFile(path.string(), bytes);
}

std::string FtpPeer::location(const std::string& path) const
{
    return "127.0.0.1:" + std::to_string(port()) + path;
}

int runProgram(const std::vector<std::string>& argv)
{
    const pid_t pid = fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        const int null = ::open("/dev/null", O_RDWR);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool TestCertificates::make(const std::string& folder)
{
    const std::string openssl = "/usr/bin/openssl";
    caFile = folder + "/ca.pem";
    certFile = folder + "/server.pem";
    keyFile = folder + "/server.key";
    const std::string caKey = folder + "/ca.key";
    const std::string request = folder + "/server.csr";
    const std::string extensions = folder + "/server.ext";
    writeFile(extensions, "subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\n");
    return runProgram({openssl, "req", "-x509", "-newkey", "ec", "-pkeyopt",
                       "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", caKey, "-out", caFile,
                       "-days", "2", "-subj", "/CN=Sentorix Test CA"}) == 0 &&
           runProgram({openssl, "req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                       "-nodes", "-keyout", keyFile, "-out", request, "-subj", "/CN=127.0.0.1"}) ==
               0 &&
           runProgram({openssl, "x509", "-req", "-in", request, "-CA", caFile, "-CAkey", caKey,
                       "-CAcreateserial", "-out", certFile, "-days", "2", "-extfile",
                       extensions}) == 0;
}

// --- the scripted server -------------------------------------------------------------------

ScriptedServer::ScriptedServer(Behaviour behaviour) : m_behaviour(behaviour) {}

ScriptedServer::~ScriptedServer()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    std::lock_guard lock(m_mutex);
    for (std::thread& t : m_connections)
        t.join();
    if (m_listen >= 0)
        ::close(m_listen);
}

bool ScriptedServer::start()
{
    m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listen < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (::bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_listen, 16) != 0 ||
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return false;
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { serve(); });
    return true;
}

void ScriptedServer::serve()
{
    while (!m_stop) {
        pollfd pfd{m_listen, POLLIN, 0};
        if (::poll(&pfd, 1, 50) <= 0)
            continue;
        const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        std::lock_guard lock(m_mutex);
        m_connections.emplace_back([this, fd] {
            handle(fd);
            ::close(fd);
        });
    }
}

void ScriptedServer::handle(int fd)
{
    // Read the request head (up to the empty line), whatever it holds.
    std::string request;
    char buffer[4096];
    while (!m_stop && request.find("\r\n\r\n") == std::string::npos) {
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, 50) <= 0)
            continue;
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0)
            return;
        request.append(buffer, static_cast<std::size_t>(got));
    }
    auto sendAll = [fd](const std::string& bytes) {
        return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    };
    auto idle = [this](std::chrono::milliseconds span) {
        const auto until = std::chrono::steady_clock::now() + span;
        while (!m_stop && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    };
    switch (m_behaviour) {
    case Behaviour::Silent:
        while (!m_stop)
            idle(std::chrono::milliseconds(100));
        break;
    case Behaviour::Trickle:
        if (!sendAll("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n"))
            return;
        while (!m_stop && sendAll("x"))
            idle(std::chrono::seconds(2));
        break;
    case Behaviour::CutOff:
        sendAll("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\nConnection: close\r\n\r\n" +
                std::string(5000, 'y'));
        break;
    case Behaviour::Endless:
    case Behaviour::HugeDeclared: {
        const std::string length =
            m_behaviour == Behaviour::HugeDeclared ? "Content-Length: 3221225472\r\n" : "";
        if (!sendAll("HTTP/1.1 200 OK\r\n" + length + "Connection: close\r\n\r\n"))
            return;
        const std::string block(65536, 'e');
        while (!m_stop && sendAll(block)) {
        }
        break;
    }
    case Behaviour::SteadyTrickle:
        if (!sendAll("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n"))
            return;
        while (!m_stop && sendAll(std::string(50, 't')))
            idle(std::chrono::milliseconds(100));
        break;
    }
}

int closedPort()
{
    // Bind a port, then let it go: nothing listens there afterwards.
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

// --- an immutable folder -------------------------------------------------------------------

namespace
{

bool setImmutable(const std::string& path, bool on)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return ok;
}

} // namespace

ImmutableFolder::ImmutableFolder(const std::string& path) : m_path(path)
{
    m_ok = setImmutable(path, true);
    if (m_ok && ::access(path.c_str(), W_OK) == 0) {
        // Confirm that a file really cannot be made here.
        const std::string probe = path + "/.probe";
        const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::close(fd);
            ::unlink(probe.c_str());
            m_ok = false;
        }
    }
}

ImmutableFolder::~ImmutableFolder()
{
    setImmutable(m_path, false);
}

} // namespace sentorix::test
