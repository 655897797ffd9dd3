#include "monitor/check/CheckEngine.h"

#include "common/Clock.h"
#include "common/DataFolder.h"
#include "common/MailHandoff.h"
#include "common/TextFile.h"
#include "common/TimeText.h"
#include "monitor/data/DocumentList.h"
#include "monitor/data/DocumentTable.h"
#include "monitor/data/MailSettingsStore.h"
#include "monitor/data/MessageLogWriter.h"
#include "monitor/data/MonitorView.h"
#include "monitor/data/NotifiedList.h"
#include "monitor/data/Options.h"
#include "platform/ProgramLauncher.h"
#include "platform/Sound.h"
#include "platform/TempFile.h"

#include <pthread.h>

#include <chrono>
#include <cstdlib>
#include <unordered_set>
#include <utility>

namespace sentorix
{
namespace
{

// The session of the worker running on this thread, kept for the worker's whole pass so its
// connections, TLS sessions and name lookups serve every document it checks.
thread_local UrlSession* t_workerSession = nullptr;

// The document this thread claimed last, with the slot's generation and the record's name at
// that moment: what a check compares against to know that its document was replaced.
struct ClaimStamp {
    int index = -1;
    uint32_t generation = 0;
    std::string name;
};
thread_local ClaimStamp t_claim;

// The periodic timer's period. Only a hand-made or short options file holds an interval of
// 0 or less; it is taken as the shortest the options dialog offers, so such a file never
// makes the monitor check without pause.
long long periodicPeriodMs(int32_t minutes)
{
    constexpr int32_t kShortestMinutes = 5;
    const long long m = minutes > 0 ? minutes : kShortestMinutes;
    return m * 60000LL;
}

} // namespace

SessionSettings defaultSessionSettings()
{
    SessionSettings settings;
    if (const char* bundle = std::getenv("SENTORIX_CA_BUNDLE"); bundle && *bundle)
        settings.caBundle = bundle;
    return settings;
}

CheckEngine::CheckEngine(const CheckEngineParts& parts)
    : m_parts(parts), m_sessionSettings(defaultSessionSettings()),
      m_heldByWorker(static_cast<std::size_t>(parts.table.capacity()), 0),
      m_digests(parts.dataFolder)
{
}

CheckEngine::~CheckEngine()
{
    // A worker waiting for a message box would keep the wait below from ending.
    m_parts.view.cancelPrompts();
    waitForWorkers();
}

void CheckEngine::stop()
{
    m_stop = true;
    {
        std::lock_guard lock(m_loadMutex); // a worker waiting for loaded slots wakes
        m_loadedMore.notify_all();
    }
    m_parts.view.cancelPrompts();
}

std::string CheckEngine::nowText() const
{
    return formatTimeText(m_parts.clock ? *m_parts.clock : systemClock());
}

void CheckEngine::setSessionSettings(const SessionSettings& settings)
{
    std::lock_guard lock(m_settingsMutex);
    m_sessionSettings = settings;
}

SessionSettings CheckEngine::sessionSettings() const
{
    std::lock_guard lock(m_settingsMutex);
    return m_sessionSettings;
}

SessionSettings CheckEngine::transferSettings() const
{
    SessionSettings settings = sessionSettings();
    settings.stop = &m_stop;
    return settings;
}

void CheckEngine::setBlinkStep(std::function<void()> step)
{
    m_blinkStep = std::move(step);
}

void CheckEngine::setStartupPrompt(std::function<void()> prompt)
{
    m_startupPrompt = std::move(prompt);
}

// --- requests ------------------------------------------------------------------------------

void CheckEngine::checkSelected()
{
    const DocumentList& list = m_parts.list;
    const std::vector<int> selected = list.selectedRows();
    if (selected.empty()) {
        m_parts.view.showMessage(kSelectToCheckText, MessageIcon::Information);
        return;
    }
    for (int row : selected) {
        const int index = list.rowToRecord(row);
        if (index < 0 || index >= m_parts.table.capacity())
            continue;
        bool marked = false;
        {
            std::lock_guard lock(m_claimMutex);
            // A document held by a worker is Retrieving; the held flag also covers a status
            // that was changed under the worker by another command.
            const DocumentStatus status = m_parts.table.status(index);
            if (status != DocumentStatus::Retrieving && status != DocumentStatus::Changed &&
                status != DocumentStatus::Waiting &&
                !m_heldByWorker[static_cast<std::size_t>(index)]) {
                m_parts.table.setStatus(index, DocumentStatus::Waiting);
                marked = true;
            }
        }
        if (marked)
            m_parts.view.recordChanged(index);
    }
    startCheckWorkers();
}

void CheckEngine::checkAll()
{
    const int capacity = m_parts.table.capacity();
    for (int index = 0; index < capacity; ++index) {
        if (m_parts.list.recordToRow(index) >= 0)
            markForCheckAll(index);
    }
    startCheckWorkers();
}

void CheckEngine::markForCheckAll(int index)
{
    DocumentTable& table = m_parts.table;
    if (!table.isUsed(index) || table.status(index) == DocumentStatus::Changed)
        return;
    bool marked = false;
    {
        std::lock_guard lock(m_claimMutex);
        if (!m_heldByWorker[static_cast<std::size_t>(index)] &&
            table.status(index) != DocumentStatus::Changed) {
            table.setStatus(index, DocumentStatus::Waiting);
            marked = true;
        }
    }
    if (marked)
        m_parts.view.recordChanged(index);
}

void CheckEngine::beginLoadingCheck()
{
    {
        std::lock_guard lock(m_loadMutex);
        m_loadedSlots.store(0);
        m_loading.store(true);
    }
    startCheckWorkers();
}

void CheckEngine::recordLoaded(int index)
{
    if (index < 0 || index >= m_parts.table.capacity())
        return;
    markForCheckAll(index);
    std::lock_guard lock(m_loadMutex);
    // Slots are loaded in index order: all below this one are in place.
    if (index + 1 > m_loadedSlots.load())
        m_loadedSlots.store(index + 1);
    m_loadedMore.notify_all();
}

void CheckEngine::endLoadingCheck()
{
    std::lock_guard lock(m_loadMutex);
    m_loading.store(false);
    m_loadedMore.notify_all();
}

bool CheckEngine::awaitLoaded(int index)
{
    if (!m_loading.load() || index < m_loadedSlots.load())
        return true;
    std::unique_lock lock(m_loadMutex);
    m_loadedMore.wait(
        lock, [&] { return !m_loading.load() || index < m_loadedSlots.load() || m_stop.load(); });
    return !m_stop.load();
}

void CheckEngine::startCheckWorkers()
{
    if (m_stop)
        return;
    const int count = m_parts.options.takeWorkerCount();
    for (int i = 0; i < count; ++i) {
        {
            std::lock_guard lock(m_workerMutex);
            ++m_workers;
        }
        pthread_attr_t attr;
        pthread_attr_init(&attr);
        pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
        pthread_t thread;
        const int failed = pthread_create(&thread, &attr, &CheckEngine::workerMain, this);
        pthread_attr_destroy(&attr);
        if (failed) {
            // A worker that cannot be started is left out; the others take its documents.
            std::lock_guard lock(m_workerMutex);
            if (--m_workers == 0)
                m_workersDone.notify_all();
        }
    }
}

// --- workers -------------------------------------------------------------------------------

void* CheckEngine::workerMain(void* engine)
{
    auto* self = static_cast<CheckEngine*>(engine);
    self->runWorker();
    // The last touch of the engine: once the count is down, a waiter may destroy it.
    std::lock_guard lock(self->m_workerMutex);
    if (--self->m_workers == 0)
        self->m_workersDone.notify_all();
    return nullptr;
}

void CheckEngine::runWorker()
{
    UrlSession session(transferSettings(), &m_share);
    t_workerSession = session.isOpen() ? &session : nullptr;
    struct Release {
        ~Release() { t_workerSession = nullptr; }
    } release;
    const int capacity = m_parts.table.capacity();
    for (int index = 0; index < capacity && !m_stop; ++index) {
        if (!awaitLoaded(index))
            break;
        if (m_parts.table.status(index) != DocumentStatus::Waiting)
            continue;
        if (!claim(index))
            continue;
        redrawRow(index);
        checkDocument(index);
        // Edited while it was checked: the edited document waits, and is checked now.
        if (slotReplaced(index) && m_parts.table.status(index) == DocumentStatus::Waiting)
            --index;
    }
}

bool CheckEngine::claim(int index)
{
    // Read before the claim: an edit that comes between makes the check's results go unused
    // (and the document is checked again), never the other way round.
    const uint32_t generation = m_parts.table.generation(index);
    std::string name = m_parts.table.displayName(index);
    std::lock_guard lock(m_claimMutex);
    const auto slot = static_cast<std::size_t>(index);
    // An edited document is Waiting while the worker of its old record still holds the slot.
    if (m_heldByWorker[slot] || !m_parts.table.claim(index))
        return false;
    m_heldByWorker[slot] = 1;
    t_claim = ClaimStamp{index, generation, std::move(name)};
    m_claimed.push_back(index);
    return true;
}

bool CheckEngine::slotReplaced(int index) const
{
    return t_claim.index == index && m_parts.table.generation(index) != t_claim.generation;
}

void CheckEngine::dropReplacedCheck(int index)
{
    // The files this check may have written are removed: under the old record's name, and
    // under the slot's new name (the edit removed the files of the new record, which nobody
    // fetched yet while this check held the slot), unless another document has that name.
    const std::string names[] = {t_claim.name, m_parts.table.displayName(index)};
    for (const std::string& name : names) {
        bool taken = name.empty();
        for (int other = 0; other < m_parts.table.capacity() && !taken; ++other)
            taken = other != index && m_parts.table.isUsed(other) &&
                    m_parts.table.displayName(other) == name;
        if (taken)
            continue;
        for (const char* extension : {kContentExtension, kMiddleExtension})
            removeFile(recordFilePath(m_parts.dataFolder, name, extension));
        removePreviousVersions(m_parts.dataFolder, name);
    }
    m_reasons.erase(index);
    m_heldByWorker[static_cast<std::size_t>(index)] = 0;
}

std::vector<int> CheckEngine::takeClaimed()
{
    std::lock_guard lock(m_claimMutex);
    return std::exchange(m_claimed, {});
}

UrlSession* CheckEngine::sessionForCheck(std::unique_ptr<UrlSession>& own)
{
    if (t_workerSession) {
        t_workerSession->setSettings(transferSettings());
        return t_workerSession;
    }
    own = std::make_unique<UrlSession>(transferSettings(), &m_share);
    return own->isOpen() ? own.get() : nullptr;
}

void CheckEngine::finishCheck(int index, DocumentStatus status, const std::string& reason)
{
    std::string name;
    if (status == DocumentStatus::Unavailable)
        name = m_parts.table.displayName(index);
    std::lock_guard lock(m_claimMutex);
    if (slotReplaced(index)) {
        dropReplacedCheck(index);
        return;
    }
    if (status == DocumentStatus::Unavailable)
        m_reasons[index] = Reason{std::move(name), reason.empty() ? "unavailable" : reason};
    else
        m_reasons.erase(index);
    m_parts.table.setStatus(index, status);
    m_heldByWorker[static_cast<std::size_t>(index)] = 0;
}

std::string CheckEngine::unavailableReason(int index) const
{
    const std::string name = m_parts.table.displayName(index);
    std::lock_guard lock(m_claimMutex);
    if (m_parts.table.status(index) != DocumentStatus::Unavailable)
        return {};
    const auto found = m_reasons.find(index);
    if (found == m_reasons.end() || found->second.name != name)
        return {};
    return found->second.text;
}

void CheckEngine::redrawRow(int index)
{
    m_parts.view.recordChanged(index);
}

void CheckEngine::waitForWorkers()
{
    std::unique_lock lock(m_workerMutex);
    m_workersDone.wait(lock, [this] { return m_workers == 0; });
}

bool CheckEngine::waitForWorkers(int timeoutMs)
{
    std::unique_lock lock(m_workerMutex);
    return m_workersDone.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                  [this] { return m_workers == 0; });
}

