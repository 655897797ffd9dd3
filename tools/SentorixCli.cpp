// sentorix-cli: list, add, remove, check and mark documents from a terminal, a script or a
// scheduled job, on the same DataFolder and with the same files as the windowed monitor.
#include "CliCheck.h"
#include "CliOptions.h"
#include "CliSupport.h"
#include "HeadlessView.h"

#include "common/DataFolder.h"
#include "common/FixedText.h"
#include "common/TextFile.h"
#include "monitor/check/DocumentChanges.h"
#include "monitor/check/MonitorSession.h"
#include "monitor/check/TimerHost.h"
#include "monitor/data/DocumentValidation.h"
#include "platform/InstanceLock.h"
#include "platform/ProgramLauncher.h"
#include "platform/Sound.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

using namespace sentorix;
using namespace sentorix::cli;

namespace
{

bool usableFolder(const std::string& folder)
{
    struct stat st {
    };
    return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           ::access(folder.c_str(), R_OK | W_OK | X_OK) == 0;
}

int runList(const DocumentTable& table)
{
    printList(table, std::cout);
    return 0;
}

// The commands other than check start no workers and arm no timers.
class NoTimers final : public TimerHost
{
public:
    void armTimer(int, long long) override {}
    void stopTimer(int) override {}
};

int runAdd(CliOptions& options, MonitorSession& session)
{
    DocumentTable& table = session.table();
    DocumentInput& doc = options.document;
    if (options.passwordFromStdin) {
        std::string line;
        std::getline(std::cin, line);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        doc.password = line;
    }
    StagedRecordResult staged =
        buildStagedRecord(doc, table, DocumentDialogMode::Add, -1, session.dataFolder());
    if (!staged.ok)
        return refuse(staged.message);
    if (session.commands().addStagedRecord(staged.record) < 0)
        return refuse("the document list is full (" + std::to_string(table.capacity()) +
                      " documents)");
    return 0;
}

int runRemove(const CliOptions& options, MonitorSession& session)
{
    DocumentTable& table = session.table();
    std::vector<int> indexes;
    if (!resolveDocumentNames(table, options.names, indexes))
        return kExitUsage;
    for (int index : indexes) {
        if (!table.isUsed(index))
            continue; // named twice
        session.commands().deleteRecord(index);
    }
    return 0;
}

int runMarkChecked(const CliOptions& options, MonitorSession& session)
{
    DocumentTable& table = session.table();
    std::vector<int> indexes;
    if (options.all) {
        for (int i = 0; i < table.capacity(); ++i)
            if (table.isUsed(i))
                indexes.push_back(i);
    } else if (!resolveDocumentNames(table, options.names, indexes)) {
        return kExitUsage;
    }
    // Unlike the window's command, the mark is saved at once: the program ends here.
    for (int index : indexes) {
        session.commands().markChecked(index);
        saveRecord(table, index, session.dataFolder());
    }
    return 0;
}

// Exit 0 when something was printed, 1 when the document has no previous version.
int runDiff(const CliOptions& options, const DocumentTable& table, const std::string& dataFolder)
{
    std::vector<int> indexes;
    if (!resolveDocumentNames(table, options.names, indexes))
        return kExitUsage;
    const DocumentRecord record = table.get(indexes.front());
    const DocumentChanges changes = compareVersions(dataFolder, record);
    if (changes.result == ChangesResult::NoPrevious) {
        std::cerr << "sentorix-cli: " << table.displayName(indexes.front())
                  << " has no previous version (no change was detected yet)\n";
        return 1;
    }
    std::cout << formatChanges(changes);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    ParseResult parsed = parseCommandLine(args);
    if (!parsed.ok)
        return refuse(parsed.error);
    CliOptions& options = parsed.options;
    if (options.command == Command::Help) {
        std::cout << usageText(Command::None);
        return 0;
    }
    if (options.command == Command::Version) {
        std::cout << "sentorix-cli " << SENTORIX_VERSION << "\n";
        return 0;
    }
    if (options.helpFor != Command::None) {
        std::cout << usageText(options.helpFor);
        return 0;
    }

    const std::string installFolder = findInstallFolder();
    const std::string dataFolder = monitorDataFolder(installFolder);
    if (!usableFolder(dataFolder))
        return refuse("cannot use the data folder " + dataFolder);

    InstanceLock lock;
    switch (lock.tryAcquire(dataFolder)) {
    case InstanceLock::Result::Acquired:
        break;
    case InstanceLock::Result::Busy:
        return refuse("Sentorix is running on " + dataFolder + "; close it and try again");
    case InstanceLock::Result::Failed:
        return refuse("cannot lock the data folder " + dataFolder);
    }

    if (options.command == Command::Check)
        return runCheck(options.names, dataFolder, installFolder);

    HeadlessView view([](const std::string& text, MessageIcon) { refuse(text); });
    NoTimers timers;
    NullSoundPlayer sound;
    PosixProgramLauncher launcher;
    MonitorSession session(dataFolder, installFolder,
                           SessionServices{view, timers, sound, launcher, nullptr});
    view.setList(&session.list());
    switch (options.command) {
    case Command::List:
        session.loadRecords();
        return runList(session.table());
    case Command::Add:
        session.loadRecords();
        return runAdd(options, session);
    case Command::Remove:
        session.loadRecords();
        return runRemove(options, session);
    case Command::MarkChecked:
        session.loadRecords();
        return runMarkChecked(options, session);
    case Command::Diff:
        session.loadRecords();
        return runDiff(options, session.table(), dataFolder);
    default:
        return refuse("no command given; see 'sentorix-cli --help'");
    }
}
