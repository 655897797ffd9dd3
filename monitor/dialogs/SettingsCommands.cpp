#include "monitor/dialogs/SettingsCommands.h"

#include "common/DataFolder.h"
#include "monitor/check/CheckEngine.h"
#include "monitor/data/MailSettingsStore.h"
#include "monitor/data/Options.h"
#include "monitor/dialogs/MailDialog.h"
#include "monitor/dialogs/ModalDialogs.h"
#include "monitor/dialogs/OptionsDialog.h"
#include "platform/ProgramLauncher.h"

#include <filesystem>
#include <system_error>

namespace sentorix::ui
{

SettingsCommands::SettingsCommands(SettingsParts parts) : m_parts(std::move(parts)) {}

void SettingsCommands::showOptions(QWidget* parent)
{
    if (runOptionsDialog(parent) == 0)
        return;
    saveOptions(m_parts.options, m_parts.dataFolder);
    if (m_parts.applyTimerOptions)
        m_parts.applyTimerOptions();
}

int SettingsCommands::runOptionsDialog(QWidget* parent)
{
    const bool startsAtLogin = m_parts.autostart.exists();
    OptionsDialog dialog(
        m_parts.options.get(), startsAtLogin, [this](QWidget* over) { showMailSettings(over); },
        parent);
    if (DialogRunner::exec(dialog) != QDialog::Accepted)
        return 0;
    m_parts.options.set(dialog.edited());
    // Like the options file, the login entry is changed silently: the box shows at the next
    // opening whether the entry is there.
    if (dialog.startAtLogin() && !startsAtLogin)
        m_parts.autostart.install(installedMonitor());
    else if (!dialog.startAtLogin() && startsAtLogin)
        m_parts.autostart.remove();
    return 1;
}

void SettingsCommands::showMailSettings(QWidget* parent)
{
    loadMailSettings(m_parts.mail, m_parts.dataFolder);
    MailDialog dialog(
        m_parts.mail.get(), [this](const MailSettings& edited) { return startTestMail(edited); },
        parent);
    if (DialogRunner::exec(dialog) != QDialog::Accepted)
        return;
    saveMailSettings(m_parts.mail, dialog.edited(), m_parts.dataFolder);
}

bool SettingsCommands::startTestMail(const MailSettings& settings)
{
    writeTestMailSettings(settings, m_parts.dataFolder);
    return m_parts.launcher.launchDetached(joinPath(m_parts.installFolder, kMailerProgram),
                                           {kTestSwitch, kMailerSwitch});
}

std::string SettingsCommands::installedMonitor() const
{
    std::error_code error;
    std::filesystem::path folder = std::filesystem::absolute(m_parts.installFolder, error);
    if (error)
        folder = m_parts.installFolder;
    return (folder.lexically_normal() / kMonitorProgram).string();
}

} // namespace sentorix::ui
