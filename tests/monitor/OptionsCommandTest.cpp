// "Options..." in the running window, from the File menu, the toolbar and the tray menu: the
// dialog opens over the options in force; Apply saves the options file, re-arms the periodic
// check and writes the login entry; Cancel changes nothing.
#include "monitor/Commands.h"
#include "monitor/MainFrame.h"
#include "monitor/SentorixApp.h"
#include "monitor/check/MonitorSession.h"
#include "monitor/data/Options.h"
#include "monitor/dialogs/ModalDialogs.h"
#include "monitor/dialogs/OptionsDialog.h"
#include "platform/Autostart.h"
#include "tests/monitor/DialogControls.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include <cstdlib>
#include <filesystem>
#include <memory>

namespace sentorix
{
namespace
{

using test::TempDir;

using test::click;

class OptionsCommand : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // The login entry goes to a folder of the test's own.
        const char* previous = std::getenv("XDG_CONFIG_HOME");
        m_previousConfig = previous ? previous : "";
        m_hadConfig = previous != nullptr;
        ::setenv("XDG_CONFIG_HOME", m_config.path().c_str(), 1);

        // Stored options without the periodic check, so Apply has something to arm.
        OptionsStore stored;
        OptionsRecord record = defaultOptions();
        record.periodicCheck = 0;
        record.startupCheck = 0;
        stored.set(record);
        saveOptions(stored, m_data.path());

        CSentorixApp::Settings settings;
        settings.instanceName =
            QStringLiteral("sentorix-optionstest-%1").arg(QCoreApplication::applicationPid());
        settings.dataFolder = m_data.path();
        settings.installFolder = m_data.path();
        settings.silent = true;
        m_app = std::make_unique<CSentorixApp>(settings);
        ASSERT_EQ(m_app->initInstance({}), CSentorixApp::Start::Running);
    }
    void TearDown() override
    {
        m_app.reset();
        ui::DialogRunner::clearHandlers();
        if (m_hadConfig)
            ::setenv("XDG_CONFIG_HOME", m_previousConfig.c_str(), 1);
        else
            ::unsetenv("XDG_CONFIG_HOME");
    }

    // The options file as the next start reads it.
    OptionsRecord storedOptions() const
    {
        OptionsStore store;
        loadOptions(store, m_data.path());
        return store.get();
    }
    bool loginEntryExists() const
    {
        return std::filesystem::exists(m_config.path() + "/autostart/" + kAutostartEntryName);
    }
    CheckEngine& engine() const { return m_app->session()->engine(); }

    TempDir m_data;
    TempDir m_config;
    std::string m_previousConfig;
    bool m_hadConfig = false;
    std::unique_ptr<CSentorixApp> m_app;
};

TEST_F(OptionsCommand, ApplyFromTheFileMenuSavesReArmsAndWritesTheLoginEntry)
{
    ASSERT_EQ(storedOptions().periodicCheck, 0);
    ASSERT_FALSE(engine().periodicTimerArmed());
    bool shown = false;
    ui::DialogRunner::setNextHandler([&](QDialog& dialog) {
        auto* options = qobject_cast<ui::OptionsDialog*>(&dialog);
        ASSERT_NE(options, nullptr) << "the Options dialog opens";
        shown = true;
        EXPECT_FALSE(options->periodicCheckBox()->isChecked()) << "the options in force";
        click(options->periodicCheckBox());
        click(options->startAtLoginBox());
        click(options->applyButton());
    });
    // File > Options... as the keyboard reaches it.
    QAction* action = m_app->mainFrame()->action(ui::kCmdOptions);
    ASSERT_NE(action, nullptr);
    ASSERT_TRUE(action->isEnabled());
    action->trigger();
    ASSERT_TRUE(shown);
    EXPECT_EQ(storedOptions().periodicCheck, 1);
    EXPECT_EQ(m_app->session()->options().get().periodicCheck, 1);
    EXPECT_TRUE(engine().periodicTimerArmed());
    EXPECT_TRUE(loginEntryExists());
}

TEST_F(OptionsCommand, CancelFromTheTrayMenuAndTheToolbarChangesNothing)
{
    const OptionsRecord before = storedOptions();
    int shown = 0;
    auto cancel = [&](QDialog& dialog) {
        auto* options = qobject_cast<ui::OptionsDialog*>(&dialog);
        ASSERT_NE(options, nullptr);
        ++shown;
        click(options->periodicCheckBox());
        click(options->startAtLoginBox());
        click(options->cancelButton());
    };
    ui::DialogRunner::setNextHandler(cancel);
    ui::DialogRunner::setNextHandler(cancel);

    QMenu* tray = m_app->mainFrame()->trayMenu();
    ASSERT_NE(tray, nullptr);
    QAction* trayOptions = nullptr;
    for (QAction* a : tray->actions())
        if (a->text() == "Options...")
            trayOptions = a;
    ASSERT_NE(trayOptions, nullptr);
    trayOptions->trigger();

    QToolButton* button = nullptr;
    for (QToolBar* bar : m_app->mainFrame()->findChildren<QToolBar*>())
        for (QToolButton* b : bar->findChildren<QToolButton*>())
            if (b->defaultAction() && b->defaultAction()->toolTip().startsWith("Options"))
                button = b;
    ASSERT_NE(button, nullptr) << "the toolbar's Options button";
    QTest::mouseClick(button, Qt::LeftButton);

    EXPECT_EQ(shown, 2);
    EXPECT_EQ(storedOptions().periodicCheck, before.periodicCheck);
    EXPECT_FALSE(engine().periodicTimerArmed());
    EXPECT_FALSE(loginEntryExists());
}

} // namespace
} // namespace sentorix
