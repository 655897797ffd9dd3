#include "monitor/data/MailSettingsStore.h"

#include "common/DataFolder.h"
#include "common/TextFile.h"

#include <cstring>

namespace sentorix
{

MailSettingsStore::MailSettingsStore() : m_settings{} {}

MailSettings MailSettingsStore::get() const
{
    std::lock_guard lock(m_mutex);
    return m_settings;
}

void MailSettingsStore::set(const MailSettings& settings)
{
    std::lock_guard lock(m_mutex);
    m_settings = settings;
}

void loadMailSettings(MailSettingsStore& store, const std::string& dataFolder)
{
    MailSettings settings{}; // a missing or short file leaves the rest zero
    readFilePrefix(joinPath(dataFolder, kMailSettingsFile), &settings, sizeof settings);
    terminateMailTexts(settings);
    store.set(settings);
}

void saveMailSettings(MailSettingsStore& store, const MailSettings& edited,
                      const std::string& dataFolder)
{
    MailSettings settings = edited;
    terminateMailTexts(settings);
    store.set(settings);
    // A failure is not reported: the new settings stay in force for this run.
    writeFileReplacing(joinPath(dataFolder, kMailSettingsFile), &settings, sizeof settings);
}

void writeTestMailSettings(const MailSettings& settings, const std::string& dataFolder)
{
    MailSettings copy = settings;
    terminateMailTexts(copy);
    writeFileReplacing(joinPath(dataFolder, kTestMailSettingsFile), &copy, sizeof copy);
}

} // namespace sentorix
