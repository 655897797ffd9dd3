#include "CliCheck.h"
#include "CliSupport.h"

#include "monitor/check/CheckEngine.h"
#include "monitor/check/HeadlessView.h"
#include "monitor/check/TimerHost.h"
#include "monitor/data/DocumentTable.h"
#include "monitor/data/MailSettingsStore.h"
#include "monitor/data/NotifiedList.h"
#include "monitor/data/Options.h"
#include "platform/ProgramLauncher.h"
#include "platform/Sound.h"

#include <iostream>

namespace sentorix::cli
{

namespace
{

// The command-line front end arms no timers: one check request, then the program ends.
class NoTimers final : public TimerHost
{
public:
    void armTimer(int, long long) override {}
    void stopTimer(int) override {}
};

// The documents a request will have checked once its workers are done: what it marks Waiting
// and what was Waiting already (workers claim every Waiting document they pass).
std::vector<int> documentsToBeChecked(const DocumentTable& table, const std::vector<int>& named,
                                      bool all)
{
    std::vector<char> chosen(static_cast<std::size_t>(table.capacity()), 0);
    for (int i = 0; i < table.capacity(); ++i) {
        if (!table.isUsed(i))
            continue;
        DocumentStatus s = table.status(i);
        if (s == DocumentStatus::Waiting || (all && s != DocumentStatus::Changed))
            chosen[static_cast<std::size_t>(i)] = 1;
    }
    for (int i : named) {
        DocumentStatus s = table.status(i);
        if (s != DocumentStatus::Retrieving && s != DocumentStatus::Changed)
            chosen[static_cast<std::size_t>(i)] = 1;
    }
    std::vector<int> out;
    for (int i = 0; i < table.capacity(); ++i)
        if (chosen[static_cast<std::size_t>(i)])
            out.push_back(i);
    return out;
}

} // namespace

int runCheck(const std::vector<std::string>& names, DocumentTable& table,
             const std::string& dataFolder, const std::string& installFolder)
{
    HeadlessView view([](const std::string& text, MessageIcon) { refuse(text); });
    loadAllRecords(table, dataFolder, &view);

    std::vector<int> named;
    if (!resolveDocumentNames(table, names, named))
        return kExitUsage;

    OptionsStore options;
    loadOptions(options, dataFolder);
    MailSettingsStore mail;
    loadMailSettings(mail, dataFolder);
    NotifiedList notified(table.capacity());
    NoTimers timers;
    CanberraSoundPlayer sound;
    PosixProgramLauncher launcher;
    CheckEngine engine(CheckEngineParts{dataFolder, installFolder, table, options, mail, notified,
                                        view, timers, sound, launcher});
    // MessageLog entries are written while e-mail is on, as while the monitor's mail timer runs.
    const bool sendEmail = options.get().sendEmail == 1;
    engine.mailTimerArmed = sendEmail ? 1 : 0;

    const std::vector<int> checked = documentsToBeChecked(table, named, names.empty());
    if (names.empty()) {
        engine.checkAll();
    } else {
        for (int index : named)
            view.setRowSelected(view.recordToRow(index), true);
        engine.checkSelected();
    }
    engine.waitForWorkers();

    // Why each document could not be retrieved, one line each on standard error; the list on
    // standard output keeps its columns.
    int status = 0;
    for (int index : checked) {
        DocumentStatus s = table.status(index);
        if (s == DocumentStatus::Unavailable) {
            const std::string reason = engine.unavailableReason(index);
            if (!reason.empty())
                std::cerr << "sentorix-cli: " << table.displayName(index) << ": " << reason << "\n";
        }
        if (s == DocumentStatus::Unavailable || s == DocumentStatus::Retrieving)
            status = 3;
        else if (s == DocumentStatus::Changed && status == 0)
            status = 1;
    }

    if (sendEmail)
        engine.runMailer();
    engine.saveOnExit();
    printList(table, std::cout);
    return status;
}

} // namespace sentorix::cli
