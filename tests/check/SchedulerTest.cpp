// Check requests, workers and timers: which documents a request marks, how many workers it
// starts, that each marked document is checked exactly once, and what each timer does.

#include "CheckHarness.h"

#include "common/FixedText.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace sentorix::test
{
namespace
{

enum class Request { Selected, All };

// A local-file document: checking it is quick and always ends Ready (first fetch), so a
// stamped lastCheck tells that a check ran.
int addLocal(EngineHarness& h, const std::string& name, DocumentStatus status)
{
    const std::string source = h.installDir.file(name + ".src");
    writeFile(source, "local content of " + name);
    DocumentSpec spec;
    spec.kind = DocumentKind::LocalFile;
    spec.name = name;
    spec.location = source;
    spec.status = status;
    return h.add(spec);
}

bool wasChecked(EngineHarness& h, int index)
{
    return h.table.get(index).lastCheck[0] != '\0';
}

struct MarkCase {
    int32_t status;
    Request request;
    bool checked;
};

TEST(CheckRequests, MarkOnlyWhatTheRequestMayTouch)
{
    const auto Checked = static_cast<int32_t>(DocumentStatus::Checked);
    const auto Retrieving = static_cast<int32_t>(DocumentStatus::Retrieving);
    const auto Changed = static_cast<int32_t>(DocumentStatus::Changed);
    const auto Unavailable = static_cast<int32_t>(DocumentStatus::Unavailable);
    const auto Waiting = static_cast<int32_t>(DocumentStatus::Waiting);
    const auto Ready = static_cast<int32_t>(DocumentStatus::Ready);
    const MarkCase cases[] = {
        {Checked, Request::Selected, true},
        {Checked, Request::All, true},
        {Unavailable, Request::Selected, true},
        {Unavailable, Request::All, true},
        {Ready, Request::Selected, true},
        {Ready, Request::All, true},
        {Changed, Request::Selected, false},
        {Changed, Request::All, false},
        // Already queued: the request leaves the mark, its workers take the document.
        {Waiting, Request::Selected, true},
        {Waiting, Request::All, true},
        // Retrieving as read from a record file, held by no worker.
        {Retrieving, Request::Selected, false},
        {Retrieving, Request::All, true},
        {7, Request::Selected, true},
        {7, Request::All, true},
    };
    for (const MarkCase& c : cases) {
        EngineHarness h;
        const int index = addLocal(h, "doc", DocumentStatus::Checked);
        h.table.setStatus(index, static_cast<DocumentStatus>(c.status));
        h.list.selectAllRows();
        if (c.request == Request::Selected)
            h.engine->checkSelected();
        else
            h.engine->checkAll();
        h.settle();
        const std::string what = "status " + std::to_string(c.status) +
                                 (c.request == Request::Selected ? " selected" : " all");
        EXPECT_EQ(wasChecked(h, index), c.checked) << what;
        if (c.checked)
            EXPECT_EQ(h.table.status(index), DocumentStatus::Ready) << what;
        else
            EXPECT_EQ(static_cast<int32_t>(h.table.status(index)), c.status) << what;
    }
}

TEST(CheckRequests, OnlyListedAndSelectedDocumentsAreMarked)
{
    EngineHarness h;
    const int selected = addLocal(h, "selected", DocumentStatus::Checked);
    const int other = addLocal(h, "other", DocumentStatus::Checked);
    const int unlisted = addLocal(h, "unlisted", DocumentStatus::Checked);
    h.list.removeRow(h.list.recordToRow(unlisted));
    h.list.setRowSelected(h.list.recordToRow(selected), true);

    h.engine->checkSelected();
    h.settle();
    EXPECT_TRUE(wasChecked(h, selected));
    EXPECT_FALSE(wasChecked(h, other));

    h.engine->checkAll();
    h.settle();
    EXPECT_TRUE(wasChecked(h, other));
    EXPECT_FALSE(wasChecked(h, unlisted)) << "a document without a row is left alone";
    EXPECT_EQ(h.table.status(unlisted), DocumentStatus::Checked);
}

TEST(CheckRequests, NoSelectionShowsTheMessageAndStartsNoWorker)
{
    EngineHarness h;
    addLocal(h, "doc", DocumentStatus::Checked);
    OptionsRecord options = h.options.get();
    options.workerThreads = 9; // starting workers would replace it by 1
    h.options.set(options);

    h.engine->checkSelected();
    h.settle();
    EXPECT_EQ(h.view.messages(), std::vector<std::string>{kSelectToCheckText});
    EXPECT_EQ(h.options.get().workerThreads, 9);

    // With a selection that marks nothing (a Changed document) workers are still started.
    h.table.setStatus(0, DocumentStatus::Changed);
    h.list.selectAllRows();
    h.engine->checkSelected();
    h.settle();
    EXPECT_EQ(h.options.get().workerThreads, 1);
}

TEST(CheckRequests, WorkerCountOutsideOneToFiveBecomesOne)
{
    const std::pair<int32_t, int32_t> cases[] = {{0, 1}, {9, 1}, {-3, 1}, {1, 1}, {5, 5}};
    for (const auto& [stored, inForce] : cases) {
        EngineHarness h;
        const int index = addLocal(h, "doc", DocumentStatus::Checked);
        OptionsRecord options = h.options.get();
        options.workerThreads = stored;
        h.options.set(options);
        h.engine->checkAll();
        h.settle();
        EXPECT_EQ(h.options.get().workerThreads, inForce) << stored;
        EXPECT_TRUE(wasChecked(h, index)) << stored;
    }
}

TEST(CheckWorkers, EveryWaitingDocumentIsClaimedExactlyOnce)
{
    const std::pair<int, int> cases[] = {{4, 2}, {120, 5}}; // documents, workers
    for (const auto& [documents, workers] : cases) {
        EngineHarness h(documents);
        for (int i = 0; i < documents; ++i)
            addLocal(h, "doc" + std::to_string(i), DocumentStatus::Waiting);
        OptionsRecord options = h.options.get();
        options.workerThreads = workers;
        h.options.set(options);
        h.engine->startCheckWorkers();
        h.settle();
        for (int i = 0; i < documents; ++i) {
            EXPECT_EQ(h.redraws(i), 2) << "claim and end of one check, doc " << i;
            EXPECT_EQ(h.table.status(i), DocumentStatus::Ready) << i;
        }
    }
}

// A list checked as it loads: workers started before any record is in place wait at the slots
// still to come, so every document is checked, a Changed one is left alone, and the workers end
// only once the loading has; asked to stop meanwhile, they end at once.
TEST(CheckWorkers, ListCheckedWhileItLoadsIsCheckedWhole)
{
    EngineHarness h(8);
    OptionsRecord options = h.options.get();
    options.workerThreads = 3;
    h.options.set(options);
    h.engine->beginLoadingCheck();
    const int documents = 5;
    for (int i = 0; i < documents; ++i) {
        // Time for the workers to walk past what is loaded, as a slow disk would give them.
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        const DocumentStatus status = i == 2 ? DocumentStatus::Changed : DocumentStatus::Checked;
        h.engine->recordLoaded(addLocal(h, "doc" + std::to_string(i), status));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_GT(h.engine->runningWorkers(), 0) << "the workers wait for more slots";
    h.engine->endLoadingCheck();
    h.settle();
    for (int i = 0; i < documents; ++i) {
        EXPECT_EQ(wasChecked(h, i), i != 2) << i;
        EXPECT_EQ(h.table.status(i), i == 2 ? DocumentStatus::Changed : DocumentStatus::Ready) << i;
    }

    EngineHarness stopped(8);
    stopped.engine->beginLoadingCheck();
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // the workers are waiting
    stopped.engine->stop();
    EXPECT_TRUE(stopped.engine->waitForWorkers(5000));
    stopped.engine->endLoadingCheck();
}

TEST(CheckWorkers, OverlappingRequestsLeaveARunningCheckAlone)
{
    ScriptedServer silent(ScriptedServer::Behaviour::Silent);
    ASSERT_TRUE(silent.start());
    EngineHarness h;
    DocumentSpec spec;
    spec.name = "slow";
    spec.location = "http://127.0.0.1:" + std::to_string(silent.port()) + "/page";
    const int slow = h.add(spec);

    h.engine->checkAll();
    // Wait (bounded) until a worker holds the document, then tick again, twice.
    for (int i = 0; i < 200 && h.table.status(slow) != DocumentStatus::Retrieving; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(h.table.status(slow), DocumentStatus::Retrieving);
    h.engine->onViewTimer(kPeriodicTimer);
    h.list.selectAllRows();
    h.engine->checkSelected();
    EXPECT_EQ(h.table.status(slow), DocumentStatus::Retrieving);
    h.settle();

    EXPECT_EQ(h.redraws(slow), 3) << "marked once, claimed once, finished once";
    EXPECT_EQ(h.table.status(slow), DocumentStatus::Unavailable);
}

TEST(CheckWorkers, UnknownKindStaysRetrievingUntilCheckAll)
{
    EngineHarness h;
    DocumentSpec spec;
    spec.kind = static_cast<DocumentKind>(9);
    spec.name = "odd";
    spec.location = "somewhere";
    const int odd = h.add(spec);
    EXPECT_EQ(h.check(odd), DocumentStatus::Retrieving);
    EXPECT_TRUE(wasChecked(h, odd)) << "lastCheck is stamped whatever the outcome";

    h.list.selectAllRows();
    h.engine->checkSelected();
    h.settle();
    EXPECT_EQ(h.redraws(odd), 2);
    h.engine->checkAll();
    h.settle();
    EXPECT_EQ(h.redraws(odd), 5) << "marked (1) and checked again (2)";
}

// --- timers --------------------------------------------------------------------------------

TEST(Timers, StartUpArmsWhatTheOptionsAsk)
{
    struct Case {
        int32_t periodic, interval, startup, email;
        long long t1, t4, t5;
    };
    const Case cases[] = {
        {1, 10, 1, 0, 600000, -1, 5000},
        {0, 10, 0, 1, -1, 60000, -1},
        {1, 0, 0, 0, 300000, -1, -1}, // an interval of 0 is taken as 5 minutes
        {1, 600, 1, 1, 36000000, 60000, 5000},
    };
    for (const Case& c : cases) {
        EngineHarness h;
        h.notified.add(3);
        OptionsRecord options = h.options.get();
        options.periodicCheck = c.periodic;
        options.checkIntervalMinutes = c.interval;
        options.startupCheck = c.startup;
        options.sendEmail = c.email;
        h.options.set(options);
        h.engine->armStartupTimers();
        EXPECT_EQ(h.timers.period(kPeriodicTimer), c.t1);
        EXPECT_EQ(h.timers.period(kPromptTimer), 2000);
        EXPECT_EQ(h.timers.period(kMailTimer), c.t4);
        EXPECT_EQ(h.timers.period(kStartupTimer), c.t5);
        EXPECT_EQ((h.engine->periodicTimerArmed() ? 1 : 0), c.periodic);
        EXPECT_EQ((h.engine->mailTimerArmed() ? 1 : 0), c.email);
        EXPECT_EQ(h.notified.at(0), NotifiedList::kEmpty);
    }
}

TEST(Timers, ApplyingOptionsRearmsOrStopsPeriodicAndMailTimers)
{
    EngineHarness h;
    OptionsRecord options = h.options.get();
    options.sendEmail = 1;
    h.options.set(options);
    h.engine->armStartupTimers();

    options.periodicCheck = 0;
    options.sendEmail = 0;
    h.options.set(options);
    h.engine->applyTimerOptions();
    EXPECT_EQ(h.timers.period(kPeriodicTimer), -1);
    EXPECT_EQ(h.timers.period(kMailTimer), -1);
    EXPECT_EQ((h.engine->periodicTimerArmed() ? 1 : 0), 0);
    EXPECT_EQ((h.engine->mailTimerArmed() ? 1 : 0), 0);

    const int stopsBefore = h.timers.stops(kPeriodicTimer);
    h.engine->applyTimerOptions(); // nothing runs: nothing to stop
    EXPECT_EQ(h.timers.stops(kPeriodicTimer), stopsBefore);

    options.periodicCheck = 1;
    options.checkIntervalMinutes = 15;
    options.sendEmail = 1;
    h.options.set(options);
    h.engine->applyTimerOptions();
    EXPECT_EQ(h.timers.period(kPeriodicTimer), 900000);
    EXPECT_EQ(h.timers.period(kMailTimer), 60000);
    EXPECT_EQ((h.engine->periodicTimerArmed() ? 1 : 0), 1);
    EXPECT_EQ((h.engine->mailTimerArmed() ? 1 : 0), 1);
}

TEST(Timers, EachTickDoesItsOwnStep)
{
    EngineHarness h;
    int prompts = 0;
    int blinks = 0;
    h.engine->setStartupPrompt([&prompts] { ++prompts; });
    h.engine->setBlinkStep([&blinks] { ++blinks; });
    h.engine->armStartupTimers();

    // Timer 3 with an empty list: the prompt, once; the timer stops itself.
    h.engine->onViewTimer(kPromptTimer);
    EXPECT_EQ(prompts, 1);
    EXPECT_EQ(h.timers.period(kPromptTimer), -1);

    const int doc = addLocal(h, "doc", DocumentStatus::Checked);
    h.engine->onViewTimer(kPromptTimer);
    EXPECT_EQ(prompts, 1) << "no prompt once the list has a row";

    // Timer 5: stops itself and checks everything.
    h.engine->onViewTimer(kStartupTimer);
    h.settle();
    EXPECT_EQ(h.timers.period(kStartupTimer), -1);
    EXPECT_EQ(h.table.status(doc), DocumentStatus::Ready);

    // Timer 1: checks everything and keeps running.
    h.engine->onViewTimer(kPeriodicTimer);
    h.settle();
    EXPECT_EQ(h.table.status(doc), DocumentStatus::Checked);
    EXPECT_EQ(h.timers.period(kPeriodicTimer), 600000);

    h.engine->onViewTimer(kBlinkTimer);
    EXPECT_EQ(blinks, 1);

    // Timer 4 starts the mailer when a MessageLog waits.
    writeFile(h.dataFolder + "/Postavo.msg", "entry\r\r\n");
    h.engine->onViewTimer(kMailTimer);
    EXPECT_EQ(h.launcher.calls().size(), 1u);

    h.engine->onViewTimer(42);
    EXPECT_EQ(blinks, 1);
    EXPECT_EQ(prompts, 1);
}

} // namespace
} // namespace sentorix::test
