// The window's timers as the options say, each tick driven by hand (no real waiting): the
// periodic check (1), the first-document prompt (3), the mail hand-off (4), the start-up
// check (5), and the blink timer (2) that a change while hidden in the tray starts.
#include "monitor/Commands.h"
#include "monitor/MainFrame.h"
#include "monitor/QtMonitorView.h"
#include "monitor/QtTimerHost.h"
#include "monitor/SentorixApp.h"
#include "monitor/TrayIcon.h"
#include "monitor/check/MonitorSession.h"
#include "monitor/data/DocumentRecord.h"
#include "monitor/data/DocumentTable.h"
#include "monitor/data/Options.h"
#include "monitor/dialogs/ModalDialogs.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDialog>
#include <QPushButton>
#include <QTest>

#include <cstring>
#include <memory>

namespace sentorix
{
namespace
{

using test::TempDir;

class WindowTimers : public ::testing::Test
{
protected:
    void SetUp() override { ui::MessageBox::setDefaultAnswer(QMessageBox::Ok); }
    void TearDown() override
    {
        m_app.reset();
        ui::DialogRunner::clearHandlers();
        ui::MessageBox::setDefaultAnswer(QMessageBox::NoButton);
        ui::MessageBox::clearAsked();
    }

    void writeOptions(int periodic, int minutes, int sendEmail, int startupCheck)
    {
        OptionsStore store;
        OptionsRecord options = store.get();
        options.periodicCheck = periodic;
        options.checkIntervalMinutes = minutes;
        options.sendEmail = sendEmail;
        options.startupCheck = startupCheck;
        store.set(options);
        saveOptions(store, m_data.path());
    }
    void addDocument(const char* name)
    {
        DocumentTable table;
        DocumentRecord record{};
        std::strncpy(record.displayName, name, sizeof record.displayName - 1);
        // Nothing listens on the discard port: the check ends Unavailable at once.
        std::strncpy(record.location, "http://127.0.0.1:9/page.html", sizeof record.location - 1);
        record.kind = static_cast<int32_t>(DocumentKind::WebPage);
        record.status = static_cast<int32_t>(DocumentStatus::Checked);
        table.put(0, record);
        saveRecord(table, 0, m_data.path());
    }
    void start(const QStringList& arguments = {})
    {
        CSentorixApp::Settings settings;
        settings.instanceName = QStringLiteral("sentorix-timers-%1-%2")
                                    .arg(QCoreApplication::applicationPid())
                                    .arg(++s_run);
        settings.dataFolder = m_data.path();
        settings.installFolder = m_data.path();
        settings.silent = true;
        m_app = std::make_unique<CSentorixApp>(settings);
        ASSERT_EQ(m_app->initInstance(arguments), CSentorixApp::Start::Running);
    }
    ui::QtTimerHost& timers() const { return *m_app->timers(); }
    CheckEngine& engine() const { return m_app->session()->engine(); }
    void settle()
    {
        QTRY_VERIFY_WITH_TIMEOUT(
            engine().runningWorkers() == 0 && m_app->view()->pendingReports() == 0, 20000);
    }

