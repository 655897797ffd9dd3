#include "CliCheck.h"
#include "CliSupport.h"
#include "HeadlessView.h"

#include "monitor/check/MonitorSession.h"
#include "monitor/check/TimerHost.h"
#include "platform/ProgramLauncher.h"
#include "platform/Sound.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <iostream>
#include <thread>

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

// Takes SIGINT and SIGTERM on a thread of its own while a check runs: the signals are blocked
// in every other thread (the workers inherit the mask of the thread that starts them), and
// this thread stops the engine when one arrives. SIGUSR2 ends it when the check is over.
class SignalWatch
{
public:
    explicit SignalWatch(CheckEngine& engine) : m_engine(engine)
    {
        sigemptyset(&m_set);
        sigaddset(&m_set, SIGINT);
        sigaddset(&m_set, SIGTERM);
        sigaddset(&m_set, SIGUSR2);
        pthread_sigmask(SIG_BLOCK, &m_set, &m_old);
        m_thread = std::thread([this] { watch(); });
    }
    ~SignalWatch()
    {
        pthread_kill(m_thread.native_handle(), SIGUSR2);
        m_thread.join();
        // A signal that came in meanwhile stays pending and would end the program once
        // unblocked; it was taken already.
        pthread_sigmask(SIG_SETMASK, &m_old, nullptr);
    }
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

    // The signal that stopped the check, or 0.
    int caught() const { return m_caught.load(); }

private:
    void watch()
    {
        for (;;) {
            int signal = 0;
            if (sigwait(&m_set, &signal) != 0)
                continue;
            if (signal == SIGUSR2)
                return;
            if (m_caught.load() == 0)
                m_caught = signal;
            m_engine.stop();
        }
    }

    CheckEngine& m_engine;
    sigset_t m_set;
    sigset_t m_old;
    std::atomic<int> m_caught{0};
    std::thread m_thread;
};

} // namespace

int runCheck(const std::vector<std::string>& names, const std::string& dataFolder,
             const std::string& installFolder)
{
    HeadlessView view([](const std::string& text, MessageIcon) { refuse(text); });
    NoTimers timers;
    CanberraSoundPlayer sound;
    PosixProgramLauncher launcher;
    MonitorSession session(dataFolder, installFolder,
                           SessionServices{view, timers, sound, launcher, nullptr});
    view.setList(&session.list());
    // Named documents are looked up in the loaded list; the whole list is checked as it loads,
    // so the first fetches run while the rest of the records are read.
    const bool all = names.empty();
    std::vector<int> named;
    if (!all) {
        session.loadRecords();
        if (!resolveDocumentNames(session.table(), names, named))
            return kExitUsage;
    }
    session.loadSettings();

    CheckEngine& engine = session.engine();
    // MessageLog entries are written while e-mail is on, as while the monitor's mail timer runs.
    const bool sendEmail = session.options().get().sendEmail == 1;
    engine.setMailTimerArmed(sendEmail);

    int caught = 0;
    {
        SignalWatch signals(engine);
        if (all) {
            struct LoadEnd {
                CheckEngine& engine;
                ~LoadEnd() { engine.endLoadingCheck(); } // the workers stop waiting for slots
            } loadEnd{engine};
            engine.beginLoadingCheck();
            session.loadRecords([&engine](int index) { engine.recordLoaded(index); });
        } else {
            DocumentList& list = session.list();
            for (int index : named)
                list.setRowSelected(list.recordToRow(index), true);
            engine.checkSelected();
        }
        // This thread is the view's UI thread: it shows the workers' messages while it waits.
        while (!engine.waitForWorkers(20))
            view.deliverReports();
        view.deliverReports();
        caught = signals.caught();
    }

    if (caught != 0) {
        session.saveOnExit();
        return caught == SIGTERM ? kExitTerminated : kExitInterrupted;
    }

    // Why each document could not be retrieved, one line each on standard error; the list on
    // standard output keeps its columns.
    int status = 0;
    const DocumentTable& table = session.table();
    for (int index : engine.takeClaimed()) {
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
    session.saveOnExit();
    printList(table, std::cout);
    return status;
}

} // namespace sentorix::cli
