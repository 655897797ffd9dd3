// The Options command and the e-mail settings command it leads to: the dialogs run over the
// options and mail settings in force, the options file, the timers that depend on the
// options, the test mail and the entry that starts the monitor at login.
#pragma once

#include "common/MailHandoff.h"
#include "platform/Autostart.h"

#include <functional>
#include <string>

class QWidget;

namespace sentorix
{
class OptionsStore;
class MailSettingsStore;
class ProgramLauncher;
} // namespace sentorix

namespace sentorix::ui
{

inline constexpr const char* kMonitorProgram = "Sentorix";
inline constexpr const char* kTestSwitch = "/test";

// What the commands work on; everything referred to outlives the commands.
struct SettingsParts {
    std::string dataFolder;
    std::string installFolder; // the mailer is started from here, the login entry names it
    OptionsStore& options;
    MailSettingsStore& mail;
    ProgramLauncher& launcher;
    // Re-arms or stops the timers that depend on the options in force (the periodic check and
    // the mail hand-off).
    std::function<void()> applyTimerOptions;
    AutostartEntry autostart;
};

class SettingsCommands
{
public:
    explicit SettingsCommands(SettingsParts parts);

    // "Options...": the dialog over `parent`; on Apply the options file is saved and the
    // timers re-armed.
    void showOptions(QWidget* parent);
    // The Options dialog alone; 1 applied (the options in force and the login entry changed),
    // 0 cancelled (nothing changed).
    int runOptionsDialog(QWidget* parent);

    // "Properties..": the settings in force are read again from "Sentorix.mail", edited in the
    // e-mail dialog and, on Apply, saved.
    void showMailSettings(QWidget* parent);

    // The test mail: the settings go to "Sentorix.mail.tmp" and the mailer is started for one
    // test run from the InstallFolder; false when it could not be started.
    bool startTestMail(const MailSettings& settings);

    // The monitor program the login entry starts: the InstallFolder's "Sentorix", as an
    // absolute path.
    std::string installedMonitor() const;

    const SettingsParts& parts() const { return m_parts; }

private:
    SettingsParts m_parts;
};

} // namespace sentorix::ui
