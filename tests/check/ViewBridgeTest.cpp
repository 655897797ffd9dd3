// The view between workers and a UI thread: reports that never wait, message boxes that
// answer, calls on the UI thread that run at once, and an engine that the UI thread stops and
// destroys while its workers still report, without a hang.
#include "CheckHarness.h"

#include "common/FixedText.h"
#include "common/TextFile.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <thread>

using namespace sentorix;
using namespace sentorix::test;

namespace
{

// Runs `ui` on a thread of its own, which becomes the UI thread of what it builds. A run that
// has not ended after `seconds` is a hang: the test program ends at once with a message,
// rather than hanging until the suite's timeout.
void runAsUiThread(const std::function<void()>& ui, int seconds = 20)
{
    std::packaged_task<void()> task(ui);
    std::future<void> done = task.get_future();
    std::thread thread(std::move(task));
    if (done.wait_for(std::chrono::seconds(seconds)) != std::future_status::ready) {
        std::fprintf(stderr, "the UI thread hangs\n");
        std::abort();
    }
    thread.join();
    done.get();
}

void waitFor(const std::function<bool()>& condition)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

TEST(ViewBridge, CallsOnTheUiThreadRunAtOnceOthersWaitForDelivery)
{
    HeadlessView view([](const std::string&, MessageIcon) {});
    view.recordChanged(3);
    view.startBlink();
    EXPECT_EQ(view.redraws(3), 1);
    EXPECT_EQ(view.blinkRequests(), 1);
    EXPECT_EQ(view.pendingReports(), 0);

    std::thread worker([&] {
        view.recordChanged(3);
        view.recordChanged(3);
        view.openDocument(5, false);
        view.startBlink();
    });
    worker.join();
    EXPECT_EQ(view.redraws(3), 1) << "not before the UI thread delivers";
    EXPECT_EQ(view.pendingReports(), 4);
    EXPECT_EQ(view.deliverReports(), 4);
    EXPECT_EQ(view.redraws(3), 3);
    EXPECT_EQ(view.blinkRequests(), 2);
    EXPECT_EQ(view.openRequests(), (std::vector<std::pair<int, bool>>{{5, false}}));
}

TEST(ViewBridge, AWorkersPromptReturnsTheAnswerGivenOnTheUiThread)
{
    HeadlessView view([](const std::string&, MessageIcon) {});
    view.setNextAnswer(MessageAnswer::Yes);
    std::promise<MessageAnswer> answer;
    std::thread worker([&] {
        answer.set_value(view.showMessage("Delete?", MessageIcon::Question, MessageButtons::YesNo));
    });
    waitFor([&] { return view.pendingReports() == 1; });
    EXPECT_TRUE(view.messages().empty()) << "shown only by the UI thread";
    view.deliverReports();
    worker.join();
    EXPECT_EQ(answer.get_future().get(), MessageAnswer::Yes);
    EXPECT_EQ(view.messages(), std::vector<std::string>{"Delete?"});

    // On the UI thread the box is shown at once.
    EXPECT_EQ(view.showMessage("Sure?", MessageIcon::Question, MessageButtons::YesNo),
              MessageAnswer::No);
}

TEST(ViewBridge, CancelledPromptsReturnTheirDefaultWithoutBeingShown)
{
    HeadlessView view([](const std::string&, MessageIcon) {});
    std::promise<MessageAnswer> answer;
    std::thread worker([&] {
        answer.set_value(view.showMessage("Delete?", MessageIcon::Question, MessageButtons::YesNo));
    });
    waitFor([&] { return view.pendingReports() == 1; });
    view.cancelPrompts();
    worker.join();
    EXPECT_EQ(answer.get_future().get(), MessageAnswer::No);
    EXPECT_EQ(view.showMessage("Later", MessageIcon::Information), MessageAnswer::Ok);
    std::thread late([&] { view.showMessage("Later", MessageIcon::Information); });
    late.join(); // returns at once
    view.deliverReports();
    EXPECT_EQ(view.messages(), std::vector<std::string>{"Later"}) << "only the UI thread's own";
}

// The UI thread waits for the workers without delivering anything: the workers' row reports
// must not make them wait for it.
TEST(ViewBridge, WorkersReportingRowsNeverWaitForABusyUiThread)
{
    runAsUiThread([] {
        EngineHarness h;
        std::vector<int> docs;
        for (const char* name : {"a", "b", "c", "d"}) {
            const std::string source = h.installDir.file(std::string(name) + ".src");
            writeFile(source, name);
            DocumentSpec spec;
            spec.kind = DocumentKind::LocalFile;
            spec.name = name;
            spec.location = source;
            docs.push_back(h.add(spec));
        }
        h.engine->checkAll();
        h.engine->waitForWorkers();
        for (int doc : docs) {
            EXPECT_EQ(h.table.status(doc), DocumentStatus::Ready);
            EXPECT_EQ(fieldText(h.table.get(doc).lastCheck), kHarnessTimeText);
            EXPECT_EQ(h.redraws(doc), 3) << "marked, claimed, finished: delivered afterwards";
        }
    });
}

// A worker waits for a message box while the UI thread, instead of showing it, stops and
// destroys the engine.
TEST(ViewBridge, EngineStopsAndDiesWhileAWorkerWaitsForAMessageBox)
{
    HttpPeer server;
    ASSERT_TRUE(server.start());
    server.put("plain.html", "no markers here");
    runAsUiThread([&] {
        EngineHarness h;
        const int doc = h.add(middleSpec("middle", server.url("/plain.html")));
        h.table.setStatus(doc, DocumentStatus::Waiting);
        h.engine->startCheckWorkers();
        // Claimed (one report), then the box is queued and its worker waits.
        waitFor([&] { return h.view.pendingReports() == 2; });
        ASSERT_EQ(h.view.pendingReports(), 2);
        EXPECT_EQ(h.engine->runningWorkers(), 1);
        h.engine->stop();
        h.engine.reset();
        h.view.deliverReports();
        EXPECT_TRUE(h.view.messages().empty()) << "a cancelled box is not shown afterwards";
        EXPECT_EQ(h.table.status(doc), DocumentStatus::Unavailable);
    });
}

} // namespace