    TempDir m_data;
    std::unique_ptr<CSentorixApp> m_app;
    static int s_run;
};

int WindowTimers::s_run = 0;

TEST_F(WindowTimers, StartUpArmsTheTimersTheOptionsAskFor)
{
    const struct {
        int periodic, minutes, sendEmail, startupCheck;
    } cases[] = {{0, 30, 0, 0}, {1, 30, 0, 0}, {1, 1, 1, 1}, {0, 5, 1, 0}, {0, 5, 0, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.periodic << c.minutes << c.sendEmail << c.startupCheck);
        writeOptions(c.periodic, c.minutes, c.sendEmail, c.startupCheck);
        start();
        EXPECT_EQ(timers().isRunning(kPeriodicTimer), c.periodic == 1);
        if (c.periodic == 1) {
            EXPECT_EQ(timers().periodMs(kPeriodicTimer), c.minutes * 60000LL);
        }
        EXPECT_EQ(engine().periodicTimerArmed(), c.periodic == 1);
        EXPECT_TRUE(timers().isRunning(kPromptTimer));
        EXPECT_EQ(timers().periodMs(kPromptTimer), kPromptDelayMs);
        EXPECT_EQ(timers().isRunning(kMailTimer), c.sendEmail == 1);
        if (c.sendEmail == 1) {
            EXPECT_EQ(timers().periodMs(kMailTimer), kMailPeriodMs);
        }
        EXPECT_EQ(engine().mailTimerArmed(), c.sendEmail == 1);
        EXPECT_EQ(timers().isRunning(kStartupTimer), c.startupCheck == 1);
        if (c.startupCheck == 1) {
            EXPECT_EQ(timers().periodMs(kStartupTimer), kStartupDelayMs);
        }
        EXPECT_FALSE(timers().isRunning(kBlinkTimer));
        m_app.reset();
    }
}

TEST_F(WindowTimers, ThePromptOnAnEmptyListOffersAddOnce)
{
    start();
    int adds = 0;
    m_app->mainFrame()->commands().setHandler(ui::kCmdAdd, [&] { ++adds; });
    QString promptText;
    ui::DialogRunner::setNextHandler([&](QDialog& dialog) {
        promptText = dialog.windowTitle();
        auto* add = dialog.findChild<QPushButton*>(QStringLiteral("addDocument"));
        ASSERT_NE(add, nullptr);
        QTest::mouseClick(add, Qt::LeftButton);
    });
    ASSERT_TRUE(timers().tickNow(kPromptTimer));
    EXPECT_EQ(promptText, QString("Sentorix"));
    EXPECT_EQ(adds, 1);
    EXPECT_FALSE(timers().isRunning(kPromptTimer)); // once

    // Cancel adds nothing.
    ui::DialogRunner::setNextHandler([](QDialog& dialog) { dialog.reject(); });
    timers().armTimer(kPromptTimer, kPromptDelayMs);
    ASSERT_TRUE(timers().tickNow(kPromptTimer));
    EXPECT_EQ(adds, 1);
}

TEST_F(WindowTimers, NoPromptWhenTheListHasADocument)
{
    addDocument("One");
    start();
    bool prompted = false;
    ui::DialogRunner::setNextHandler([&](QDialog& dialog) {
        prompted = true;
        dialog.reject();
    });
    ASSERT_TRUE(timers().tickNow(kPromptTimer));
    EXPECT_FALSE(prompted);
    EXPECT_FALSE(timers().isRunning(kPromptTimer));
}

TEST_F(WindowTimers, TheStartUpCheckRunsOnceAndThePeriodicCheckEveryTick)
{
    writeOptions(1, 1, 0, 1);
    addDocument("One");
    start();
    ASSERT_TRUE(timers().tickNow(kStartupTimer));
    EXPECT_FALSE(timers().isRunning(kStartupTimer));
    settle();
    EXPECT_EQ(m_app->session()->table().status(0), DocumentStatus::Unavailable);
    EXPECT_NE(engine().unavailableReason(0), "");

    m_app->session()->table().setStatus(0, DocumentStatus::Checked);
    ASSERT_TRUE(timers().tickNow(kPeriodicTimer));
    EXPECT_TRUE(timers().isRunning(kPeriodicTimer)); // it keeps running
    settle();
    EXPECT_EQ(m_app->session()->table().status(0), DocumentStatus::Unavailable);
}

TEST_F(WindowTimers, AFailureWhileHiddenInTheTrayStartsTheBlinkUntilTheUserIsBack)
{
    addDocument("One");
    start();
    m_app->mainFrame()->setTrayMode(true);
    m_app->mainFrame()->commands().run(ui::kCmdCheckAll);
    settle();
    ASSERT_EQ(m_app->session()->table().status(0), DocumentStatus::Unavailable);
    EXPECT_TRUE(timers().isRunning(kBlinkTimer));
    EXPECT_EQ(timers().periodMs(kBlinkTimer), kBlinkPeriodMs);
    ASSERT_TRUE(timers().tickNow(kBlinkTimer)); // the empty phase
    ASSERT_TRUE(timers().tickNow(kBlinkTimer)); // the icon with the balloon
    EXPECT_EQ(m_app->blink()->counter(), 1);    // the balloon was shown once
    m_app->mainFrame()->restoreFromTray();
    ASSERT_TRUE(timers().tickNow(kBlinkTimer));
    EXPECT_FALSE(timers().isRunning(kBlinkTimer));
    EXPECT_EQ(m_app->blink()->counter(), 0);
}

} // namespace
} // namespace sentorix
