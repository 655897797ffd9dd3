#include "tests/support/TestAuthority.h"

#include "tests/support/TestSupport.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace sentorix::test
{

namespace
{

const char* const kOpenssl = "/usr/bin/openssl";

// Runs a program with its output thrown away; its exit status, or -1.
int runQuietly(const std::vector<std::string>& argv)
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

} // namespace

bool TestAuthority::create(const std::string& folder, const std::string& name)
{
    m_folder = folder;
    caFile = folder + "/" + name + ".pem";
    m_caKey = folder + "/" + name + ".key";
    return runQuietly({kOpenssl, "req", "-x509", "-newkey", "ec", "-pkeyopt",
                       "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", m_caKey, "-out", caFile,
                       "-days", "2", "-subj", "/CN=" + name}) == 0;
}

bool TestAuthority::issue(const std::string& stem, const std::string& altNames,
                          std::string& certFile, std::string& keyFile) const
{
    const std::string base = m_folder + "/" + stem;
    certFile = base + ".pem";
    keyFile = base + ".key";
    const std::string request = base + ".csr";
    const std::string extensions = base + ".ext";
    writeFile(extensions, "subjectAltName=" + altNames + "\nbasicConstraints=CA:FALSE\n");
    return runQuietly({kOpenssl, "req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                       "-nodes", "-keyout", keyFile, "-out", request, "-subj", "/CN=" + stem}) ==
               0 &&
           runQuietly({kOpenssl, "x509", "-req", "-in", request, "-CA", caFile, "-CAkey", m_caKey,
                       "-CAcreateserial", "-out", certFile, "-days", "2", "-extfile",
                       extensions}) == 0;
}

} // namespace sentorix::test
