// One running monitor without its window: the process-wide objects (DocumentTable, options,
// mail settings, NotifiedList, the document list and its commands, the checking engine), the
// start-up steps that need no window and the file steps of the exit sequence. The windowed
// monitor and sentorix-cli both stand on it.
//
// Order of a run: construct (nothing is read yet), load(), then armTimers() when the front
// end has timers; at the end stop() the engine and call saveOnExit(). The services handed in
// (view, timers, sound, launcher, clock) must outlive the session.
#pragma once

#include "monitor/check/CheckEngine.h"
#include "monitor/data/DocumentCommands.h"
#include "monitor/data/DocumentList.h"
#include "monitor/data/DocumentTable.h"
#include "monitor/data/MailSettingsStore.h"
#include "monitor/data/NotifiedList.h"
#include "monitor/data/Options.h"

#include <functional>
#include <memory>
#include <string>

namespace sentorix
{

class Clock;
class MonitorView;
class ProgramLauncher;
class SoundPlayer;
class TimerHost;

struct SessionServices {
    MonitorView& view;
    TimerHost& timers;
    SoundPlayer& sound;
    ProgramLauncher& launcher;
    const Clock* clock = nullptr; // null: the system clock
};

class MonitorSession
{
public:
    MonitorSession(std::string dataFolder, std::string installFolder,
                   const SessionServices& services, int capacity = DocumentTable::kDefaultCapacity);
    ~MonitorSession();
    MonitorSession(const MonitorSession&) = delete;
    MonitorSession& operator=(const MonitorSession&) = delete;

    // The first update's file steps (under the DataFolder's instance lock): the leftovers of
    // interrupted writes removed, the records (with their rows), the options (a missing
    // file is written with the defaults) and the mail settings. Returns the records loaded.
    int load()
    {
        const int loaded = loadRecords();
        loadSettings();
        return loaded;
    }
    // The two halves of load(), for a front end that needs only the records; `onLoaded` is
    // given each slot as its record is in place (see loadAllRecords).
    int loadRecords(const std::function<void(int)>& onLoaded = {});
    void loadSettings();
    // The first update's timer steps: timers 1, 3, 4 and 5 as the options say, the NotifiedList
    // emptied.
    void armTimers() { m_engine->armStartupTimers(); }
    // The exit sequence's file steps: the DataFolder's temporary files deleted, every record
    // saved (Retrieving stored as Waiting).
    void saveOnExit() { m_engine->saveOnExit(); }

    const std::string& dataFolder() const { return m_dataFolder; }
    const std::string& installFolder() const { return m_installFolder; }
    DocumentTable& table() { return m_table; }
    OptionsStore& options() { return m_options; }
    MailSettingsStore& mail() { return m_mail; }
    NotifiedList& notified() { return m_notified; }
    DocumentList& list() { return m_list; }
    DocumentCommands& commands() { return m_commands; }
    CheckEngine& engine() { return *m_engine; }

private:
    std::string m_dataFolder;
    std::string m_installFolder;
    DocumentTable m_table;
    OptionsStore m_options;
    MailSettingsStore m_mail;
    NotifiedList m_notified;
    DocumentList m_list;
    DocumentCommands m_commands;
    std::unique_ptr<CheckEngine> m_engine; // destroyed first: its workers use all of the above
};

} // namespace sentorix
