// Small helpers for the data tests: records built field by field, a view that records the rows
// it was asked to insert, an environment variable set for one test, and a run of code in a
// child process whose file size is limited (a full disk that even root cannot write past).
#pragma once

#include "monitor/data/DocumentRecord.h"
#include "monitor/data/MonitorView.h"

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

struct RowCall {
    int record;
    int row;
    bool insert;
    bool operator==(const RowCall&) const = default;
};

class RecordingView : public MonitorView
{
public:
    std::vector<RowCall> calls;

    int rowCount() override { return static_cast<int>(calls.size()); }
    bool isRowSelected(int) override { return false; }
    int rowToRecord(int row) override { return row; }
    int recordToRow(int record) override { return record; }
    void refreshRow(int record, int row, bool insert) override
    {
        calls.push_back({record, row, insert});
    }
    void selectRecordRow(int) override {}
    void startBlink() override {}
    void showMessage(const std::string&, MessageIcon) override {}
    void openDocument(int, bool) override {}
};

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
