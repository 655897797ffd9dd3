// Small helpers for the data tests: records built field by field, the rows of a list, an
// environment variable set for one test, and a run of code in a child process whose file size is
// limited (a full disk that even root cannot write past).
#pragma once

#include "monitor/data/DocumentList.h"
#include "monitor/data/DocumentRecord.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace sentorix::test
{

DocumentRecord makeRecord(const std::string& name, const std::string& location = "http://a.b/",
                          DocumentStatus status = DocumentStatus::Checked);
DocumentRecord makeAccountRecord(const std::string& name, const std::string& user,
                                 const std::string& password);

std::string recordBytes(const DocumentRecord& record);

// The record of every row of a list, in row order.
std::vector<int> rowRecords(const DocumentList& list);

// Sets (or with nullopt unsets) an environment variable and restores it afterwards.
class ScopedEnv
{
public:
    ScopedEnv(const char* name, const std::optional<std::string>& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string m_name;
    std::optional<std::string> m_old;
};

// Runs `work` in a forked child in which no file may grow past `maxFileBytes`; returns the
// child's exit status (work's result: 0 true, 1 false), or -1 when it did not exit normally.
int runWithFileSizeLimit(long maxFileBytes, const std::function<bool()>& work);

} // namespace sentorix::test
