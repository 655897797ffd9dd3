// Announcing changes and failures (sound, selection, MessageLog entry, blink) and the hand-off
// to the mailer.

#include "CheckHarness.h"

#include "common/FixedText.h"
#include "common/MailHandoff.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

namespace sentorix::test
{
namespace
{

int addDoc(EngineHarness& h, const std::string& name)
{
    DocumentSpec spec;
    spec.kind = DocumentKind::LocalFile;
    spec.name = name;
    spec.location = "/nowhere/" + name;
    return h.add(spec);
}

std::string messageLogPath(const EngineHarness& h)
{
    return h.dataFolder + "/Postavo.msg";
}

// One action's setting for each event: the event's own and the other event's.
struct Flags {
    int32_t changed;
    int32_t unavailable;
};

struct NotifyCase {
    DocumentStatus event;
    Flags sound;        // soundOnChange / soundOnUnavailable
    Flags select;       // selectOnChange / selectOnUnavailable
    int mailTimer;      // the mail timer armed
    Flags send;         // sendOnChange / sendOnUnavailable
    const char* played; // the sound file, or "" for none
    bool selected;
    bool entry;
};

TEST(NotifyEvent, EachActionFollowsItsOwnSetting)
{
    const DocumentStatus Changed = DocumentStatus::Changed;
    const DocumentStatus Unavailable = DocumentStatus::Unavailable;
    // Each event's own flag on with the other's off, and off with the other's on, so an
    // event that read the other event's flags fails.
    const NotifyCase cases[] = {
        {Changed, {1, 0}, {1, 0}, 1, {1, 0}, "Sentorix.sound", true, true},
        {Changed, {0, 1}, {0, 1}, 1, {0, 1}, "", false, false},
        {Unavailable, {0, 1}, {0, 1}, 1, {0, 1}, "Sentorix.alert", true, true},
        {Unavailable, {1, 0}, {1, 0}, 1, {1, 0}, "", false, false},
        // The actions apart: each setting alone.
        {Changed, {1, 1}, {0, 0}, 0, {1, 1}, "Sentorix.sound", false, false},
        {Changed, {0, 0}, {1, 1}, 0, {1, 1}, "", true, false},
        {Unavailable, {0, 0}, {0, 0}, 1, {1, 1}, "", false, true},
        // E-mail on, but the mail settings do not ask for this event.
        {Unavailable, {1, 1}, {0, 0}, 1, {1, 0}, "Sentorix.alert", false, false},
        // The mail settings ask, but the mail timer is not armed.
        {Changed, {0, 0}, {0, 0}, 0, {1, 1}, "", false, false},
    };
    for (const NotifyCase& c : cases) {
        EngineHarness h;
        const int index = addDoc(h, "Syslog");
        OptionsRecord options = h.options.get();
        options.soundOnChange = c.sound.changed;
        options.soundOnUnavailable = c.sound.unavailable;
        options.selectOnChange = c.select.changed;
        options.selectOnUnavailable = c.select.unavailable;
        h.options.set(options);
        MailSettings mail{};
        mail.sendOnChange = c.send.changed;
        mail.sendOnUnavailable = c.send.unavailable;
        h.mail.set(mail);
        h.engine->setMailTimerArmed(c.mailTimer == 1);

        const int caseNumber = static_cast<int>(&c - cases);
        h.engine->notifyEvent(index, c.event);
        const std::vector<std::string> expected =
            *c.played ? std::vector<std::string>{c.played} : std::vector<std::string>{};
        EXPECT_EQ(h.sound.played(), expected) << "case " << caseNumber;
        EXPECT_EQ(h.selected().size(), c.selected ? 1u : 0u) << "case " << caseNumber;
        EXPECT_EQ(exists(messageLogPath(h)), c.entry) << "case " << caseNumber;
        if (c.entry) {
            // The clock of the harness stands still, so the entry is known to the byte.
            const std::string log = readFile(messageLogPath(h));
            const std::string event = c.event == Changed ? "Changed" : "Unable to retrieve";
            EXPECT_NE(log.find(std::string(kHarnessTimeText) + " " + event + ": Syslog\r\r\n"),
                      std::string::npos)
                << log;
            EXPECT_NE(log.find("/nowhere/Syslog\r\r\n\r\r\n"), std::string::npos) << log;
        }
    }
}

TEST(NotifyEvent, SelectionAddsToTheRowsAlreadySelected)
{
    EngineHarness h;
    const int first = addDoc(h, "first");
    const int second = addDoc(h, "second");
    h.list.setRowSelected(h.list.recordToRow(first), true);
    h.engine->notifyEvent(second, DocumentStatus::Changed);
    EXPECT_EQ(h.selected(), (std::vector<int>{first, second}));
}

TEST(StartBlink, OnlyWhileHiddenInTheTray)
{
    EngineHarness h;
    h.engine->startBlink();
    EXPECT_EQ(h.view.blinkRequests(), 0);
    h.engine->setTrayMode(1 == 1);
    h.engine->startBlink();
    EXPECT_EQ(h.view.blinkRequests(), 1);
}

TEST(StartBlink, ChangeFoundInTrayModeBlinksWithTheOtherAnnouncements)
{
    for (int tray : {0, 1}) {
        EngineHarness h;
        const std::string source = h.installDir.file("watched.log");
        writeFile(source, "one");
        DocumentSpec spec;
        spec.kind = DocumentKind::LocalFile;
        spec.name = "watched";
        spec.location = source;
        const int index = h.add(spec);
        ASSERT_EQ(h.check(index), DocumentStatus::Ready);
        h.engine->setTrayMode(tray == 1);
        writeFile(source, "two");
        ASSERT_EQ(h.check(index), DocumentStatus::Changed);
        EXPECT_EQ(h.sound.played(), std::vector<std::string>{"Sentorix.sound"});
        EXPECT_EQ(h.selected(), std::vector<int>{index});
        EXPECT_FALSE(exists(messageLogPath(h))) << "e-mail is off";
        EXPECT_EQ(h.view.blinkRequests(), tray);
    }
}

// --- the mail hand-off ---------------------------------------------------------------------

struct MailerHarness : EngineHarness {
    MailerHarness(int32_t markChecked)
    {
        MailSettings settings{};
        settings.sendOnChange = 1;
        settings.sendOnUnavailable = 1;
        settings.markNotifiedChecked = markChecked;
        mail.set(settings);
        engine->setMailTimerArmed(true);
        doc = addDoc(*this, "failing");
    }
    // A check that cannot fetch the document, announced as Unavailable.
    void failOnce() { ASSERT_EQ(check(doc), DocumentStatus::Unavailable); }
    int doc = -1;
};

TEST(RunMailer, NoMessageLogStartsNothing)
{
    MailerHarness h(1);
    h.engine->runMailer();
    EXPECT_TRUE(h.launcher.calls().empty());
}

TEST(RunMailer, StartsThePostavoProgramAndMarksNotifiedDocumentsChecked)
{
    MailerHarness h(1);
    h.failOnce();
    h.failOnce();
    EXPECT_EQ(h.notified.at(0), h.doc);
    EXPECT_EQ(h.notified.at(1), h.doc);

    h.engine->runMailer();
    ASSERT_EQ(h.launcher.calls().size(), 1u);
    EXPECT_EQ(h.launcher.calls()[0],
              (std::vector<std::string>{h.installDir.file("Postavo"), "/from_sentorix"}));
    EXPECT_EQ(h.table.status(h.doc), DocumentStatus::Checked);
    EXPECT_EQ(h.notified.at(0), NotifiedList::kEmpty);
    EXPECT_EQ(h.notified.at(1), NotifiedList::kEmpty);
    EXPECT_TRUE(exists(messageLogPath(h))) << "the mailer, not the monitor, removes it";
}

TEST(RunMailer, WithoutMarkingNoStatusChanges)
{
    MailerHarness h(0);
    h.failOnce();
    h.engine->runMailer();
    EXPECT_EQ(h.launcher.calls().size(), 1u);
    EXPECT_EQ(h.table.status(h.doc), DocumentStatus::Unavailable);
}

TEST(RunMailer, DocumentWithoutRowKeepsItsSlot)
{
    MailerHarness h(1);
    h.failOnce();
    h.list.removeRow(h.list.recordToRow(h.doc));
    h.engine->runMailer();
    EXPECT_EQ(h.notified.at(0), h.doc);
    EXPECT_EQ(h.table.status(h.doc), DocumentStatus::Unavailable);
}

// A notified document that a worker is checking again at the tick keeps its check: the
// status stays Retrieving until that check ends (so no request can hand the document to a
// second worker meanwhile), and the slot is emptied as the mailer was started.
TEST(RunMailer, DocumentBeingCheckedAgainIsLeftToItsWorker)
{
    ScriptedServer silent(ScriptedServer::Behaviour::Silent);
    ASSERT_TRUE(silent.start());
    MailerHarness h(1);
    h.failOnce();
    ASSERT_EQ(h.notified.at(0), h.doc);
    DocumentRecord record = h.table.get(h.doc);
    record.kind = static_cast<int32_t>(DocumentKind::WebPage);
    setFieldText(record.location, "http://127.0.0.1:" + std::to_string(silent.port()) + "/page");
    h.table.put(h.doc, record);

    h.engine->checkAll();
    for (int i = 0; i < 200 && h.table.status(h.doc) != DocumentStatus::Retrieving; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(h.table.status(h.doc), DocumentStatus::Retrieving);
    h.engine->runMailer();
    EXPECT_EQ(h.launcher.calls().size(), 1u);
    EXPECT_EQ(h.notified.at(0), NotifiedList::kEmpty);
    EXPECT_EQ(h.table.status(h.doc), DocumentStatus::Retrieving);
    h.list.selectAllRows();
    h.engine->checkSelected();
    h.settle();

    EXPECT_EQ(h.redraws(h.doc), 2 + 3) << "the failed check, then one more";
    EXPECT_EQ(h.table.status(h.doc), DocumentStatus::Unavailable);
}

TEST(RunMailer, MailerThatCannotStartIsReportedAtEveryTickAndChangesNothing)
{
    MailerHarness h(1);
    h.launcher.succeed = false;
    h.failOnce();
    h.engine->runMailer();
    h.engine->runMailer();
    EXPECT_EQ(h.view.messages(),
              (std::vector<std::string>{kMailerMissingText, kMailerMissingText}));
    EXPECT_EQ(h.table.status(h.doc), DocumentStatus::Unavailable);
    EXPECT_EQ(h.notified.at(0), h.doc);
}

// The real program start: the mailer is a script in the InstallFolder that records how it
// was started.
TEST(RunMailer, RealLaunchStartsTheInstalledMailerDetached)
{
    TempDir install;
    TempDir data;
    const std::string report = data.file("started");
    const std::string mailer = install.file("Postavo");
    writeFile(mailer, "#!/usr/bin/python3\n"
                      "import os, sys\n"
                      "with open("
                      "'" +
                          report +
                          ".part', 'w') as f:\n"
                          "    f.write('%d %d\\n' % (os.getppid(), os.getsid(0)))\n"
                          "    f.write('\\n'.join(sys.argv[1:]))\n"
                          "os.rename('" +
                          report + ".part', '" + report + "')\n");
    ASSERT_EQ(::chmod(mailer.c_str(), 0755), 0);

    PosixProgramLauncher launcher;
    ASSERT_TRUE(launcher.launchDetached(mailer, {"/from_sentorix", "a b;$(touch x)"}));
    for (int i = 0; i < 500 && !exists(report); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(exists(report));
    std::ifstream in(report);
    long parent = 0;
    long session = 0;
    in >> parent >> session;
    EXPECT_NE(parent, static_cast<long>(::getpid())) << "not our child";
    EXPECT_NE(session, static_cast<long>(::getsid(0))) << "a session of its own";
    std::string line;
    std::getline(in, line);
    std::getline(in, line);
    EXPECT_EQ(line, "/from_sentorix");
    std::getline(in, line);
    EXPECT_EQ(line, "a b;$(touch x)") << "arguments reach the program untouched";

    EXPECT_FALSE(launcher.launchDetached(install.file("missing"), {"/from_sentorix"}));
    const std::string plain = install.file("not-executable");
    writeFile(plain, "#!/bin/sh\n");
    EXPECT_FALSE(launcher.launchDetached(plain, {}));
}

} // namespace
} // namespace sentorix::test
