// Start-up and exit of the monitor: the start-hidden switch, one monitor per user, the lock
// on the DataFolder, and the files the exit sequence leaves.
#include "monitor/MainFrame.h"
#include "monitor/SentorixApp.h"
#include "monitor/SingleInstance.h"
#include "monitor/data/DocumentRecord.h"
#include "monitor/data/DocumentTable.h"
#include "monitor/dialogs/ModalDialogs.h"
#include "platform/InstanceLock.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>

#include <cstring>

#include <sys/stat.h>

namespace sentorix
{
namespace
{

using test::TempDir;

TEST(Startup, HideIsACaseSensitiveSubstringOfTheCommandLine)
{
    const struct {
        QStringList arguments;
        bool hidden;
    } cases[] = {
        {{}, false},         {{"/hide"}, true},      {{"/hideaway"}, true},
        {{"x/hidey"}, true}, {{"/HIDE"}, false},     {{"/Hide"}, false},
        {{"-hide"}, false},  {{"/hi", "de"}, false}, {{"--verbose", "/hide"}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        EXPECT_EQ(startsHidden(c.arguments), c.hidden);
    }
}

QString uniqueName(const char* what)
{
    return QStringLiteral("sentorix-test-%1-%2").arg(what).arg(QCoreApplication::applicationPid());
}

TEST(Startup, ASecondStartAsksTheFirstToShowItself)
{
    ui::SingleInstance first(uniqueName("single"));
    ui::SingleInstance second(uniqueName("single"));
    EXPECT_FALSE(first.notifyRunning(200));
    ASSERT_TRUE(first.listen());
    QSignalSpy shown(&first, &ui::SingleInstance::showRequested);
    EXPECT_TRUE(second.notifyRunning(2000));
    EXPECT_TRUE(shown.wait(5000));
}

TEST(Startup, ASecondMonitorBringsTheHiddenFirstToTheFrontAndKeepsItsTrayMode)
{
    TempDir data;
    CSentorixApp first({uniqueName("app"), data.path(), data.path()});
    ASSERT_EQ(first.initInstance({"/hide"}), CSentorixApp::Start::Running);
    EXPECT_TRUE(first.trayMode());

    CSentorixApp second({uniqueName("app"), data.path(), data.path()});
    EXPECT_EQ(second.initInstance({}), CSentorixApp::Start::AnotherInstance);
    QTRY_VERIFY_WITH_TIMEOUT(first.mainFrame()->isVisible(), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!first.mainFrame()->isMinimized(), 5000);
    EXPECT_TRUE(first.trayMode());
}

TEST(Startup, TheMonitorHoldsTheDataFolderLockForItsRun)
{
    TempDir data;
    {
        CSentorixApp app({uniqueName("lock"), data.path(), data.path()});
        ASSERT_EQ(app.initInstance({}), CSentorixApp::Start::Running);
        InstanceLock other;
        EXPECT_EQ(other.tryAcquire(data.path()), InstanceLock::Result::Busy);
    }
    InstanceLock after;
    EXPECT_EQ(after.tryAcquire(data.path()), InstanceLock::Result::Acquired);
}

TEST(Startup, AMonitorOnALockedDataFolderSaysSoAndFails)
{
    TempDir data;
    InstanceLock cli;
    ASSERT_EQ(cli.tryAcquire(data.path()), InstanceLock::Result::Acquired);
    ui::MessageBox::clearAsked();
    ui::MessageBox::setNextAnswer(QMessageBox::Ok);
    CSentorixApp app({uniqueName("busy"), data.path(), data.path()});
    EXPECT_EQ(app.initInstance({}), CSentorixApp::Start::Failed);
    ASSERT_EQ(ui::MessageBox::asked().size(), 1u);
    EXPECT_EQ(ui::MessageBox::asked()[0].text, kAlreadyRunningText);
}

TEST(Startup, LeftoversOfInterruptedWritesAreRemovedAndUserFilesKept)
{
    TempDir data;
    test::writeFile(data.file(".News.data.a1B2c3"), "half a record");
    test::writeFile(data.file(".News.content.Zz9yX8"), "half a page");
    test::writeFile(data.file(".News.data.bak"), "the user's");
    test::writeFile(data.file("notes.txt"), "the user's");

    CSentorixApp app({uniqueName("leftovers"), data.path(), data.path()});
    ASSERT_EQ(app.initInstance({}), CSentorixApp::Start::Running);

    EXPECT_FALSE(test::exists(data.file(".News.data.a1B2c3")));
    EXPECT_FALSE(test::exists(data.file(".News.content.Zz9yX8")));
    EXPECT_TRUE(test::exists(data.file(".News.data.bak")));
    EXPECT_TRUE(test::exists(data.file("notes.txt")));
}

DocumentRecord recordNamed(const char* name, DocumentStatus status)
{
    DocumentRecord record{};
    std::strncpy(record.displayName, name, sizeof record.displayName - 1);
    std::strncpy(record.location, "http://127.0.0.1/", sizeof record.location - 1);
    record.status = static_cast<int32_t>(status);
    return record;
}

TEST(Startup, ExitDeletesTheTemporaryFilesAndSavesARetrievingRecordAsWaiting)
{
    TempDir data;
    {
        DocumentTable table;
        table.put(0, recordNamed("News", DocumentStatus::Retrieving));
        saveRecord(table, 0, data.path());
    }
    test::writeFile(data.file("KTP1A.tmp"), "partial");
    test::writeFile(data.file("other.TMP"), "partial");
    test::writeFile(data.file("keep.txt"), "user");
    ::mkdir(data.file("folder.tmp").c_str(), 0700);

    CSentorixApp app({uniqueName("exit"), data.path(), data.path()});
    ASSERT_EQ(app.initInstance({}), CSentorixApp::Start::Running);
    app.mainFrame()->close();

    EXPECT_FALSE(test::exists(data.file("KTP1A.tmp")));
    EXPECT_FALSE(test::exists(data.file("other.TMP")));
    EXPECT_TRUE(test::exists(data.file("keep.txt")));
    EXPECT_TRUE(test::exists(data.file("folder.tmp")));
    DocumentTable reloaded;
    ASSERT_EQ(loadAllRecords(reloaded, data.path(), nullptr), 1);
    EXPECT_EQ(reloaded.status(0), DocumentStatus::Waiting);
}

} // namespace
} // namespace sentorix
