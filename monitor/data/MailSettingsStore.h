// The monitor's side of the mail settings: the settings in force, loading and saving
// "Sentorix.mail", and writing the settings of one test mail.
#pragma once

#include "common/MailHandoff.h"

#include <mutex>
#include <string>

namespace sentorix
{

class MailSettingsStore
{
public:
    MailSettingsStore();
    MailSettings get() const;
    void set(const MailSettings& settings);

private:
    mutable std::mutex m_mutex;
    MailSettings m_settings;
};

// Zeros, then up to 496 bytes of "Sentorix.mail"; a missing or short file leaves zeros.
void loadMailSettings(MailSettingsStore& store, const std::string& dataFolder);
// The edited settings become the settings in force and are written whole.
void saveMailSettings(MailSettingsStore& store, const MailSettings& edited,
                      const std::string& dataFolder);
// Writes "Sentorix.mail.tmp" for one test mail; the settings in force are not touched.
void writeTestMailSettings(const MailSettings& settings, const std::string& dataFolder);

} // namespace sentorix
