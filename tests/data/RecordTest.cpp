// The document record's texts and stored credentials, and the table's slots and claims.
#include "DataTestHelpers.h"

#include "common/FixedText.h"
#include "monitor/data/DocumentRecord.h"
#include "monitor/data/DocumentTable.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace sentorix;
using namespace sentorix::test;

namespace
{

TEST(DocumentRecord, KindAndStatusTexts)
{
    const std::pair<int32_t, std::string_view> kinds[] = {
        {0, "Web Page"},   {1, "Web File"}, {2, "FTP File"},
        {3, "Local File"}, {4, "Unknown"},  {-1, "Unknown"},
    };
    for (const auto& [value, text] : kinds)
        EXPECT_EQ(kindText(value), text) << value;

    const std::pair<int32_t, std::string_view> statuses[] = {
        {0, "Checked"},
        {1, "Retrieving..."},
        {2, "** Changed"},
        {3, "** Unable to retrieve"},
        {4, "Waiting to retrieve..."},
        {5, "Ready"},
        {6, "Unknown"},
        {-7, "Unknown"},
    };
    for (const auto& [value, text] : statuses)
        EXPECT_EQ(statusText(value), text) << value;
}

// Every byte of a stored field that is not the count or one of the n characters is filler.
void expectFiller(const char (&field)[512], std::size_t n)
{
    for (std::size_t i = 1; i < sizeof field; ++i) {
        if ((i - 1) % 4 == 0 && (i - 1) / 4 < n)
            continue;
        const auto byte = static_cast<unsigned char>(field[i]);
        ASSERT_TRUE(byte >= 32 && byte <= 125) << "byte " << i << " is " << int(byte);
    }
}

TEST(Credentials, EmptyValueIsCountZeroAndFiller)
{
    DocumentRecord record = makeAccountRecord("Doc", "", "");
    scrambleCredentials(record);
    EXPECT_EQ(record.userName[0], 0);
    EXPECT_EQ(record.password[0], 0);
    expectFiller(record.userName, 0);
    expectFiller(record.password, 0);

    unscrambleCredentials(record);
    EXPECT_EQ(std::string(record.userName, sizeof record.userName), std::string(512, '\0'));
    EXPECT_EQ(std::string(record.password, sizeof record.password), std::string(512, '\0'));
}

TEST(Credentials, StoredFormReversesCharactersIntoEveryFourthByte)
{
    DocumentRecord record = makeAccountRecord("Doc", "abc", "p@ss:w/rd");
    scrambleCredentials(record);
    EXPECT_EQ(record.userName[0], 3);
    EXPECT_EQ(record.userName[1], 'c');
    EXPECT_EQ(record.userName[5], 'b');
    EXPECT_EQ(record.userName[9], 'a');
    expectFiller(record.userName, 3);
    EXPECT_EQ(record.password[0], 9);
    EXPECT_EQ(record.password[1], 'd');
    EXPECT_EQ(record.password[33], 'p');
    expectFiller(record.password, 9);

    unscrambleCredentials(record);
    EXPECT_EQ(fieldText(record.userName), "abc");
    EXPECT_EQ(fieldText(record.password), "p@ss:w/rd");
}

TEST(Credentials, LongestValueSurvivesWithItsFirstCharacterAtByte505)
{
    std::string user(127, 'u');
    user[0] = 'F';
    user[126] = 'L';
    DocumentRecord record = makeAccountRecord("Doc", user, user);
    ASSERT_TRUE(credentialsFit(record));
    scrambleCredentials(record);
    EXPECT_EQ(record.userName[0], 127);
    EXPECT_EQ(record.userName[1], 'L');
    EXPECT_EQ(record.userName[505], 'F');
    expectFiller(record.userName, 127);
    unscrambleCredentials(record);
    EXPECT_EQ(fieldText(record.userName), user);
    EXPECT_EQ(fieldText(record.password), user);
}

TEST(Credentials, LongerValueIsCutAtACharacterBoundaryInsideTheField)
{
    // 126 ASCII bytes then é: 128 bytes, and the cut must not split é.
    const std::string user = std::string(126, 'a') + "\xC3\xA9";
    const std::string password(300, 'p');
    DocumentRecord record = makeAccountRecord("Doc", user, password);
    EXPECT_FALSE(credentialsFit(record));
    const DocumentRecord before = record;

    scrambleCredentials(record);
    EXPECT_EQ(record.userName[0], 126);
    EXPECT_EQ(record.password[0], 127);
    // The neighbouring fields are untouched.
    EXPECT_EQ(fieldText(record.displayName), fieldText(before.displayName));
    EXPECT_EQ(std::string(record.lastCheck, 512), std::string(before.lastCheck, 512));

    unscrambleCredentials(record);
    EXPECT_EQ(fieldText(record.userName), std::string(126, 'a'));
    EXPECT_EQ(fieldText(record.password), std::string(127, 'p'));
}

TEST(Credentials, GarbageCountsNeverReadOutsideTheField)
{
    struct Case {
        unsigned char count;
        std::string expected;
    };
    // Field bytes 1 + 4j hold 'a' + j % 26 so that a result shows what was read.
    std::string all127;
    for (int j = 126; j >= 0; --j)
        all127 += static_cast<char>('a' + j % 26);
    const Case cases[] = {
        {0x00, ""},     {0x80, ""}, // -128
        {0xFF, ""},                 // -1
        {0x7F, all127}, {0x02, "ba"},
    };
    for (const Case& c : cases) {
        DocumentRecord record{};
        std::memset(record.userName, 'Z', sizeof record.userName);
        record.userName[0] = static_cast<char>(c.count);
        for (int j = 0; j < 127; ++j)
            record.userName[1 + 4 * j] = static_cast<char>('a' + j % 26);
        unscrambleCredentials(record);
        EXPECT_EQ(fieldText(record.userName), c.expected) << int(c.count);
        EXPECT_EQ(record.userName[511], '\0');
    }
}

TEST(Credentials, StoredNulEndsTheText)
{
    DocumentRecord record{};
    record.password[0] = 4;
    record.password[1] = 'd';
    record.password[5] = 'c';
    record.password[9] = '\0';
    record.password[13] = 'a';
    unscrambleCredentials(record);
    EXPECT_EQ(fieldText(record.password), "cd");
    EXPECT_EQ(std::string(record.password + 2, 510), std::string(510, '\0'));
}

TEST(DocumentTable, SlotsAreFreeUntilNamedAndTakenInIndexOrder)
{
    DocumentTable table(4);
    ASSERT_TRUE(table.allocated());
    EXPECT_EQ(table.capacity(), 4);
    EXPECT_EQ(table.findFreeSlot(), 0);

    table.put(0, makeRecord("A"));
    table.put(2, makeRecord("C", "http://c/", DocumentStatus::Changed));
    EXPECT_TRUE(table.isUsed(0));
    EXPECT_FALSE(table.isUsed(1));
    EXPECT_EQ(table.findFreeSlot(), 1);
    EXPECT_EQ(table.displayName(2), "C");
    EXPECT_EQ(table.status(2), DocumentStatus::Changed);
    EXPECT_EQ(recordBytes(table.get(2)),
              recordBytes(makeRecord("C", "http://c/", DocumentStatus::Changed)));

    table.put(1, makeRecord("B"));
    table.put(3, makeRecord("D"));
    EXPECT_EQ(table.findFreeSlot(), -1);
    table.clear(1);
    EXPECT_FALSE(table.isUsed(1));
    EXPECT_EQ(recordBytes(table.get(1)), recordBytes(DocumentRecord{}));
    EXPECT_EQ(table.findFreeSlot(), 1);

    table.setLastCheck(0, "2011/05/07 [09:03:00]");
    table.setLastCount(0, 42);
    EXPECT_EQ(fieldText(table.get(0).lastCheck), "2011/05/07 [09:03:00]");
    EXPECT_EQ(table.get(0).lastCount, 42);
}

// A slot keeps of each text only what its field holds, yet gives back the record byte for byte:
// a record that fills every byte, one whose texts hold bytes after their terminator and after
// runs of zeros (as a file may), and one of short texts. A later time of check shorter than
// the one it replaces leaves nothing of it behind.
TEST(DocumentTable, RecordsComeBackByteForByte)
{
    std::vector<DocumentRecord> records;
    {
        DocumentRecord full;
        auto* bytes = reinterpret_cast<unsigned char*>(&full);
        for (std::size_t i = 0; i < sizeof full; ++i)
            bytes[i] = static_cast<unsigned char>(1 + i % 251);
        records.push_back(full);
    }
    {
        DocumentRecord gaps = makeRecord("gaps", "http://g/", DocumentStatus::Unavailable);
        for (char* field : {gaps.location, gaps.displayName, gaps.userName, gaps.password,
                            gaps.lastCheck, gaps.countString, gaps.middleStart, gaps.middleEnd}) {
            field[20] = 'x';
            field[200] = 'y';
            field[511] = 'z';
        }
        gaps.middleStart[1023] = 'w';
        gaps.lastCount = -5;
        gaps.countMode = 1;
        gaps.middleMode = 1;
        gaps.useAccount = 1;
        records.push_back(gaps);
    }
    records.push_back(makeRecord("short"));

    DocumentTable table(static_cast<int>(records.size()));
    for (std::size_t i = 0; i < records.size(); ++i) {
        table.put(static_cast<int>(i), records[i]);
        EXPECT_EQ(recordBytes(table.get(static_cast<int>(i))), recordBytes(records[i])) << i;
    }

    table.setLastCheck(0, "2011/05/07 [09:03:00]");
    DocumentRecord expected = records[0];
    setFieldText(expected.lastCheck, "2011/05/07 [09:03:00]");
    EXPECT_EQ(recordBytes(table.get(0)), recordBytes(expected));
}

// Slots live in blocks allocated as records arrive: slots on both sides of a block's edge and
// the last slot of a table whose size is not a multiple of the block keep their own records,
// and the slots of a block never written read as free whatever is asked of them.
TEST(DocumentTable, SlotsOfEveryBlockHoldTheirOwnRecords)
{
    constexpr int kBlock = DocumentTable::kBlockSlots;
    DocumentTable table(3 * kBlock + 5);
    ASSERT_TRUE(table.allocated());
    const int last = table.capacity() - 1;
    for (int index : {kBlock - 1, kBlock, last})
        table.put(index, makeRecord("R" + std::to_string(index)));
    for (int index : {kBlock - 1, kBlock, last}) {
        EXPECT_TRUE(table.isUsed(index));
        EXPECT_EQ(table.displayName(index), "R" + std::to_string(index));
    }
    EXPECT_EQ(table.findFreeSlot(), 0);

    const int untouched = 2 * kBlock + 3; // in a block nothing was put into
    table.setStatus(untouched, DocumentStatus::Waiting);
    table.setLastCheck(untouched, "2011/05/07 [09:03:00]");
    table.clear(untouched);
    EXPECT_FALSE(table.claim(untouched));
    EXPECT_FALSE(table.isUsed(untouched));
    EXPECT_EQ(table.status(untouched), DocumentStatus::Checked);
    EXPECT_EQ(recordBytes(table.get(untouched)), recordBytes(DocumentRecord{}));

    table.setStatus(kBlock, DocumentStatus::Waiting);
    EXPECT_TRUE(table.claim(kBlock));
    EXPECT_EQ(table.status(kBlock), DocumentStatus::Retrieving);
    EXPECT_EQ(table.status(kBlock - 1), DocumentStatus::Checked);
}

TEST(DocumentTable, IndexesOutsideTheTableAreHarmless)
{
    DocumentTable table(2);
    for (int index : {-1, 2, 1000}) {
        table.put(index, makeRecord("X"));
        table.setStatus(index, DocumentStatus::Waiting);
        table.setLastCheck(index, "t");
        EXPECT_FALSE(table.isUsed(index));
        EXPECT_FALSE(table.claim(index));
        EXPECT_EQ(table.displayName(index), "");
        EXPECT_EQ(recordBytes(table.get(index)), recordBytes(DocumentRecord{}));
    }
    EXPECT_EQ(table.findFreeSlot(), 0);
}

TEST(DocumentTable, OnlyAWaitingDocumentCanBeClaimed)
{
    const std::pair<DocumentStatus, bool> cases[] = {
        {DocumentStatus::Checked, false}, {DocumentStatus::Retrieving, false},
        {DocumentStatus::Changed, false}, {DocumentStatus::Unavailable, false},
        {DocumentStatus::Waiting, true},  {DocumentStatus::Ready, false},
    };
    DocumentTable table(1);
    for (const auto& [status, claimable] : cases) {
        table.put(0, makeRecord("A", "http://a/", status));
        EXPECT_EQ(table.claim(0), claimable) << static_cast<int>(status);
        EXPECT_EQ(table.status(0), claimable ? DocumentStatus::Retrieving : status);
    }
}

TEST(DocumentTable, RacingWorkersClaimEachDocumentOnce)
{
    constexpr int kSlots = 500;
    constexpr int kWorkers = 6;
    DocumentTable table(kSlots);
    for (int i = 0; i < kSlots; ++i)
        table.put(i, makeRecord("D" + std::to_string(i), "http://a/", DocumentStatus::Waiting));

    std::vector<std::atomic<int>> claims(kSlots);
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w) {
        workers.emplace_back([&] {
            for (int i = 0; i < kSlots; ++i) {
                if (table.claim(i)) {
                    claims[static_cast<std::size_t>(i)].fetch_add(1);
                    const DocumentRecord copy = table.get(i); // reads beside the status writes
                    table.setLastCheck(i, copy.displayName);
                    table.setStatus(i, DocumentStatus::Checked);
                }
            }
        });
    }
    for (auto& worker : workers)
        worker.join();
    for (int i = 0; i < kSlots; ++i) {
        EXPECT_EQ(claims[static_cast<std::size_t>(i)].load(), 1) << i;
        EXPECT_EQ(table.status(i), DocumentStatus::Checked);
    }
}

} // namespace