int CheckEngine::runningWorkers() const
{
    std::lock_guard lock(m_workerMutex);
    return m_workers;
}

void CheckEngine::checkDocument(int index)
{
    const auto kind = static_cast<DocumentKind>(m_parts.table.kind(index));
    switch (kind) {
    case DocumentKind::WebPage:
        checkWebDocument(index, true);
        break;
    case DocumentKind::WebFile:
        checkWebDocument(index, false);
        break;
    case DocumentKind::FtpFile:
        checkFtpFile(index);
        break;
    case DocumentKind::LocalFile:
        checkLocalFile(index);
        break;
    default: {
        // Not fetched: the status stays Retrieving, and only Check All marks it again.
        std::lock_guard lock(m_claimMutex);
        m_heldByWorker[static_cast<std::size_t>(index)] = 0;
        break;
    }
    }
    // A check that stop() ended did not happen: its document waits with its old time; nor did
    // the check of a record that was replaced meanwhile.
    if (!slotReplaced(index) && !(m_stop && m_parts.table.status(index) == DocumentStatus::Waiting))
        m_parts.table.setLastCheck(index, nowText());
    redrawRow(index);
}

// --- timers --------------------------------------------------------------------------------

void CheckEngine::armStartupTimers()
{
    m_parts.notified.clear();
    const OptionsRecord options = m_parts.options.get();
    if (options.periodicCheck == 1) {
        m_parts.timers.armTimer(kPeriodicTimer, periodicPeriodMs(options.checkIntervalMinutes));
        m_periodicTimerArmed = 1;
    }
    m_parts.timers.armTimer(kPromptTimer, kPromptDelayMs);
    if (options.sendEmail == 1) {
        m_parts.timers.armTimer(kMailTimer, kMailPeriodMs);
        m_mailTimerArmed = 1;
    }
    if (options.startupCheck == 1)
        m_parts.timers.armTimer(kStartupTimer, kStartupDelayMs);
}

