// The Options, e-mail and user name/password dialogs driven as a user would on the offscreen
// platform: clicks on the arrows, boxes and buttons, typed text, message boxes answered in
// advance. The commands run against a real options file, a real checking engine whose timers
// are recorded, the real login entry folder and, for the test mail, the built Postavo and a
// real SMTP server on 127.0.0.1.
#include "common/DataFolder.h"
#include "common/FixedText.h"
#include "common/MailHandoff.h"
#include "monitor/check/CheckEngine.h"
#include "monitor/data/DocumentList.h"
#include "monitor/data/DocumentTable.h"
#include "monitor/data/MailSettingsStore.h"
#include "monitor/data/NotifiedList.h"
#include "monitor/data/Options.h"
#include "monitor/dialogs/MailDialog.h"
#include "monitor/dialogs/ModalDialogs.h"
#include "monitor/dialogs/OptionsDialog.h"
#include "monitor/dialogs/SettingsCommands.h"
#include "platform/Autostart.h"
#include "platform/ProgramLauncher.h"
#include "platform/Sound.h"
#include "tests/monitor/DialogControls.h"
#include "tests/support/ReceivedMail.h"
#include "tests/support/TestAuthority.h"
#include "tests/support/TestSupport.h"
#include "tools/HeadlessView.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace sentorix::ui
{
namespace
{

using ::testing::ElementsAre;

// --- helpers -----------------------------------------------------------------------------

class RecordingTimers final : public TimerHost
{
public:
    void armTimer(int id, long long periodMs) override { running[id] = periodMs, ++arms[id]; }
    void stopTimer(int id) override { running.erase(id), ++stops[id]; }
    std::map<int, long long> running;
    std::map<int, int> arms;
    std::map<int, int> stops;
};

class RecordingLauncher final : public ProgramLauncher
{
public:
    bool launchDetached(const std::string& program,
                        const std::vector<std::string>& arguments) override
    {
        std::vector<std::string> call{program};
        call.insert(call.end(), arguments.begin(), arguments.end());
        calls.push_back(call);
        return succeed;
    }
    bool succeed = true;
    std::vector<std::vector<std::string>> calls;
};

using test::click;

// Types into a box; text beyond ASCII arrives whole, as from an input method.
void type(QLineEdit* box, const QString& text)
{
    box->clear();
    box->setFocus();
    const bool ascii =
        std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
    if (ascii)
        QTest::keyClicks(box, text);
    else
        box->insert(text);
}

// Runs `act` on the next modal dialog of type T once it is shown (by a nested event loop the
// caller is about to start). If none comes within 10 s, every modal window is closed so that
// the test fails instead of hanging.
template <typename T> void whenShown(std::function<void(T*)> act)
{
    QWidget* before = QApplication::activeModalWidget();
    auto* poll = new QTimer;
    poll->setInterval(10);
    QElapsedTimer clock;
    clock.start();
    QObject::connect(poll, &QTimer::timeout, poll, [=] {
        QWidget* modal = QApplication::activeModalWidget();
        T* dialog = qobject_cast<T*>(modal);
        const bool shown = dialog != nullptr && modal != before && dialog->isVisible();
        if (!shown && clock.elapsed() <= 10000)
            return;
        poll->stop();
        poll->deleteLater();
        if (shown) {
            act(dialog);
            return;
        }
        ADD_FAILURE() << "no " << T::staticMetaObject.className() << " was shown";
        while (QWidget* open = QApplication::activeModalWidget())
            open->close();
    });
    poll->start();
}

OptionsRecord allOff()
{
    OptionsRecord options{};
    options.checkIntervalMinutes = 10;
    options.workerThreads = 2;
    return options;
}

std::string optionsBytes(const OptionsRecord& options)
{
    return std::string(reinterpret_cast<const char*>(&options), sizeof options);
}

MailSettings mailSettings(const std::string& server, const std::string& to)
{
    MailSettings settings{};
    setFieldText(settings.smtpServer, server);
    setFieldText(settings.toAddress, to);
    settings.sendOnChange = 1;
    return settings;
}

MailSettings readSettings(const std::string& path)
{
    MailSettings settings{};
    const std::string bytes = test::readFile(path);
    EXPECT_EQ(bytes.size(), sizeof settings) << path;
    std::memcpy(&settings, bytes.data(), std::min(bytes.size(), sizeof settings));
    return settings;
}

std::string settingsBytes(const MailSettings& settings)
{
    return std::string(reinterpret_cast<const char*>(&settings), sizeof settings);
}

// Every control a user can reach with the keyboard, and every check box and button, has a
// name that assistive tools read out.
void expectAccessibleNames(QWidget* dialog)
{
    for (QWidget* w : dialog->findChildren<QWidget*>()) {
        const bool control = w->focusPolicy() != Qt::NoFocus || qobject_cast<QAbstractButton*>(w);
        if (!control || qobject_cast<QGroupBox*>(w) != nullptr)
            continue;
        if (w->parentWidget() != nullptr && qobject_cast<QComboBox*>(w->parentWidget()))
            continue; // the list's own pop-up parts
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
        ASSERT_NE(a, nullptr);
        EXPECT_FALSE(a->text(QAccessible::Name).isEmpty())
            << w->metaObject()->className() << " " << w->objectName().toStdString();
    }
}

// Takes a picture of a dialog for a person to look at (kept in the build folder).
void screenshot(QWidget* dialog, const char* name)
{
    dialog->adjustSize();
    dialog->show();
    QApplication::processEvents();
    const char* folder = std::getenv("SENTORIX_SCREENSHOT_DIR");
    if (folder != nullptr) {
        EXPECT_TRUE(dialog->grab().save(QString::fromUtf8(folder) + "/" + name));
    }
}

// The options dialog shown on its own.
struct OptionsForm {
    explicit OptionsForm(const OptionsRecord& options, bool startAtLogin = false)
        : dialog(options, startAtLogin, [this](QWidget*) { ++mailSettingsShown; })
    {
        dialog.show();
    }
    QString interval() const { return dialog.intervalDisplay()->text(); }
    int mailSettingsShown = 0;
    OptionsDialog dialog;
};

// --- the Options dialog --------------------------------------------------------------------

TEST(OptionsDialog, ArrowsStepByFiveWithinFiveToSixHundredFromAnyStart)
{
    struct Case {
        int start;
        bool up;
        int presses;
        std::vector<QString> seen; // after each press
    };
    const Case cases[] = {
        {10, false, 2, {"5", "5"}},
        {7, true, 2, {"12", "17"}},
        {7, false, 2, {"2", "2"}},
        {600, true, 1, {"600"}},
        {603, true, 1, {"603"}},  // above the top (made by hand): up
                                  // does nothing
        {603, false, 1, {"598"}}, // down still works
        {0, true, 1, {"5"}},      // a short file's 0
        {5, false, 1, {"5"}},
        {-1, true, 1, {"4294967295"}}, // shown unsigned, as stored
    };
    for (const Case& c : cases) {
        OptionsRecord options = allOff();
        options.periodicCheck = 1;
        options.checkIntervalMinutes = c.start;
        OptionsForm form(options);
        QToolButton* arrow =
            c.up ? form.dialog.intervalUpButton() : form.dialog.intervalDownButton();
        for (int i = 0; i < c.presses; ++i) {
            click(arrow);
            EXPECT_EQ(form.interval(), c.seen[static_cast<std::size_t>(i)])
                << "start " << c.start << " press " << i + 1;
        }
    }
}

TEST(OptionsDialog, TenUpHundredEighteenTimesReachesSixHundredAndStays)
{
    OptionsRecord options = allOff();
    options.periodicCheck = 1;
    OptionsForm form(options);
    EXPECT_EQ(form.interval(), "10");
    for (int i = 0; i < 118; ++i)
        click(form.dialog.intervalUpButton());
    EXPECT_EQ(form.interval(), "600");
    click(form.dialog.intervalUpButton());
    EXPECT_EQ(form.interval(), "600");
    EXPECT_EQ(form.dialog.edited().checkIntervalMinutes, 600);
}

TEST(OptionsDialog, UpAndDownKeysOnTheArrowsStepToo)
{
    OptionsRecord options = allOff();
    options.periodicCheck = 1;
    OptionsForm form(options);
    form.dialog.intervalUpButton()->setFocus();
    QTest::keyClick(form.dialog.intervalUpButton(), Qt::Key_Up);
    QTest::keyClick(form.dialog.intervalUpButton(), Qt::Key_Up);
    EXPECT_EQ(form.interval(), "20");
    QTest::keyClick(form.dialog.intervalUpButton(), Qt::Key_Down);
    EXPECT_EQ(form.interval(), "15");
}

TEST(OptionsDialog, PeriodicCheckEnablesTheIntervalAndSendEmailTheProperties)
{
    OptionsForm form(allOff());
    OptionsDialog& d = form.dialog;
    EXPECT_FALSE(d.intervalDisplay()->isEnabled());
    EXPECT_FALSE(d.intervalUpButton()->isEnabled());
    EXPECT_FALSE(d.intervalDownButton()->isEnabled());
    EXPECT_FALSE(d.propertiesButton()->isEnabled());

    click(d.periodicCheckBox());
    EXPECT_TRUE(d.intervalDisplay()->isEnabled());
    EXPECT_TRUE(d.intervalUpButton()->isEnabled());
    EXPECT_TRUE(d.intervalDownButton()->isEnabled());
    EXPECT_FALSE(d.propertiesButton()->isEnabled());
    click(d.intervalUpButton());
    click(d.periodicCheckBox()); // greyed again: the arrows and keys do nothing
    EXPECT_FALSE(d.intervalUpButton()->isEnabled());
    QTest::keyClick(d.intervalUpButton(), Qt::Key_Up);
    EXPECT_EQ(form.interval(), "15");

    click(d.sendEmailBox());
    EXPECT_TRUE(d.propertiesButton()->isEnabled());
    click(d.propertiesButton());
    EXPECT_EQ(form.mailSettingsShown, 1);
    click(d.sendEmailBox());
    EXPECT_FALSE(d.propertiesButton()->isEnabled());
}

TEST(OptionsDialog, OpensWithEveryFieldAndTakesEveryBoxOnApply)
{
    // Each field on alone: exactly its box is checked, and the record taken back is the same.
    using Field = std::int32_t OptionsRecord::*;
    const std::pair<Field, QCheckBox* (OptionsDialog::*)() const> boxes[] = {
        {&OptionsRecord::startupCheck, &OptionsDialog::startupCheckBox},
        {&OptionsRecord::periodicCheck, &OptionsDialog::periodicCheckBox},
        {&OptionsRecord::soundOnChange, &OptionsDialog::soundOnChangeBox},
        {&OptionsRecord::soundOnUnavailable, &OptionsDialog::soundOnUnavailableBox},
        {&OptionsRecord::selectOnChange, &OptionsDialog::selectOnChangeBox},
        {&OptionsRecord::selectOnUnavailable, &OptionsDialog::selectOnUnavailableBox},
        {&OptionsRecord::sendEmail, &OptionsDialog::sendEmailBox},
        {&OptionsRecord::openChangedPage, &OptionsDialog::openChangedPageBox},
        {&OptionsRecord::markCheckedWhenOpened, &OptionsDialog::markCheckedWhenOpenedBox},
    };
    for (const auto& [field, on] : boxes) {
        OptionsRecord options = allOff();
        options.*field = 1;
        OptionsForm form(options);
        for (const auto& [other, box] : boxes)
            EXPECT_EQ((form.dialog.*box)()->isChecked(), other == field);
        EXPECT_EQ(optionsBytes(form.dialog.edited()), optionsBytes(options));
        // A box the user unchecks is taken as 0.
        click((form.dialog.*on)());
        EXPECT_EQ(form.dialog.edited().*field, 0) << (form.dialog.*on)()->text().toStdString();
    }
    // A stored 2 is not 1: the box is unchecked and Apply writes 0.
    OptionsRecord two = allOff();
    two.soundOnChange = 2;
    OptionsForm form(two);
    EXPECT_FALSE(form.dialog.soundOnChangeBox()->isChecked());
    EXPECT_EQ(form.dialog.edited().soundOnChange, 0);
}

TEST(OptionsDialog, ThreadListSelectsTheStoredNumberAndNothingOutsideOneToFive)
{
    const std::pair<int, int> cases[] = {{1, 0}, {3, 2}, {5, 4}, {9, -1}, {0, -1}, {-2, -1}};
    for (const auto& [stored, index] : cases) {
        OptionsRecord options = allOff();
        options.workerThreads = stored;
        OptionsForm form(options);
        QComboBox* list = form.dialog.threadList();
        ASSERT_EQ(list->count(), 5);
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(list->itemText(i), QString::number(i + 1));
        EXPECT_EQ(list->currentIndex(), index) << stored;
        EXPECT_EQ(form.dialog.edited().workerThreads, index < 0 ? 1 : stored);
    }
    OptionsRecord options = allOff();
    options.workerThreads = 9;
    OptionsForm form(options);
    form.dialog.threadList()->setFocus();
    QTest::keyClick(form.dialog.threadList(), Qt::Key_Down);
    EXPECT_EQ(form.dialog.edited().workerThreads, form.dialog.threadList()->currentIndex() + 1);
}

TEST(OptionsDialog, EveryControlHasAnAccessibleName)
{
    OptionsForm form(allOff());
    expectAccessibleNames(&form.dialog);
    screenshot(&form.dialog, "options.png");
}

// --- the commands over the options file, the timers and the mail settings -----------------

class SettingsCommandsTest : public ::testing::Test
{
protected:
    SettingsCommandsTest()
        : dataFolder(dataDir.path()), table(8), notified(8),
          view([](const std::string&, MessageIcon) {}),
          engine(CheckEngineParts{dataFolder, installDir.path(), table, options, mail, notified,
                                  view, list, timers, sound, launcher}),
          commands(SettingsParts{dataFolder, installDir.path(), options, mail, launcher,
                                 [this] { engine.applyTimerOptions(); },
                                 AutostartEntry(configDir.file("autostart"))})
    {
        MessageBox::clearAsked();
    }

    std::string data(const char* name) const { return joinPath(dataFolder, name); }

    // Loads the options from the file as the start-up does, and arms the timers from them.
    void start(const OptionsRecord& stored)
    {
        test::writeFile(data(kOptionsFile), optionsBytes(stored));
        loadOptions(options, dataFolder);
        engine.armStartupTimers();
        timers.arms.clear();
        timers.stops.clear();
    }

    // Runs the Options command; `act` works the dialog and ends it.
    void showOptions(std::function<void(OptionsDialog*)> act)
    {
        whenShown<OptionsDialog>(std::move(act));
        commands.showOptions(nullptr);
    }

    std::vector<QString> asked() const
    {
        std::vector<QString> texts;
        for (const MessageBox::Asked& a : MessageBox::asked())
            texts.push_back(a.text);
        return texts;
    }

    test::TempDir dataDir;
    test::TempDir installDir;
    test::TempDir configDir;
    std::string dataFolder;
    DocumentTable table;
    OptionsStore options;
    MailSettingsStore mail;
    NotifiedList notified;
    HeadlessView view;
    DocumentList list{table};
    RecordingTimers timers;
    NullSoundPlayer sound;
    RecordingLauncher launcher;
    CheckEngine engine;
    SettingsCommands commands;
};

TEST_F(SettingsCommandsTest, ApplySavesTheOptionsThenReArmsTheTimers)
{
    OptionsRecord stored = allOff();
    stored.periodicCheck = 1;
    start(stored);
    ASSERT_EQ(timers.running.at(kPeriodicTimer), 10 * 60 * 1000);

    showOptions([](OptionsDialog* d) {
        click(d->intervalUpButton());
        click(d->sendEmailBox());
        click(d->soundOnChangeBox());
        d->threadList()->setCurrentIndex(4);
        click(d->applyButton());
    });

    OptionsRecord expected = stored;
    expected.checkIntervalMinutes = 15;
    expected.sendEmail = 1;
    expected.soundOnChange = 1;
    expected.workerThreads = 5;
    EXPECT_EQ(optionsBytes(options.get()), optionsBytes(expected));
    EXPECT_EQ(test::readFile(data(kOptionsFile)), optionsBytes(expected));
    EXPECT_EQ(timers.running.at(kPeriodicTimer), 15 * 60 * 1000);
    EXPECT_EQ(timers.running.at(kMailTimer), kMailPeriodMs);
    EXPECT_TRUE(engine.mailTimerArmed());

    // Unchecking "Periodic check" stops timer 1.
    showOptions([](OptionsDialog* d) {
        click(d->periodicCheckBox());
        EXPECT_FALSE(d->intervalUpButton()->isEnabled());
        click(d->applyButton());
    });
    EXPECT_EQ(options.get().periodicCheck, 0);
    EXPECT_EQ(options.get().checkIntervalMinutes, 15); // kept, though greyed
    EXPECT_EQ(timers.running.count(kPeriodicTimer), 0u);
    EXPECT_FALSE(engine.periodicTimerArmed());
    EXPECT_TRUE(MessageBox::asked().empty());
}

TEST_F(SettingsCommandsTest, WorkerThreadsNineShowsNoSelectionAndApplyStoresOne)
{
    OptionsRecord stored = allOff();
    stored.workerThreads = 9;
    start(stored);
    showOptions([](OptionsDialog* d) {
        EXPECT_EQ(d->threadList()->currentIndex(), -1);
        EXPECT_EQ(d->threadList()->currentText(), "");
        click(d->applyButton());
    });
    stored.workerThreads = 1;
    EXPECT_EQ(test::readFile(data(kOptionsFile)), optionsBytes(stored));
}

TEST_F(SettingsCommandsTest, CancelKeepsOptionsFileAndTimersButNotWhatTheMailDialogApplied)
{
    OptionsRecord stored = allOff();
    stored.periodicCheck = 1;
    stored.sendEmail = 1;
    start(stored);
    const std::map<int, long long> running = timers.running;

    showOptions([](OptionsDialog* d) {
        click(d->periodicCheckBox());
        click(d->startupCheckBox());
        click(d->startAtLoginBox());
        d->threadList()->setCurrentIndex(0);
        whenShown<MailDialog>([](MailDialog* m) {
            type(m->serverBox(), "smtp.example.org:587");
            type(m->toBox(), "me@example.org");
            click(m->sendOnChangeBox());
            click(m->applyButton());
        });
        click(d->propertiesButton());
        click(d->cancelButton());
    });

    EXPECT_EQ(optionsBytes(options.get()), optionsBytes(stored));
    EXPECT_EQ(test::readFile(data(kOptionsFile)), optionsBytes(stored));
    EXPECT_EQ(timers.running, running);
    EXPECT_TRUE(timers.arms.empty());
    EXPECT_TRUE(timers.stops.empty());
    EXPECT_FALSE(commands.parts().autostart.exists());
    // The e-mail settings applied meanwhile are in force and saved.
    const MailSettings saved = readSettings(data(kMailSettingsFile));
    EXPECT_EQ(fieldText(saved.smtpServer), "smtp.example.org:587");
    EXPECT_EQ(fieldText(saved.toAddress), "me@example.org");
    EXPECT_EQ(saved.sendOnChange, 1);
    EXPECT_EQ(settingsBytes(mail.get()), settingsBytes(saved));
}

// --- the login entry -----------------------------------------------------------------------

TEST_F(SettingsCommandsTest, StartAtLoginBoxCreatesAndRemovesTheEntryNamingTheInstalledProgram)
{
    start(allOff());
    const AutostartEntry& entry = commands.parts().autostart;
    showOptions([](OptionsDialog* d) {
        EXPECT_FALSE(d->startAtLoginBox()->isChecked());
        click(d->startAtLoginBox());
        click(d->applyButton());
    });
    ASSERT_TRUE(entry.exists());
    EXPECT_EQ(entry.path(), configDir.file("autostart") + "/Sentorix.desktop");
    const std::string text = test::readFile(entry.path());
    EXPECT_THAT(text, ::testing::StartsWith("[Desktop Entry]\n"));
    EXPECT_THAT(text, ::testing::HasSubstr("\nType=Application\n"));
    EXPECT_THAT(text,
                ::testing::HasSubstr("\nExec=\"" + installDir.path() + "/Sentorix\" /hide\n"));
    // The options record does not carry it.
    EXPECT_EQ(test::readFile(data(kOptionsFile)).size(), sizeof(OptionsRecord));
    EXPECT_EQ(optionsBytes(options.get()), optionsBytes(allOff()));

    // Cancel leaves it; the box shows its presence.
    showOptions([](OptionsDialog* d) {
        EXPECT_TRUE(d->startAtLoginBox()->isChecked());
        click(d->startAtLoginBox());
        click(d->cancelButton());
    });
    EXPECT_TRUE(entry.exists());

    showOptions([](OptionsDialog* d) {
        click(d->startAtLoginBox());
        click(d->applyButton());
    });
    EXPECT_FALSE(entry.exists());

    // An entry the user removed by hand shows as off.
    ASSERT_TRUE(entry.install("/opt/sentorix/Sentorix"));
    ::unlink(entry.path().c_str());
    showOptions([](OptionsDialog* d) {
        EXPECT_FALSE(d->startAtLoginBox()->isChecked());
        click(d->cancelButton());
    });
}

TEST(Autostart, FolderFollowsXdgConfigHomeElseHome)
{
    const char* savedConfig = std::getenv("XDG_CONFIG_HOME");
    const std::string keepConfig = savedConfig ? savedConfig : "";
    const std::string keepHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    setenv("XDG_CONFIG_HOME", "/x/config", 1);
    EXPECT_EQ(userAutostartFolder(), "/x/config/autostart");
    setenv("XDG_CONFIG_HOME", "relative", 1); // not absolute: ignored
    setenv("HOME", "/home/u", 1);
    EXPECT_EQ(userAutostartFolder(), "/home/u/.config/autostart");
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(userAutostartFolder(), "/home/u/.config/autostart");
    unsetenv("HOME");
    EXPECT_EQ(userAutostartFolder(), "");
    EXPECT_FALSE(AutostartEntry::forUser().install("/opt/Sentorix"));
    setenv("HOME", keepHome.c_str(), 1);
    if (savedConfig)
        setenv("XDG_CONFIG_HOME", keepConfig.c_str(), 1);
}

TEST(Autostart, ExecQuotesAndEscapesThePathAndRefusesWhatNoEntryCarries)
{
    const std::pair<std::string, std::string> cases[] = {
        {"/opt/Sentorix", R"("/opt/Sentorix" /hide)"},
        {"/home/a b/Sentorix", R"("/home/a b/Sentorix" /hide)"},
        {R"(/x/"q"/Sentorix)", R"("/x/\\"q\\"/Sentorix" /hide)"},
        {"/x/$HOME/`id`/Sentorix", R"("/x/\\$HOME/\\`id\\`/Sentorix" /hide)"},
        {R"(/x/back\slash)", R"("/x/back\\\\slash" /hide)"},
        {"/x/100%/Sentorix", R"("/x/100%%/Sentorix" /hide)"},
    };
    for (const auto& [program, exec] : cases) {
        const std::string text = autostartEntryText(program);
        EXPECT_THAT(text, ::testing::HasSubstr("\nExec=" + exec + "\n")) << program;
    }
    for (const std::string bad : {"", "Sentorix", "./Sentorix", "/x/new\nline", "/x/tab\t"})
        EXPECT_EQ(autostartEntryText(bad), "") << bad;
}

TEST(Autostart, InstallMakesTheFolderAndRemoveIsQuietWhenAbsent)
{
    test::TempDir home;
    const AutostartEntry entry(home.file("a/b/autostart"));
    EXPECT_FALSE(entry.exists());
    EXPECT_TRUE(entry.remove());
    ASSERT_TRUE(entry.install("/opt/Sentorix"));
    EXPECT_TRUE(entry.exists());
    struct stat st {
    };
    ASSERT_EQ(::stat(home.file("a").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_TRUE(entry.remove());
    EXPECT_FALSE(entry.exists());
    // A folder in the way of the entry's folder: no entry, no crash.
    test::writeFile(home.file("file"), "x");
    EXPECT_FALSE(AutostartEntry(home.file("file/autostart")).install("/opt/Sentorix"));
}

// --- the e-mail dialog ---------------------------------------------------------------------

TEST_F(SettingsCommandsTest, ApplyMessagesComeInOrderSendWhenThenServerThenTo)
{
    whenShown<MailDialog>([this](MailDialog* m) {
        const auto pressApply = [&](const QString& expected) {
            MessageBox::clearAsked();
            MessageBox::setNextAnswer(QMessageBox::Ok);
            click(m->applyButton());
            EXPECT_THAT(asked(), ElementsAre(expected));
            EXPECT_TRUE(m->isVisible());
        };
        pressApply(kSelectSendWhenText);
        // The Send When check comes before the addresses are looked at, even with them filled.
        type(m->serverBox(), "smtp.example.org");
        type(m->toBox(), "me@example.org");
        pressApply(kSelectSendWhenText);
        m->serverBox()->clear();
        m->toBox()->clear();
        click(m->sendOnUnavailableBox()); // one of the two is enough
        pressApply(kEnterServerText);
        type(m->serverBox(), "smtp.example.org");
        pressApply(kEnterToText);
        EXPECT_EQ(MessageBox::asked().front().icon, QMessageBox::Information);
        type(m->toBox(), "me@example.org");
        MessageBox::clearAsked();
        click(m->applyButton());
        EXPECT_TRUE(MessageBox::asked().empty());
    });
    commands.showMailSettings(nullptr);

    MailSettings expected{};
    setFieldText(expected.smtpServer, "smtp.example.org");
    setFieldText(expected.toAddress, "me@example.org");
    expected.sendOnUnavailable = 1;
    EXPECT_EQ(settingsBytes(readSettings(data(kMailSettingsFile))), settingsBytes(expected));
    EXPECT_EQ(settingsBytes(mail.get()), settingsBytes(expected));
}

TEST_F(SettingsCommandsTest, OpeningReadsTheFileAgainAndShowsEveryField)
{
    MailSettings stored = mailSettings("mail.example.org:2525", "to@example.org");
    setFieldText(stored.ccAddress, "cc@example.org");
    setFieldText(stored.bccAddress, "bcc@example.org");
    stored.requiresAuth = 1;
    stored.sendOnChange = 0;
    stored.sendOnUnavailable = 1;
    stored.markNotifiedChecked = 1;
    test::writeFile(data(kMailSettingsFile), settingsBytes(stored));
    mail.set(MailSettings{}); // the file, not the settings in force, is shown
    whenShown<MailDialog>([](MailDialog* m) {
        EXPECT_EQ(m->serverBox()->text(), "mail.example.org:2525");
        EXPECT_EQ(m->toBox()->text(), "to@example.org");
        EXPECT_EQ(m->ccBox()->text(), "cc@example.org");
        EXPECT_EQ(m->bccBox()->text(), "bcc@example.org");
        EXPECT_TRUE(m->requiresAuthBox()->isChecked());
        EXPECT_FALSE(m->sendOnChangeBox()->isChecked());
        EXPECT_TRUE(m->sendOnUnavailableBox()->isChecked());
        EXPECT_TRUE(m->markNotifiedCheckedBox()->isChecked());
        EXPECT_FALSE(m->serverBox()->toolTip().isEmpty());
        expectAccessibleNames(m);
        screenshot(m, "email.png");
        click(m->cancelButton());
    });
    commands.showMailSettings(nullptr);
    EXPECT_EQ(settingsBytes(mail.get()), settingsBytes(stored));
    EXPECT_EQ(test::readFile(data(kMailSettingsFile)), settingsBytes(stored));
}

TEST_F(SettingsCommandsTest, ALoginEnteredThenCancelledIsDroppedAndTheOldOneShownAgain)
{
    MailSettings stored = mailSettings("smtp.example.org", "me@example.org");
    stored.requiresAuth = 1;
    setFieldText(stored.authUserName, "old-user");
    setFieldText(stored.authPassword, "old-pass");
    test::writeFile(data(kMailSettingsFile), settingsBytes(stored));

    whenShown<MailDialog>([](MailDialog* m) {
        whenShown<CredentialsDialog>([](CredentialsDialog* c) {
            EXPECT_EQ(c->userNameBox()->text(), "old-user");
            EXPECT_EQ(c->passwordBox()->text(), "old-pass");
            EXPECT_EQ(c->passwordBox()->echoMode(), QLineEdit::Password);
            type(c->userNameBox(), "new-user");
            type(c->passwordBox(), "new-pass");
            click(c->applyButton());
        });
        click(m->loginButton());
        EXPECT_TRUE(m->credentialsEntered());
        // Shown again within the same opening: the login just entered.
        whenShown<CredentialsDialog>([](CredentialsDialog* c) {
            EXPECT_EQ(c->userNameBox()->text(), "new-user");
            click(c->cancelButton());
        });
        click(m->loginButton());
        click(m->cancelButton());
    });
    commands.showMailSettings(nullptr);
    EXPECT_EQ(test::readFile(data(kMailSettingsFile)), settingsBytes(stored));

    whenShown<MailDialog>([](MailDialog* m) {
        EXPECT_FALSE(m->credentialsEntered());
        whenShown<CredentialsDialog>([](CredentialsDialog* c) {
            EXPECT_EQ(c->userNameBox()->text(), "old-user");
            EXPECT_EQ(c->passwordBox()->text(), "old-pass");
            click(c->cancelButton());
        });
        click(m->loginButton());
        click(m->cancelButton());
    });
    commands.showMailSettings(nullptr);
}

TEST_F(SettingsCommandsTest, ALoginWithoutRequiresAuthenticationIsStoredWithRequiresAuthZero)
{
    whenShown<MailDialog>([](MailDialog* m) {
        EXPECT_FALSE(m->requiresAuthBox()->isChecked());
        whenShown<CredentialsDialog>([](CredentialsDialog* c) {
            // Either box empty: the message, and the dialog stays open.
            type(c->userNameBox(), "user");
            MessageBox::setNextAnswer(QMessageBox::Ok);
            click(c->applyButton());
            EXPECT_TRUE(c->isVisible());
            c->userNameBox()->clear();
            type(c->passwordBox(), "secret");
            MessageBox::setNextAnswer(QMessageBox::Ok);
            click(c->applyButton());
            EXPECT_TRUE(c->isVisible());
            type(c->userNameBox(), "user");
            expectAccessibleNames(c);
            screenshot(c, "login.png");
            click(c->applyButton());
        });
        click(m->loginButton());
        type(m->serverBox(), "smtp.example.org");
        type(m->toBox(), "me@example.org");
        click(m->sendOnChangeBox());
        click(m->applyButton());
    });
    commands.showMailSettings(nullptr);

    EXPECT_THAT(asked(), ElementsAre(kEnterLoginText, kEnterLoginText));
    const MailSettings saved = readSettings(data(kMailSettingsFile));
    EXPECT_EQ(saved.requiresAuth, 0);
    EXPECT_EQ(fieldText(saved.authUserName), "user");
    EXPECT_EQ(fieldText(saved.authPassword), "secret");
}

TEST_F(SettingsCommandsTest, BoxesTakeSeventyEightBytesAndNeverHalfACharacter)
{
    const QString server79 = QString(79, QChar('s'));
    const QString typed80 = QString(80, QChar('t'));
    // 77 ASCII bytes and a two-byte character: the character does not fit whole.
    const QString cc = QString(77, QChar('c')) + QChar(0x00E9);
    // A character outside the BMP (4 bytes, two UTF-16 units) after 76 bytes.
    const QString bcc = QString(76, QChar('b')) + QString::fromUtf8("\xF0\x9F\x93\xA7");
    whenShown<MailDialog>([&](MailDialog* m) {
        type(m->serverBox(), server79);
        EXPECT_EQ(m->serverBox()->text(), server79);
        type(m->toBox(), typed80);
        EXPECT_EQ(m->toBox()->text().size(), 79); // the box takes 79
        type(m->ccBox(), cc);
        type(m->bccBox(), bcc);
        whenShown<CredentialsDialog>([](CredentialsDialog* c) {
            type(c->userNameBox(), QString(79, QChar('u')));
            type(c->passwordBox(), QString(78, QChar('p')));
            click(c->applyButton());
        });
        click(m->loginButton());
        click(m->sendOnChangeBox());
        click(m->applyButton());
    });
    commands.showMailSettings(nullptr);

    const MailSettings saved = readSettings(data(kMailSettingsFile));
    EXPECT_EQ(fieldText(saved.smtpServer), std::string(78, 's'));
    EXPECT_EQ(fieldText(saved.toAddress), std::string(78, 't'));
    EXPECT_EQ(fieldText(saved.ccAddress), std::string(77, 'c'));
    EXPECT_EQ(fieldText(saved.bccAddress), std::string(76, 'b'));
    EXPECT_EQ(fieldText(saved.authUserName), std::string(78, 'u'));
    EXPECT_EQ(fieldText(saved.authPassword), std::string(78, 'p'));
    // A character that fits whole is kept.
    char field[80];
    takeBoxText(field, QString(76, QChar('x')) + QChar(0x00E9));
    EXPECT_EQ(fieldText(field), std::string(76, 'x') + "\xC3\xA9");
}

TEST_F(SettingsCommandsTest, ALineBreakInTheServerOrAnAddressIsRefusedBeforeAnythingIsTaken)
{
    const MailSettings stored = mailSettings("smtp.example.org", "me@example.org");
    test::writeFile(data(kMailSettingsFile), settingsBytes(stored));
    // A pasted text, or a hand-made settings file, could carry a second SMTP command.
    const QString injected = QStringLiteral("me@example.org>\r\nRCPT TO:<other@example.org");
    whenShown<MailDialog>([&](MailDialog* m) {
        for (QLineEdit* box : {m->serverBox(), m->toBox(), m->ccBox(), m->bccBox()}) {
            const QString before = box->text();
            box->setText(injected);
            MessageBox::clearAsked();
            MessageBox::setNextAnswer(QMessageBox::Ok);
            click(m->applyButton());
            MessageBox::setNextAnswer(QMessageBox::Ok);
            click(m->testButton());
            EXPECT_THAT(asked(), ElementsAre(kControlCharacterText, kControlCharacterText))
                << box->accessibleName().toStdString();
            EXPECT_TRUE(m->isVisible());
            box->setText(before);
        }
        click(m->cancelButton());
    });
    commands.showMailSettings(nullptr);
    EXPECT_TRUE(launcher.calls.empty());
    EXPECT_FALSE(test::exists(data(kTestMailSettingsFile)));
    EXPECT_EQ(test::readFile(data(kMailSettingsFile)), settingsBytes(stored));
}

TEST_F(SettingsCommandsTest, SendTestEmailWritesTheEditedValuesAndStartsTheMailerForATest)
{
    const MailSettings stored = mailSettings("old.example.org", "old@example.org");
    test::writeFile(data(kMailSettingsFile), settingsBytes(stored));
    whenShown<MailDialog>([this](MailDialog* m) {
        // The server and TO checks apply; the Send When boxes are not needed.
        click(m->sendOnChangeBox());
        m->serverBox()->clear();
        MessageBox::setNextAnswer(QMessageBox::Ok);
        click(m->testButton());
        EXPECT_TRUE(launcher.calls.empty());
        type(m->serverBox(), "smtps://new.example.org");
        type(m->toBox(), "new@example.org");
        click(m->requiresAuthBox());
        whenShown<CredentialsDialog>([](CredentialsDialog* c) {
            type(c->userNameBox(), "tester");
            type(c->passwordBox(), "pw");
            click(c->applyButton());
        });
        click(m->loginButton());
        click(m->testButton());
        EXPECT_TRUE(m->isVisible());
        click(m->cancelButton());
    });
    commands.showMailSettings(nullptr);

    EXPECT_THAT(asked(), ElementsAre(kEnterServerText));
    ASSERT_EQ(launcher.calls.size(), 1u);
    EXPECT_THAT(launcher.calls[0],
                ElementsAre(joinPath(installDir.path(), "Postavo"), "/test", "/from_sentorix"));
    const MailSettings test = readSettings(data(kTestMailSettingsFile));
    EXPECT_EQ(fieldText(test.smtpServer), "smtps://new.example.org");
    EXPECT_EQ(fieldText(test.toAddress), "new@example.org");
    EXPECT_EQ(test.requiresAuth, 1);
    EXPECT_EQ(fieldText(test.authUserName), "tester");
    EXPECT_EQ(fieldText(test.authPassword), "pw");
    EXPECT_EQ(test.sendOnChange, 1); // as it was: the Send When boxes are not read
    // Cancelled: the settings in force and their file are as they were.
    EXPECT_EQ(test::readFile(data(kMailSettingsFile)), settingsBytes(stored));
    EXPECT_EQ(settingsBytes(mail.get()), settingsBytes(stored));
}

TEST_F(SettingsCommandsTest, AMailerThatCannotStartIsReportedWithTheStopIcon)
{
    launcher.succeed = false;
    test::writeFile(data(kMailSettingsFile),
                    settingsBytes(mailSettings("smtp.example.org", "me@example.org")));
    whenShown<MailDialog>([](MailDialog* m) {
        MessageBox::setNextAnswer(QMessageBox::Ok);
        click(m->testButton());
        EXPECT_TRUE(m->isVisible());
        click(m->cancelButton());
    });
    commands.showMailSettings(nullptr);
    ASSERT_EQ(MessageBox::asked().size(), 1u);
    EXPECT_EQ(MessageBox::asked()[0].text,
              "Cannot execute the Postavo program. Sentorix is not installed properly.");
    EXPECT_EQ(MessageBox::asked()[0].icon, QMessageBox::Critical);
    // The settings file for the test stays for the next try.
    EXPECT_TRUE(test::exists(data(kTestMailSettingsFile)));
}

// --- the test mail, end to end -------------------------------------------------------------

// The built Postavo started by the dialog as the user would, without a display (so it runs
// headless and ends after its run), with a real SMTP server on 127.0.0.1.
class TestMailEndToEnd : public ::testing::Test
{
protected:
    TestMailEndToEnd() : dataFolder(home.path() + "/Tarnwick/Sentorix")
    {
        ::mkdir((home.path() + "/Tarnwick").c_str(), 0700);
        ::mkdir(dataFolder.c_str(), 0700);
        setenv("XDG_DATA_HOME", home.path().c_str(), 1);
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        setenv("no_proxy", "127.0.0.1,localhost", 1);
        MessageBox::clearAsked();
    }

    // Types `server` and a TO address (and a login when given), presses "Send Test Email"
    // and cancels; then waits (bounded) until the mailer has delivered and cleaned up. The
    // settings in force name another server, and a MessageLog waits: neither may be touched.
    void sendTestMail(const QString& server, const QString& user = {}, const QString& password = {})
    {
        MailSettings stored = mailSettings("127.0.0.1:1", "old@example.org");
        stored.markNotifiedChecked = 1;
        const std::string storedBytes = settingsBytes(stored);
        test::writeFile(joinPath(dataFolder, kMailSettingsFile), storedBytes);
        test::writeFile(joinPath(dataFolder, kMessageLogFile), "untouched\r\r\n");

        OptionsStore options;
        MailSettingsStore mail;
        PosixProgramLauncher launcher;
        const std::string postavo = POSTAVO_PATH;
        SettingsCommands commands(SettingsParts{dataFolder,
                                                postavo.substr(0, postavo.rfind('/')),
                                                options,
                                                mail,
                                                launcher,
                                                {},
                                                AutostartEntry(home.file("autostart"))});
        whenShown<MailDialog>([&](MailDialog* m) {
            type(m->serverBox(), server);
            type(m->toBox(), "bob@example.org");
            if (!user.isEmpty()) {
                click(m->requiresAuthBox());
                whenShown<CredentialsDialog>([&](CredentialsDialog* c) {
                    type(c->userNameBox(), user);
                    type(c->passwordBox(), password);
                    click(c->applyButton());
                });
                click(m->loginButton());
            }
            click(m->testButton());
            click(m->cancelButton());
        });
        commands.showMailSettings(nullptr);
        EXPECT_TRUE(MessageBox::asked().empty());

        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while ((test::receivedMessageCount(mailFolder.path()) < 1 ||
                test::exists(joinPath(dataFolder, kTestMailSettingsFile))) &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));

        ASSERT_EQ(test::receivedMessageCount(mailFolder.path()), 1);
        const test::ReceivedMessage m = test::readReceivedMessage(mailFolder.path(), 1);
        EXPECT_THAT(m.list("rcpt"), ElementsAre("bob@example.org"));
        EXPECT_EQ(m.field("body"), std::string(kTestMessageBody) + "\r\n");
        EXPECT_FALSE(test::exists(joinPath(dataFolder, kTestMailSettingsFile)));
        EXPECT_EQ(test::readFile(joinPath(dataFolder, kMailSettingsFile)), storedBytes);
        EXPECT_EQ(test::readFile(joinPath(dataFolder, kMessageLogFile)), "untouched\r\r\n");
    }

    test::TempDir home;
    test::TempDir mailFolder;
    std::string dataFolder;
};

TEST_F(TestMailEndToEnd, DeliversWithTheLoginTypedInTheDialogAndLeavesTheSettingsAsTheyWere)
{
    test::PeerProcess server("smtp_server.py", {"0", mailFolder.path(), "--auth", "ann", "s3cret"});
    ASSERT_TRUE(server.start());
    sendTestMail(QString::fromStdString("127.0.0.1:" + std::to_string(server.port())), "ann",
                 "s3cret");
}

TEST_F(TestMailEndToEnd, AnSmtpsAddressTypedInTheServerBoxSpeaksTlsFromTheFirstByte)
{
    test::TempDir certs;
    test::TestAuthority authority;
    std::string cert;
    std::string key;
    ASSERT_TRUE(authority.create(certs.path(), "ca"));
    ASSERT_TRUE(authority.issue("server", "IP:127.0.0.1", cert, key));
    setenv("SENTORIX_CA_BUNDLE", authority.caFile.c_str(), 1);
    test::PeerProcess server("smtp_server.py",
                             {"0", mailFolder.path(), "--implicit-tls", cert, key});
    ASSERT_TRUE(server.start());
    sendTestMail(QString::fromStdString("smtps://127.0.0.1:" + std::to_string(server.port())));
    unsetenv("SENTORIX_CA_BUNDLE");
}

} // namespace
} // namespace sentorix::ui

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // Also when CTest lists the tests, which it does without the test environment.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
