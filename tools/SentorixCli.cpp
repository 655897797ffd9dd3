// sentorix-cli: list, add, remove, check and mark documents from a terminal, a script or a
// scheduled job, on the same DataFolder and with the same files as the windowed monitor.
#include "CliCheck.h"
#include "CliOptions.h"
#include "CliSupport.h"

#include "common/DataFolder.h"
#include "common/FixedText.h"
#include "common/TextFile.h"
#include "monitor/check/DocumentChanges.h"
#include "monitor/data/DocumentTable.h"
#include "monitor/data/DocumentValidation.h"
#include "monitor/data/Leftovers.h"
#include "platform/InstanceLock.h"

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

int runAdd(CliOptions& options, DocumentTable& table, const std::string& dataFolder)
{
    DocumentInput& doc = options.document;
    if (options.passwordFromStdin) {
        std::string line;
        std::getline(std::cin, line);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        doc.password = line;
    }
    StagedRecordResult staged =
        buildStagedRecord(doc, table, DocumentDialogMode::Add, -1, dataFolder);
    if (!staged.ok)
        return refuse(staged.message);
    int slot = table.findFreeSlot();
    if (slot < 0)
        return refuse("the document list is full (" + std::to_string(table.capacity()) +
                      " documents)");
    table.put(slot, staged.record);
    saveRecord(table, slot, dataFolder);
    return 0;
}

void deleteRecordFiles(const std::string& dataFolder, const std::string& name)
{
    removeFile(recordFilePath(dataFolder, name, kDataExtension));
    removeFile(recordFilePath(dataFolder, name, kContentExtension));
    removeFile(recordFilePath(dataFolder, name, kMiddleExtension));
    removePreviousVersions(dataFolder, name);
}

int runRemove(const CliOptions& options, DocumentTable& table, const std::string& dataFolder)
{
    std::vector<int> indexes;
    if (!resolveDocumentNames(table, options.names, indexes))
        return kExitUsage;
    for (int index : indexes) {
        if (!table.isUsed(index))
            continue; // named twice
        deleteRecordFiles(dataFolder, table.displayName(index));
        table.clear(index);
    }
    return 0;
}

int runMarkChecked(const CliOptions& options, DocumentTable& table, const std::string& dataFolder)
{
    std::vector<int> indexes;
    if (options.all) {
        for (int i = 0; i < table.capacity(); ++i)
            if (table.isUsed(i))
                indexes.push_back(i);
    } else if (!resolveDocumentNames(table, options.names, indexes)) {
        return kExitUsage;
    }
    for (int index : indexes) {
        table.setStatus(index, DocumentStatus::Checked);
        saveRecord(table, index, dataFolder);
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

    // Under the lock no other front end writes here: what a crashed run left half-written is
    // removed before anything is read.
    removeInterruptedWrites(dataFolder);

    DocumentTable table;
    switch (options.command) {
    case Command::List:
        loadAllRecords(table, dataFolder, nullptr);
        return runList(table);
    case Command::Add:
        loadAllRecords(table, dataFolder, nullptr);
        return runAdd(options, table, dataFolder);
    case Command::Remove:
        loadAllRecords(table, dataFolder, nullptr);
        return runRemove(options, table, dataFolder);
    case Command::MarkChecked:
        loadAllRecords(table, dataFolder, nullptr);
        return runMarkChecked(options, table, dataFolder);
    case Command::Diff:
        loadAllRecords(table, dataFolder, nullptr);
        return runDiff(options, table, dataFolder);
    case Command::Check:
        return runCheck(options.names, table, dataFolder, installFolder);
    default:
        return refuse("no command given; see 'sentorix-cli --help'");
    }
}