void CheckEngine::onViewTimer(int id)
{
    switch (id) {
    case kPeriodicTimer:
        checkAll();
        break;
    case kBlinkTimer:
        if (m_blinkStep)
            m_blinkStep();
        break;
    case kPromptTimer:
        m_parts.timers.stopTimer(kPromptTimer);
        if (m_parts.list.rowCount() == 0 && m_startupPrompt)
            m_startupPrompt();
        break;
    case kMailTimer:
        runMailer();
        break;
    case kStartupTimer:
        m_parts.timers.stopTimer(kStartupTimer);
        checkAll();
        break;
    default:
        break;
    }
}

void CheckEngine::applyTimerOptions()
{
    const OptionsRecord options = m_parts.options.get();
    if (options.periodicCheck == 1) {
        if (m_periodicTimerArmed == 1)
            m_parts.timers.stopTimer(kPeriodicTimer);
        m_parts.timers.armTimer(kPeriodicTimer, periodicPeriodMs(options.checkIntervalMinutes));
        m_periodicTimerArmed = 1;
    } else {
        if (m_periodicTimerArmed == 1)
            m_parts.timers.stopTimer(kPeriodicTimer);
        m_periodicTimerArmed = 0;
    }
    if (options.sendEmail == 1) {
        m_parts.timers.armTimer(kMailTimer, kMailPeriodMs);
        m_mailTimerArmed = 1;
    } else {
        if (m_mailTimerArmed == 1)
            m_parts.timers.stopTimer(kMailTimer);
        m_mailTimerArmed = 0;
    }
}

