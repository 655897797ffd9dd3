// The checking engine: check requests, the worker threads that fetch and compare documents,
// the timers of the document list window, and the announcement of changes and failures.
//
// Threads. Requests, timer ticks and runMailer run on the UI thread. Each request starts one
// to five detached worker threads; each worker walks the DocumentTable once and claims every
// Waiting document (Waiting -> Retrieving, one atomic step under the engine's claim lock, which
// also records that a worker holds the document), then fetches and compares it. A worker
// reaches the window only through the reports of MonitorView, which never wait for the UI
// thread (only a message box does). The DocumentList is read on the UI thread only. The
// program never joins the workers; waitForWorkers() lets the front ends and the tests wait for
// them, and the destructor waits too, so an engine is never destroyed under a running worker.
// stop() asks running transfers to end and lets no worker start another check, so the UI
// thread may stop and destroy an engine while workers run.
#pragma once

#include "monitor/check/TimerHost.h"
#include "monitor/data/ContentDigests.h"
#include "monitor/data/DocumentRecord.h"
#include "platform/UrlSession.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace sentorix
{

class Clock;
class DocumentList;
class DocumentTable;
class OptionsStore;
class MailSettingsStore;
class NotifiedList;
class MonitorView;
class SoundPlayer;
class ProgramLauncher;
class StreamComparison;

inline constexpr const char* kChangeSoundFile = "Sentorix.sound";
inline constexpr const char* kAlertSoundFile = "Sentorix.alert";
inline constexpr const char* kMailerProgram = "Postavo";
inline constexpr const char* kMailerSwitch = "/from_sentorix";

inline constexpr const char* kSelectToCheckText = "Please select the document data to check.";
inline constexpr const char* kMiddleNotFoundText =
    "Cannot find the specified strings from document content.";
inline constexpr const char* kMailerMissingText =
    "Cannot execute the Postavo program. Sentorix is not installed properly.";

// The process-wide objects the engine works on; all of them outlive the engine.
struct CheckEngineParts {
    std::string dataFolder;
    std::string installFolder; // the sound files and the mailer are found here
    DocumentTable& table;
    OptionsStore& options;
    MailSettingsStore& mail;
    NotifiedList& notified;
    MonitorView& view;
    DocumentList& list; // the UI thread's list: requests read its rows and selection
    TimerHost& timers;
    SoundPlayer& sound;
    ProgramLauncher& launcher;
    const Clock* clock = nullptr; // the time of "Last Check" texts; null: the system clock
};

// Session settings for production: the default bounds, and the system's certificate store
// unless $SENTORIX_CA_BUNDLE names a PEM file of authorities to trust instead.
SessionSettings defaultSessionSettings();

class CheckEngine
{
public:
    explicit CheckEngine(const CheckEngineParts& parts);
    ~CheckEngine();
    CheckEngine(const CheckEngine&) = delete;
    CheckEngine& operator=(const CheckEngine&) = delete;

    // Flags of the document list window, readable from any thread. The tray mode is set by
    // the window (true while it is hidden in the tray); the two timer flags are kept by the
    // timer operations below.
    void setTrayMode(bool inTray) { m_trayMode = inTray ? 1 : 0; }
    bool trayMode() const { return m_trayMode == 1; }
    bool periodicTimerArmed() const { return m_periodicTimerArmed == 1; }
    bool mailTimerArmed() const { return m_mailTimerArmed == 1; }
    // For a front end without timers: MessageLog entries are written while this is set, as
    // while the monitor's mail timer runs.
    void setMailTimerArmed(bool armed) { m_mailTimerArmed = armed ? 1 : 0; }

    // Bounds and trust for the transfers of checks started from now on.
    void setSessionSettings(const SessionSettings& settings);
    SessionSettings sessionSettings() const;

    // Window-side steps the engine triggers from timer ticks: one step of the tray icon's
    // blink cycle (timer 2) and the first-document prompt (timer 3, only when the list is
    // empty). Unset hooks do nothing. Set them before the timers are armed.
    void setBlinkStep(std::function<void()> step);
    void setStartupPrompt(std::function<void()> prompt);

    // --- requests (UI thread) ---
    // Marks the selected documents Waiting (not Retrieving, Changed or Waiting ones) and starts
    // workers; with no selection shows kSelectToCheckText and starts none.
    void checkSelected();
    // Marks every listed document Waiting that is not Changed and not held by a worker, then
    // starts workers.
    void checkAll();
    // Starts workerThreads workers (1 when the option lies outside 1..5, which is then stored in
    // the options in force).
    void startCheckWorkers();
    // Every document checked as the list is read from the disk, for a front end that loads
    // only to check: beginLoadingCheck() starts workers that walk the table only as far as the
    // slots given to recordLoaded(), which marks the slot's document Waiting (unless Changed);
    // there they wait for more, until endLoadingCheck() says no slot follows.
    void beginLoadingCheck();
    void recordLoaded(int index);
    void endLoadingCheck();

    // --- timers (UI thread) ---
    // The start-up step of the list's first update: empties the NotifiedList and arms the
    // periodic, prompt, mail and start-up timers as the options in force say.
    void armStartupTimers();
    void onViewTimer(int id);
    // After the options dialog was applied: re-arms or stops timers 1 and 4.
    void applyTimerOptions();

    // --- one check (a worker thread, for a document it claimed) ---
    void checkDocument(int index);
    void checkWebDocument(int index, bool page);
    void checkFtpFile(int index);
    void checkLocalFile(int index);

    // --- notification ---
    // Sound, row selection and MessageLog entry for a Changed or Unavailable event.
    void notifyEvent(int index, DocumentStatus event);
    // Starts the tray icon's blinking when the window is hidden in the tray.
    void startBlink();
    // Timer 4: starts the mailer when a MessageLog waits, then marks the notified documents
    // Checked when the mail settings ask for it.
    void runMailer();

    // Why the last check of a document ended Unavailable ("HTTP 404 Not Found", "connection
    // refused", "timed out after 20 s", ...): short, printable, for a tool tip or a status
    // line. Empty when the document is not Unavailable from a check of this run (a status
    // loaded from its file has no reason). Any thread; the row redraw that follows a check
    // comes after its reason is in place.
    std::string unavailableReason(int index) const;

    // --- workers ---
    // Any thread: asks every running transfer to end and keeps workers from starting another
    // check; the documents they still held go back to Waiting. Message boxes that workers wait
    // for are given their default answer. Requests after stop() start no workers.
    void stop();
    bool stopRequested() const { return m_stop.load(); }
    // The documents workers claimed since the last call, in claim order (each once per
    // claim), and forgets them: what a request had checked once its workers are done.
    std::vector<int> takeClaimed();
    void waitForWorkers();
    // Waits at most `timeoutMs`; true when no worker runs. A UI thread waits in these steps and
    // delivers its view's reports in between, so a worker's message box is shown meanwhile.
    bool waitForWorkers(int timeoutMs);
    int runningWorkers() const;

    // The exit sequence's file steps: deletes the temporary files of the DataFolder and saves
    // every record (a Retrieving status stored as Waiting). Workers are not waited for.
    void saveOnExit();

    const CheckEngineParts& parts() const { return m_parts; }

private:
    static void* workerMain(void* engine);
    void runWorker();
    bool claim(int index);
    // True when the document was edited or deleted since this thread claimed it: the check's
    // results belong to a record that is gone.
    bool slotReplaced(int index) const;
    // The end of a check whose document was replaced meanwhile: nothing of it is kept. Under
    // m_claimMutex.
    void dropReplacedCheck(int index);
    // Sets the final status of a check and releases the document from its worker; an
    // Unavailable status keeps `reason`, any other clears the document's reason.
    void finishCheck(int index, DocumentStatus status, const std::string& reason = {});
    void redrawRow(int index);
    std::string nowText() const;
    void announce(int index, DocumentStatus event);
    void failCheck(int index, bool notify, const std::string& reason);
    // The worker's own session, settings refreshed; or, off a worker, one made in `own`.
    UrlSession* sessionForCheck(std::unique_ptr<UrlSession>& own);
    // The end of a check whose stored login holds a line break (a hand-made or damaged record).
    void failUnusableLogin(int index);
    // Sets a status while the worker still holds the document (requests keep leaving it alone).
    void holdStatus(int index, DocumentStatus status);
    // Keeps the content as the previous version, then saves and announces a detected change,
    // all before the new content replaces the old.
    void recordChange(int index);
    void keepPreviousVersion(int index);
    // A check ended by stop(): the document goes back to Waiting, its stored files untouched.
    void interruptCheck(int index, StreamComparison& body);
    // The session settings in force, with the engine's stop flag.
    SessionSettings transferSettings() const;
    // Ends a later web or FTP fetch once compared; true when the document ended Changed.
    bool endLaterFetch(int index, bool changed, StreamComparison& body,
                       const std::string& contentPath);
    // The digest of the body that now is the ContentFile of `name`, or none when it has none.
    void rememberDigest(const std::string& name, const std::string& contentPath,
                        const StreamComparison& body);

    CheckEngineParts m_parts;

    mutable std::mutex m_settingsMutex;
    SessionSettings m_sessionSettings;
    std::function<void()> m_blinkStep;
    std::function<void()> m_startupPrompt;

    // Serialises claims, the final status of checks and the marking of requests, so a
    // request never marks a document between its claim and its final status.
    mutable std::mutex m_claimMutex;
    std::vector<char> m_heldByWorker;
    // Under m_claimMutex: the reason of each Unavailable document, with the name it was for
    // (a slot freed and used again by another document shows no stale reason).
    struct Reason {
        std::string name;
        std::string text;
    };
    std::unordered_map<int, Reason> m_reasons;

    // DNS cache and TLS sessions shared by all workers; each worker keeps its own connections.
    ConnectionShare m_share;
    // The stored contents' digests, so an unchanged web fetch need not read its ContentFile.
    ContentDigests m_digests;
    std::vector<int> m_claimed;

    std::atomic<int> m_periodicTimerArmed{0};
    std::atomic<int> m_mailTimerArmed{0};
    std::atomic<int> m_trayMode{0};
    std::atomic<bool> m_stop{false};

    mutable std::mutex m_workerMutex;
    std::condition_variable m_workersDone;
    int m_workers = 0;

    // checkAll's step for one slot: a used document not Changed and not held becomes Waiting.
    void markForCheckAll(int index);

    // A check of the list as it loads: the slots below m_loadedSlots may be walked. Changed
    // under m_loadMutex; read without it on the workers' way through the table.
    bool awaitLoaded(int index);
    std::mutex m_loadMutex;
    std::condition_variable m_loadedMore;
    std::atomic<bool> m_loading{false};
    std::atomic<int> m_loadedSlots{0};
};

} // namespace sentorix
