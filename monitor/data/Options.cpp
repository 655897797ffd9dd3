#include "monitor/data/Options.h"

#include "common/DataFolder.h"
#include "common/TextFile.h"

namespace sentorix
{

OptionsRecord defaultOptions()
{
    OptionsRecord options{};
    options.periodicCheck = 1;
    options.checkIntervalMinutes = 10;
    options.startupCheck = 1;
    options.soundOnChange = 1;
    options.openChangedPage = 0;
    options.soundOnUnavailable = 1;
    options.markCheckedWhenOpened = 1;
    options.sendEmail = 0;
    options.selectOnChange = 1;
    options.selectOnUnavailable = 1;
    options.workerThreads = 2;
    return options;
}

OptionsStore::OptionsStore() : m_options(defaultOptions()) {}

OptionsRecord OptionsStore::get() const
{
    std::lock_guard lock(m_mutex);
    return m_options;
}

void OptionsStore::set(const OptionsRecord& options)
{
    std::lock_guard lock(m_mutex);
    m_options = options;
}

int OptionsStore::takeWorkerCount()
{
    std::lock_guard lock(m_mutex);
    if (m_options.workerThreads < 1 || m_options.workerThreads > 5)
        m_options.workerThreads = 1;
    return m_options.workerThreads;
}

void loadOptions(OptionsStore& store, const std::string& dataFolder)
{
    const std::string path = joinPath(dataFolder, kOptionsFile);
    store.set(defaultOptions());

    OptionsRecord read{}; // a short file leaves the fields it does not reach at 0
    const long got = readFilePrefix(path, &read, sizeof read);
    if (got >= 0) {
        store.set(read);
        return;
    }
    // Only a missing file is created with the defaults; one that exists but cannot be read
    // is left as it is, and the defaults stay in force.
    if (!fileExists(path))
        saveOptions(store, dataFolder);
}

void saveOptions(const OptionsStore& store, const std::string& dataFolder)
{
    const OptionsRecord options = store.get();
    writeFileReplacing(joinPath(dataFolder, kOptionsFile), &options, sizeof options);
}

} // namespace sentorix
