// Helpers shared by the tests: a temporary folder that removes itself, small file helpers, and
// a peer server process started from tests/peers that reports its port when it is ready.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace sentorix::test
{

class TempDir
{
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);
bool exists(const std::string& path);
// `size` bytes of every value, the same for the same seed.
std::string pattern(std::size_t size, unsigned seed);
std::vector<std::string> listFolder(const std::string& path);

// A peer server: /usr/bin/python3 <peers>/<script> <args...>. The script prints one line
// "READY <port>" on its standard output when it listens; start() waits for it (up to 20 s).
// The process is killed when the object goes away.
class PeerProcess
{
public:
    PeerProcess(std::string script, std::vector<std::string> args);
    ~PeerProcess();
    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;

    bool start();
    int port() const { return m_port; }
    void stop();

private:
    std::string m_script;
    std::vector<std::string> m_args;
    int m_pid = -1;
    int m_port = 0;
};

// Runs `body` in a forked child process (for limits or identities that must not touch the test
// process) and returns the child's exit status, or -1 when it did not exit normally.
int inChild(const std::function<int()>& body);

std::string peersDir();
std::string testDataDir();

} // namespace sentorix::test
