// The monitor's application-wide settings: eleven 32-bit integers, 44 bytes, stored whole in
// "Sentorix.option" in the DataFolder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

namespace sentorix
{

struct OptionsRecord {
    int32_t periodicCheck;
    int32_t checkIntervalMinutes;
    int32_t startupCheck;
    int32_t soundOnChange;
    int32_t openChangedPage;
    int32_t soundOnUnavailable;
    int32_t markCheckedWhenOpened;
    int32_t sendEmail;
    int32_t selectOnChange;
    int32_t selectOnUnavailable;
    int32_t workerThreads;
};

static_assert(sizeof(OptionsRecord) == 44);
static_assert(offsetof(OptionsRecord, periodicCheck) == 0);
static_assert(offsetof(OptionsRecord, checkIntervalMinutes) == 4);
static_assert(offsetof(OptionsRecord, startupCheck) == 8);
static_assert(offsetof(OptionsRecord, soundOnChange) == 12);
static_assert(offsetof(OptionsRecord, openChangedPage) == 16);
static_assert(offsetof(OptionsRecord, soundOnUnavailable) == 20);
static_assert(offsetof(OptionsRecord, markCheckedWhenOpened) == 24);
static_assert(offsetof(OptionsRecord, sendEmail) == 28);
static_assert(offsetof(OptionsRecord, selectOnChange) == 32);
static_assert(offsetof(OptionsRecord, selectOnUnavailable) == 36);
static_assert(offsetof(OptionsRecord, workerThreads) == 40);

inline constexpr const char* kOptionsFile = "Sentorix.option";

OptionsRecord defaultOptions();

// The options in force, read by workers and changed by the UI thread.
class OptionsStore
{
public:
    OptionsStore();
    OptionsRecord get() const;
    void set(const OptionsRecord& options);
    // The number of workers for a request: workerThreads, or 1 (also stored in the options in
    // force, not in the file) when it lies outside 1..5.
    int takeWorkerCount();

private:
    mutable std::mutex m_mutex;
    OptionsRecord m_options;
};

// Defaults, then the file's bytes over zeros (a short file leaves the rest 0); a missing file
// is created with the defaults.
void loadOptions(OptionsStore& store, const std::string& dataFolder);
// Writes the options in force whole; a failure is skipped silently.
void saveOptions(const OptionsStore& store, const std::string& dataFolder);

} // namespace sentorix
