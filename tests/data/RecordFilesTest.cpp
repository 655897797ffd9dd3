// Records on disk: what saveRecord writes, which ".data" files loadAllRecords takes and how it
// treats files it cannot trust, the save at exit, and a save that fails half-way.
#include "DataTestHelpers.h"
#include "tests/support/TestSupport.h"

#include "common/FixedText.h"
#include "monitor/data/DocumentTable.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <functional>

using namespace sentorix;
using namespace sentorix::test;

namespace
{

std::string dataFile(const TempDir& dir, const std::string& name)
{
    return dir.file(name + ".data");
}

TEST(RecordFiles, SavedRecordIsTheWholeLayoutWithCredentialsScrambled)
{
    TempDir dir;
    DocumentTable table(4);
    const DocumentRecord plain = makeAccountRecord("Report", "alice", "s3cret");
    table.put(1, plain);
    saveRecord(table, 1, dir.path());

    const std::string bytes = readFile(dataFile(dir, "Report"));
    ASSERT_EQ(bytes.size(), sizeof(DocumentRecord));
    DocumentRecord onDisk;
    std::memcpy(&onDisk, bytes.data(), sizeof onDisk);
    EXPECT_EQ(fieldText(onDisk.displayName), "Report");
    EXPECT_EQ(onDisk.userName[0], 5);
    EXPECT_EQ(onDisk.userName[1], 'e');
    EXPECT_EQ(onDisk.password[0], 6);
    EXPECT_EQ(bytes.find("alice"), std::string::npos);
    EXPECT_EQ(bytes.find("s3cret"), std::string::npos);
    // Everything outside the credentials is stored as it lies in memory.
    EXPECT_EQ(bytes.substr(0, offsetof(DocumentRecord, userName)),
              recordBytes(plain).substr(0, offsetof(DocumentRecord, userName)));
    EXPECT_EQ(bytes.substr(offsetof(DocumentRecord, lastCheck)),
              recordBytes(plain).substr(offsetof(DocumentRecord, lastCheck)));
    // The slot itself kept its plain text.
    EXPECT_EQ(recordBytes(table.get(1)), recordBytes(plain));
}

TEST(RecordFiles, RecordWithoutAccountHasAllZeroCredentialFieldsOnDisk)
{
    TempDir dir;
    DocumentTable table(1);
    DocumentRecord record = makeRecord("Plain");
    // Left-overs of an account that was switched off must not reach the disk.
    setFieldText(record.userName, "old-user");
    setFieldText(record.password, "old-password");
    table.put(0, record);
    saveRecord(table, 0, dir.path());

    const std::string bytes = readFile(dataFile(dir, "Plain"));
    ASSERT_EQ(bytes.size(), sizeof(DocumentRecord));
    EXPECT_EQ(bytes.substr(offsetof(DocumentRecord, userName), 1024), std::string(1024, '\0'));
}

TEST(RecordFiles, SaveAndLoadRoundTripInFileSystemOrder)
{
    TempDir dir;
    DocumentTable saved(8);
    saved.put(0, makeAccountRecord("Ftp", std::string(127, 'u'), ""));
    saved.put(3, makeRecord("Web", "https://example.org/", DocumentStatus::Changed));
    saved.put(5, makeRecord("Gone", "http://gone/", DocumentStatus::Unavailable));
    for (int i = 0; i < saved.capacity(); ++i) {
        if (saved.isUsed(i))
            saveRecord(saved, i, dir.path());
    }

    DocumentTable loaded(8);
    DocumentList view(loaded);
    ASSERT_EQ(loadAllRecords(loaded, dir.path(), &view), 3);
    EXPECT_EQ(rowRecords(view), (std::vector<int>{0, 1, 2}));
    EXPECT_FALSE(loaded.isUsed(3));

    // Each loaded slot equals one saved record, statuses included.
    int matched = 0;
    for (int j = 0; j < 3; ++j) {
        for (int i : {0, 3, 5}) {
            if (loaded.displayName(j) == saved.displayName(i)) {
                EXPECT_EQ(recordBytes(loaded.get(j)), recordBytes(saved.get(i))) << i;
                ++matched;
            }
        }
    }
    EXPECT_EQ(matched, 3);
}

TEST(RecordFiles, OnlyRegularDataFilesOfAWholeRecordAreLoaded)
{
    TempDir dir;
    const std::string whole = recordBytes(makeRecord("Whole"));
    writeFile(dataFile(dir, "Whole"), whole);
    writeFile(dataFile(dir, "Short"), recordBytes(makeRecord("Short")).substr(0, 4631));
    writeFile(dataFile(dir, "Empty"), "");
    writeFile(dataFile(dir, "Long"), recordBytes(makeRecord("Long")) + std::string(900, 'x'));
    writeFile(dir.file("Other.dat"), recordBytes(makeRecord("Other")));
    writeFile(dir.file("Whole.data.bak"), recordBytes(makeRecord("Backup")));
    std::filesystem::create_directory(dir.file("Folder.data"));
    ASSERT_EQ(::mkfifo(dir.file("Pipe.data").c_str(), 0600), 0); // must not block the load

    DocumentTable table(16);
    DocumentList view(table);
    ASSERT_EQ(loadAllRecords(table, dir.path(), &view), 2);
    std::vector<std::string> names = {table.displayName(0), table.displayName(1)};
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Long", "Whole"}));
}

TEST(RecordFiles, UntrustedRecordsAreTerminatedOrSkipped)
{
    TempDir dir;
    // All bytes 0xFF: no terminator anywhere, negative credential counts, unknown kind.
    writeFile(dataFile(dir, "Garbage"), std::string(sizeof(DocumentRecord), '\xFF'));
    // Names that cannot be a file name of the folder, or that another record already has.
    writeFile(dataFile(dir, "NoName"), recordBytes(makeRecord("")));
    writeFile(dataFile(dir, "Escape"), recordBytes(makeRecord("../../outside")));
    writeFile(dataFile(dir, "First"), recordBytes(makeRecord("Twin")));
    writeFile(dataFile(dir, "Second"), recordBytes(makeRecord("TWIN")));

    DocumentTable table(16);
    ASSERT_EQ(loadAllRecords(table, dir.path(), nullptr), 2);
    int garbage = table.displayName(0).size() == 511 ? 0 : 1;
    const DocumentRecord record = table.get(garbage);
    EXPECT_EQ(fieldText(record.displayName), std::string(511, '\xFF'));
    EXPECT_EQ(fieldText(record.location).size(), 511u);
    EXPECT_EQ(fieldText(record.lastCheck).size(), 511u);
    EXPECT_EQ(fieldText(record.countString).size(), 511u);
    EXPECT_EQ(fieldText(record.middleStart).size(), 1023u);
    EXPECT_EQ(fieldText(record.middleEnd).size(), 511u);
    EXPECT_EQ(fieldText(record.userName), "");
    EXPECT_EQ(fieldText(record.password), "");
    EXPECT_EQ(kindText(record.kind), "Unknown");
    EXPECT_EQ(statusText(record.status), "Unknown");
    EXPECT_EQ(table.displayName(1 - garbage).size(), 4u); // one of the twins
}

TEST(RecordFiles, MoreFilesThanSlotsFillTheTableAndLeaveTheRest)
{
    TempDir dir;
    for (int i = 0; i < 5; ++i)
        writeFile(dataFile(dir, "D" + std::to_string(i)),
                  recordBytes(makeRecord("D" + std::to_string(i))));

    DocumentTable table(3);
    DocumentList view(table);
    EXPECT_EQ(loadAllRecords(table, dir.path(), &view), 3);
    EXPECT_EQ(rowRecords(view), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(table.findFreeSlot(), -1);
    EXPECT_EQ(listFolder(dir.path()).size(), 5u); // nothing removed
}

TEST(RecordFiles, EmptyOrMissingFolderGivesAnEmptyTable)
{
    TempDir dir;
    DocumentTable table(4);
    DocumentList view(table);
    EXPECT_EQ(loadAllRecords(table, dir.path(), &view), 0);
    EXPECT_EQ(loadAllRecords(table, dir.file("missing"), &view), 0);
    EXPECT_EQ(view.rowCount(), 0);
    EXPECT_EQ(table.findFreeSlot(), 0);
}

TEST(RecordFiles, ExitSaveWritesEveryUsedSlotWithRetrievingStoredAsWaiting)
{
    TempDir dir;
    DocumentTable table(6);
    table.put(0, makeRecord("Busy", "http://busy/", DocumentStatus::Retrieving));
    table.put(2, makeRecord("Changed", "http://c/", DocumentStatus::Changed));
    table.put(4, makeAccountRecord("Account", "bob", "pw"));
    const std::string longest(255 - 5, 'n'); // the longest name a file of the folder can have
    table.put(5, makeRecord(longest));
    saveAllRecordsOnExit(table, dir.path());

    EXPECT_EQ(
        listFolder(dir.path()),
        (std::vector<std::string>{"Account.data", "Busy.data", "Changed.data", longest + ".data"}));
    DocumentTable loaded(6);
    ASSERT_EQ(loadAllRecords(loaded, dir.path(), nullptr), 4);
    for (int j = 0; j < 4; ++j) {
        const DocumentRecord record = loaded.get(j);
        const std::string name(fieldText(record.displayName));
        if (name == "Busy") {
            EXPECT_EQ(record.status, static_cast<int32_t>(DocumentStatus::Waiting));
        } else if (name == "Changed") {
            EXPECT_EQ(record.status, static_cast<int32_t>(DocumentStatus::Changed));
        } else if (name != longest) {
            ASSERT_EQ(name, "Account");
            EXPECT_EQ(fieldText(record.userName), "bob");
            EXPECT_EQ(fieldText(record.password), "pw");
        }
    }
}

TEST(RecordFiles, FailedSaveLeavesTheOldFileWhole)
{
    using Save = std::function<void(DocumentTable&, const std::string&)>;
    const std::pair<const char*, Save> savers[] = {
        {"saveRecord", [](DocumentTable& t, const std::string& f) { saveRecord(t, 0, f); }},
        {"saveAllRecordsOnExit", saveAllRecordsOnExit},
    };
    for (const auto& [what, save] : savers) {
        TempDir dir;
        DocumentTable table(1);
        table.put(0, makeRecord("Doc", "http://old/"));
        save(table, dir.path());
        const std::string old = readFile(dataFile(dir, "Doc"));
        ASSERT_EQ(old, recordBytes(makeRecord("Doc", "http://old/"))) << what;

        // New bytes before and after the 1000 bytes the disk takes: a save that rewrites the
        // file must fail half-way, and one that changes it in place must undo its first write.
        DocumentRecord changed = makeRecord("Doc", "http://new/");
        setFieldText(changed.lastCheck, "2026/12/10 [11:00:00]");
        table.put(0, changed);
        ASSERT_EQ(runWithFileSizeLimit(1000,
                                       [&, &save = save] {
                                           save(table, dir.path());
                                           return true;
                                       }),
                  0)
            << what;
        EXPECT_EQ(readFile(dataFile(dir, "Doc")), old) << what;
        EXPECT_EQ(listFolder(dir.path()), std::vector<std::string>{"Doc.data"}) << what;

        save(table, dir.path());
        EXPECT_EQ(readFile(dataFile(dir, "Doc")), recordBytes(changed)) << what;
    }
}

} // namespace
