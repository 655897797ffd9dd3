#include "DataTestHelpers.h"

#include "common/FixedText.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace sentorix::test
{

std::vector<int> rowRecords(const DocumentList& list)
{
    std::vector<int> records;
    for (int row = 0; row < list.rowCount(); ++row)
        records.push_back(list.rowToRecord(row));
    return records;
}

DocumentRecord makeRecord(const std::string& name, const std::string& location,
                          DocumentStatus status)
{
    DocumentRecord record{};
    record.kind = static_cast<int32_t>(DocumentKind::WebPage);
    setFieldText(record.displayName, name);
    setFieldText(record.location, location);
    record.status = static_cast<int32_t>(status);
    return record;
}

DocumentRecord makeAccountRecord(const std::string& name, const std::string& user,
                                 const std::string& password)
{
    DocumentRecord record = makeRecord(name, "ftp://files.example/report.txt");
    record.kind = static_cast<int32_t>(DocumentKind::FtpFile);
    record.useAccount = 1;
    setFieldText(record.userName, user);
    setFieldText(record.password, password);
    return record;
}

std::string recordBytes(const DocumentRecord& record)
{
    return std::string(reinterpret_cast<const char*>(&record), sizeof record);
}

ScopedEnv::ScopedEnv(const char* name, const std::optional<std::string>& value) : m_name(name)
{
    if (const char* old = std::getenv(name))
        m_old = old;
    if (value)
        ::setenv(name, value->c_str(), 1);
    else
        ::unsetenv(name);
}

ScopedEnv::~ScopedEnv()
{
    if (m_old)
        ::setenv(m_name.c_str(), m_old->c_str(), 1);
    else
        ::unsetenv(m_name.c_str());
}

int runWithFileSizeLimit(long maxFileBytes, const std::function<bool()>& work)
{
    const pid_t child = ::fork();
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN); // a write past the limit fails with EFBIG instead
        const rlimit limit{static_cast<rlim_t>(maxFileBytes), static_cast<rlim_t>(maxFileBytes)};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::_exit(work() ? 0 : 1);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

} // namespace sentorix::test
