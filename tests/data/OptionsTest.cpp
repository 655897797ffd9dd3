// The options in force and "Sentorix.option": defaults, short and long files, worker counts.
#include "DataTestHelpers.h"
#include "tests/support/TestSupport.h"

#include "monitor/data/Options.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace sentorix;
using namespace sentorix::test;

namespace
{

std::string optionBytes(const OptionsRecord& options)
{
    return std::string(reinterpret_cast<const char*>(&options), sizeof options);
}

std::string int32Bytes(std::initializer_list<int32_t> values)
{
    std::string bytes;
    for (int32_t v : values)
        bytes.append(reinterpret_cast<const char*>(&v), sizeof v);
    return bytes;
}

TEST(Options, MissingFileGivesDefaultsAndWritesThem)
{
    TempDir dir;
    OptionsStore store;
    loadOptions(store, dir.path());
    const OptionsRecord options = store.get();
    EXPECT_EQ(optionBytes(options), int32Bytes({1, 10, 1, 1, 0, 1, 1, 0, 1, 1, 2}));
    EXPECT_EQ(readFile(dir.file("Sentorix.option")), optionBytes(options));
}

TEST(Options, FileBytesOverZerosWhateverTheirLength)
{
    struct Case {
        const char* what;
        std::string file;
        std::string expected;
    };
    const std::string full = int32Bytes({0, 600, 0, 0, 1, 0, 0, 1, 0, 0, 5});
    const Case cases[] = {
        {"4 bytes holding 1", int32Bytes({1}), int32Bytes({1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})},
        {"empty", "", std::string(44, '\0')},
        {"6 bytes", int32Bytes({1, 0x00AB7777}).substr(0, 6),
         int32Bytes({1, 0x7777, 0, 0, 0, 0, 0, 0, 0, 0, 0})},
        {"whole", full, full},
        {"longer", full + "trailing bytes", full},
    };
    for (const Case& c : cases) {
        TempDir dir;
        writeFile(dir.file("Sentorix.option"), c.file);
        OptionsStore store;
        loadOptions(store, dir.path());
        EXPECT_EQ(optionBytes(store.get()), c.expected) << c.what;
        EXPECT_EQ(readFile(dir.file("Sentorix.option")), c.file) << c.what << ": file untouched";
    }
}

TEST(Options, WorkerCountOutsideOneToFiveBecomesOneInForceOnly)
{
    const std::pair<int32_t, int> cases[] = {{0, 1}, {9, 1}, {-3, 1}, {6, 1},
                                             {1, 1}, {3, 3}, {5, 5}};
    for (const auto& [stored, used] : cases) {
        TempDir dir;
        OptionsRecord options = defaultOptions();
        options.workerThreads = stored;
        writeFile(dir.file("Sentorix.option"), optionBytes(options));

        OptionsStore store;
        loadOptions(store, dir.path());
        EXPECT_EQ(store.takeWorkerCount(), used) << stored;
        EXPECT_EQ(store.get().workerThreads, used) << stored;
        EXPECT_EQ(readFile(dir.file("Sentorix.option")), optionBytes(options)) << stored;
    }
}

TEST(Options, SaveWritesTheRecordInForce)
{
    TempDir dir;
    OptionsStore store;
    OptionsRecord options = defaultOptions();
    options.sendEmail = 1;
    options.checkIntervalMinutes = 45;
    store.set(options);
    saveOptions(store, dir.path());
    EXPECT_EQ(readFile(dir.file("Sentorix.option")), optionBytes(options));

    OptionsStore reloaded;
    loadOptions(reloaded, dir.path());
    EXPECT_EQ(optionBytes(reloaded.get()), optionBytes(options));

    // A folder that cannot take the file: nothing reported, the options stay in force.
    saveOptions(store, dir.file("missing"));
    EXPECT_EQ(optionBytes(store.get()), optionBytes(options));
}

TEST(Options, FailedSaveLeavesTheOldFileWhole)
{
    TempDir dir;
    OptionsStore store;
    saveOptions(store, dir.path());
    const std::string old = readFile(dir.file("Sentorix.option"));

    OptionsRecord changed = defaultOptions();
    changed.workerThreads = 4;
    store.set(changed);
    ASSERT_EQ(runWithFileSizeLimit(20,
                                   [&] {
                                       saveOptions(store, dir.path());
                                       return true;
                                   }),
              0);
    EXPECT_EQ(readFile(dir.file("Sentorix.option")), old);
}

} // namespace
