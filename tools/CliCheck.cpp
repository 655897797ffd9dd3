#include "CliCheck.h"

#include "monitor/check/CheckEngine.h"
#include "monitor/check/HeadlessView.h"
#include "monitor/check/TimerHost.h"
#include "monitor/data/DocumentTable.h"
#include "monitor/data/MailSettingsStore.h"
#include "monitor/data/NotifiedList.h"
#include "monitor/data/Options.h"
#include "platform/ProgramLauncher.h"
#include "platform/Sound.h"

#include <cstring>
#include <strings.h>

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

int findByName(const DocumentTable& table, const std::string& name)
{
    for (int i = 0; i < table.capacity(); ++i) {
        if (!table.isUsed(i))
            continue;
        std::string own = table.displayName(i);
        if (own.size() == name.size() && strncasecmp(own.data(), name.data(), own.size()) == 0)
            return i;
    }
    return -1;
}

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

void printList(const DocumentTable& table, std::ostream& out)
{
    for (int i = 0; i < table.capacity(); ++i) {
        if (!table.isUsed(i))
            continue;
        DocumentRecord rec = table.get(i);
        std::string lastCheck(rec.lastCheck, strnlen(rec.lastCheck, sizeof rec.lastCheck));
        out << table.displayName(i) << '\t' << kindText(rec.kind) << '\t' << statusText(rec.status)
            << '\t' << (lastCheck.empty() ? "?" : lastCheck) << '\n';
    }
}

int runCheck(const std::vector<std::string>& names, DocumentTable& table,
             const std::string& dataFolder, const std::string& installFolder)
{
    HeadlessView view([](const std::string& text, MessageIcon) {
        std::string oneLine = text;
        for (char& c : oneLine)
            if (c == '\n')
                c = ' ';
        std::cerr << "sentorix-cli: " << oneLine << "\n";
    });
    loadAllRecords(table, dataFolder, &view);

    std::vector<int> named;
    for (const std::string& name : names) {
        int index = findByName(table, name);
        if (index < 0) {
            std::cerr << "sentorix-cli: no document named '" << name << "'\n";
            return 2;
        }
        named.push_back(index);
    }

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

    int status = 0;
    for (int index : checked) {
        DocumentStatus s = table.status(index);
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