// --- notification --------------------------------------------------------------------------

void CheckEngine::notifyEvent(int index, DocumentStatus event)
{
    const OptionsRecord options = m_parts.options.get();
    int32_t selectFlag = 0;
    if (event == DocumentStatus::Changed) {
        if (options.soundOnChange == 1)
            m_parts.sound.play(joinPath(m_parts.installFolder, kChangeSoundFile));
        selectFlag = options.selectOnChange;
    } else if (event == DocumentStatus::Unavailable) {
        if (options.soundOnUnavailable == 1)
            m_parts.sound.play(joinPath(m_parts.installFolder, kAlertSoundFile));
        selectFlag = options.selectOnUnavailable;
    } else {
        return;
    }
    if (selectFlag == 1)
        m_parts.view.selectRecord(index);
    if (m_mailTimerArmed == 1)
        appendMessageEntry(m_parts.table, index, event, m_parts.mail, m_parts.notified,
                           m_parts.dataFolder, m_parts.clock ? *m_parts.clock : systemClock());
}

void CheckEngine::startBlink()
{
    if (m_trayMode == 1)
        m_parts.view.startBlink();
}

void CheckEngine::announce(int index, DocumentStatus event)
{
    if (slotReplaced(index))
        return; // the record now in the slot had no such event
    notifyEvent(index, event);
    startBlink();
}

void CheckEngine::failCheck(int index, bool notify, const std::string& reason)
{
    finishCheck(index, DocumentStatus::Unavailable, reason);
    if (notify)
        announce(index, DocumentStatus::Unavailable);
}

void CheckEngine::runMailer()
{
    {
        InputFile messageLog;
        if (!messageLog.open(joinPath(m_parts.dataFolder, kMessageLogFile), FileMode::Binary))
            return; // nothing waits to be sent
    }
    const std::string program = joinPath(m_parts.installFolder, kMailerProgram);
    if (!m_parts.launcher.launchDetached(program, {kMailerSwitch})) {
        m_parts.view.showMessage(kMailerMissingText, MessageIcon::Stop);
        return; // the NotifiedList is kept for the next attempt
    }
    if (m_parts.mail.get().markNotifiedChecked != 1)
        return;
    m_parts.notified.consume([this](int index) {
        if (m_parts.list.recordToRow(index) < 0 || index >= m_parts.table.capacity())
            return false;
        // A document that a worker is checking again gets its status from that check; marking
        // it Checked now would let a request hand it to a second worker meanwhile.
        bool marked = false;
        {
            std::lock_guard lock(m_claimMutex);
            if (!m_heldByWorker[static_cast<std::size_t>(index)]) {
                m_parts.table.setStatus(index, DocumentStatus::Checked);
                marked = true;
            }
        }
        if (marked)
            m_parts.view.recordChanged(index);
        return true;
    });
}

void CheckEngine::saveOnExit()
{
    deleteTempFiles(m_parts.dataFolder);
    saveAllRecordsOnExit(m_parts.table, m_parts.dataFolder);
    std::unordered_set<std::string> names;
    for (int i = 0; i < m_parts.table.capacity(); ++i)
        if (m_parts.table.isUsed(i))
            names.insert(m_parts.table.displayName(i));
    m_digests.save(names);
}

} // namespace sentorix
