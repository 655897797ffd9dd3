#include "TestSupport.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace sentorix::test
{

TempDir::TempDir()
{
    const char* base = std::getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/sentorix-test-XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data()))
        throw std::runtime_error("mkdtemp failed");
    m_path = buf.data();
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

std::string pattern(std::size_t size, unsigned seed)
{
    std::string s(size, '\0');
    for (auto& c : s) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<char>(seed >> 16);
    }
    return s;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void writeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool exists(const std::string& path)
{
    struct stat st {
    };
    return ::stat(path.c_str(), &st) == 0;
}

std::vector<std::string> listFolder(const std::string& path)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

int inChild(const std::function<int()>& body)
{
    pid_t pid = fork();
    if (pid == 0)
        _exit(body());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string peersDir()
{
    return SENTORIX_PEERS_DIR;
}
std::string testDataDir()
{
    return SENTORIX_TEST_DATA_DIR;
}

PeerProcess::PeerProcess(std::string script, std::vector<std::string> args)
    : m_script(std::move(script)), m_args(std::move(args))
{
}

PeerProcess::~PeerProcess()
{
    stop();
}

bool PeerProcess::start()
{
    int fds[2];
    if (pipe(fds) != 0)
        return false;
    std::string scriptPath = peersDir() + "/" + m_script;
    std::vector<std::string> argv{SENTORIX_PYTHON, "-u", scriptPath};
    argv.insert(argv.end(), m_args.begin(), m_args.end());
    pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return false;
    }
    if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        close(fds[0]);
        close(fds[1]);
        setpgid(0, 0);
        std::vector<char*> cargv;
        for (auto& a : argv)
            cargv.push_back(a.data());
        cargv.push_back(nullptr);
        execv(cargv[0], cargv.data());
        _exit(127);
    }
    close(fds[1]);
    m_pid = pid;
    std::string got;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd pfd{fds[0], POLLIN, 0};
        if (poll(&pfd, 1, 200) <= 0)
            continue;
        char c;
        ssize_t n = read(fds[0], &c, 1);
        if (n <= 0)
            break;
        if (c != '\n') {
            got.push_back(c);
            continue;
        }
        if (got.rfind("READY ", 0) == 0) {
            m_port = std::atoi(got.c_str() + 6);
            close(fds[0]);
            return true;
        }
        got.clear();
    }
    close(fds[0]);
    stop();
    return false;
}

void PeerProcess::stop()
{
    if (m_pid > 0) {
        kill(-m_pid, SIGTERM);
        kill(m_pid, SIGTERM);
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
    }
}

} // namespace sentorix::test
