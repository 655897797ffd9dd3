// The digests of stored contents: block digests however the bytes arrive, entries used only for
// the file version they were made for, and a file that is written back only when it changed
// and ignored whole when it is damaged.
#include "tests/support/TestSupport.h"

#include "monitor/data/ContentDigests.h"

#include <gtest/gtest.h>

#include <xxhash.h>

#include <cstring>
#include <string>

using namespace sentorix;
using namespace sentorix::test;

namespace
{

std::optional<std::vector<BlockDigest>> digestInPieces(const std::string& bytes, std::size_t piece)
{
    BlockDigester digester;
    for (std::size_t at = 0; at < bytes.size(); at += piece)
        digester.feed(bytes.data() + at, std::min(piece, bytes.size() - at));
    EXPECT_EQ(digester.length(), bytes.size());
    return digester.finish();
}

ContentDigest sampleDigest(uint64_t inode, std::size_t length)
{
    ContentDigest digest;
    digest.stamp = {7, inode, static_cast<int64_t>(length), 1000, 2000};
    digest.mode = FileMode::Text;
    digest.length = length;
    digest.blocks = digestInPieces(pattern(length, static_cast<unsigned>(inode)), 4096).value();
    return digest;
}

void putLe(std::string& bytes, std::size_t at, uint64_t value, int width)
{
    for (int i = 0; i < width; ++i)
        bytes[at + static_cast<std::size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

// The checksum put right again after a change to the body, so that the structure is what the
// reader refuses.
void resealed(std::string& bytes)
{
    const std::size_t body = bytes.size() - 16;
    putLe(bytes, body, XXH3_64bits(bytes.data(), body), 8);
}

} // namespace

TEST(ContentDigests, BlocksAreTheSameHoweverTheBytesArrive)
{
    const std::size_t block = kDigestBlock;
    for (const std::size_t length :
         {std::size_t{0}, std::size_t{1}, block - 1, block, block + 1, 3 * block + 77}) {
        SCOPED_TRACE(length);
        const std::string bytes = pattern(length, 9);
        const auto whole = digestInPieces(bytes, bytes.size() + 1);
        ASSERT_TRUE(whole.has_value());
        EXPECT_EQ(whole->size(), (length + block - 1) / block);
        for (const std::size_t piece : {std::size_t{1}, std::size_t{4093}, block, block + 35000})
            EXPECT_EQ(digestInPieces(bytes, piece), whole) << "pieces of " << piece;
    }
    std::string changed = pattern(2 * block, 9);
    const auto before = digestInPieces(changed, 5000).value();
    changed[block + 3] ^= 1;
    const auto after = digestInPieces(changed, 5000).value();
    EXPECT_EQ(before[0], after[0]);
    EXPECT_NE(before[1], after[1]);

    BlockDigester tooLong;
    const std::string oneBlock(block, 'a');
    for (std::size_t k = 0; k <= kMaxDigestBlocks; ++k)
        tooLong.feed(oneBlock.data(), oneBlock.size());
    EXPECT_FALSE(tooLong.finish().has_value()) << "more than the largest content with a digest";
}

TEST(ContentDigests, AnEntryServesOnlyTheFileVersionItWasMadeFor)
{
    TempDir dir;
    ContentDigests digests(dir.path());
    const ContentDigest digest = sampleDigest(42, 100000);
    digests.put("News", digest);
    ASSERT_TRUE(digests.find("News", digest.stamp, FileMode::Text).has_value());
    EXPECT_EQ(digests.find("News", digest.stamp, FileMode::Text)->blocks, digest.blocks);

    const struct {
        const char* what;
        void (*change)(FileStamp&);
    } others[] = {
        {"another inode", [](FileStamp& s) { s.inode += 1; }},
        {"another device", [](FileStamp& s) { s.device += 1; }},
        {"another size", [](FileStamp& s) { s.size += 1; }},
        {"written since", [](FileStamp& s) { s.modifiedNs += 1; }},
        {"changed since", [](FileStamp& s) { s.changedNs += 1; }},
    };
    for (const auto& other : others) {
        FileStamp stamp = digest.stamp;
        other.change(stamp);
        EXPECT_FALSE(digests.find("News", stamp, FileMode::Text).has_value()) << other.what;
    }
    EXPECT_FALSE(digests.find("News", digest.stamp, FileMode::Binary).has_value())
        << "read in the other mode";
    EXPECT_FALSE(digests.find("news", digest.stamp, FileMode::Text).has_value());
    digests.forget("News");
    EXPECT_FALSE(digests.find("News", digest.stamp, FileMode::Text).has_value());

    // An entry whose blocks do not fit its length is not kept.
    ContentDigest unfit = digest;
    unfit.blocks.pop_back();
    digests.put("News", unfit);
    EXPECT_FALSE(digests.find("News", digest.stamp, FileMode::Text).has_value());
}

TEST(ContentDigests, FileStampsTellVersionsApart)
{
    TempDir dir;
    const std::string path = dir.file("page.content");
    writeFile(path, "one");
    const auto first = fileStamp(path);
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->size, 3);
    EXPECT_EQ(fileStamp(path), first);
    // Replaced through a rename, as every ContentFile is.
    writeFile(dir.file("new"), "two");
    ASSERT_EQ(std::rename(dir.file("new").c_str(), path.c_str()), 0);
    EXPECT_NE(fileStamp(path), first);
    EXPECT_FALSE(fileStamp(dir.file("missing")).has_value());
    EXPECT_FALSE(fileStamp(dir.path()).has_value()) << "a folder";
}

TEST(ContentDigests, SavedWhenChangedWithTheKeptNamesOnly)
{
    TempDir dir;
    const std::string file = dir.file(kContentDigestsFile);
    const ContentDigest news = sampleDigest(1, 70000);
    const ContentDigest empty = sampleDigest(2, 0);
    {
        ContentDigests digests(dir.path());
        EXPECT_TRUE(digests.save({"News"}));
        EXPECT_FALSE(fileExists(file)) << "nothing looked up, nothing written";
        digests.put("News", news);
        digests.put("Empty", empty);
        digests.put("Gone", sampleDigest(3, 10));
        ASSERT_TRUE(digests.save({"News", "Empty"}));
    }
    ASSERT_TRUE(fileExists(file));
    {
        ContentDigests digests(dir.path());
        EXPECT_EQ(digests.find("News", news.stamp, FileMode::Text)->blocks, news.blocks);
        EXPECT_EQ(digests.find("Empty", empty.stamp, FileMode::Text)->length, 0u);
        EXPECT_FALSE(digests.find("Gone", {}, FileMode::Text).has_value());
        // Unchanged: the file is not written again.
        ::unlink(file.c_str());
        ASSERT_TRUE(digests.save({"News", "Empty"}));
        EXPECT_FALSE(fileExists(file));
    }
}

TEST(ContentDigests, DamagedOrHostileFilesAreIgnoredWhole)
{
    std::unordered_map<std::string, ContentDigest> entries;
    entries["News"] = sampleDigest(1, 70000);
    const std::string good = ContentDigests::encode(entries);
    ASSERT_EQ(ContentDigests::decode(good).size(), 1u);
    // The one entry's header starts after the file's 16; its name after its 56.
    const std::size_t entry = 16;
    const struct {
        const char* what;
        void (*spoil)(std::string&);
    } cases[] = {
        {"empty", [](std::string& b) { b.clear(); }},
        {"cut", [](std::string& b) { b.resize(b.size() - 1); }},
        {"a flipped byte", [](std::string& b) { b[40] ^= 1; }},
        {"no end mark", [](std::string& b) { b[b.size() - 1] = 'x'; }},
        {"another magic",
         [](std::string& b) {
             b[7] = '2';
             resealed(b);
         }},
        {"more entries than bytes",
         [](std::string& b) {
             putLe(b, 8, 0xFFFFFFFF, 4);
             resealed(b);
         }},
        {"fewer entries than there are",
         [](std::string& b) {
             putLe(b, 8, 0, 4);
             resealed(b);
         }},
        {"an empty name",
         [](std::string& b) {
             putLe(b, entry, 0, 2);
             resealed(b);
         }},
        {"a name past the end",
         [](std::string& b) {
             putLe(b, entry, 0xFFFF, 2);
             resealed(b);
         }},
        {"a NUL in the name",
         [](std::string& b) {
             b[entry + 56 + 1] = '\0';
             resealed(b);
         }},
        {"an unknown mode",
         [](std::string& b) {
             b[entry + 2] = 2;
             resealed(b);
         }},
        {"blocks that do not fit the length",
         [](std::string& b) {
             putLe(b, entry + 48, 10, 8);
             resealed(b);
         }},
        {"too many blocks",
         [](std::string& b) {
             putLe(b, entry + 4, kMaxDigestBlocks + 1, 4);
             putLe(b, entry + 48, (kMaxDigestBlocks + 1) * kDigestBlock, 8);
             resealed(b);
         }},
    };
    for (const auto& c : cases) {
        std::string bytes = good;
        c.spoil(bytes);
        EXPECT_TRUE(ContentDigests::decode(bytes).empty()) << c.what;
    }

    std::unordered_map<std::string, ContentDigest> two = entries;
    two["Other"] = sampleDigest(2, 5);
    EXPECT_EQ(ContentDigests::decode(ContentDigests::encode(two)).size(), 2u);

    // Read from the folder, a damaged file gives no entries and is replaced at the next save.
    TempDir dir;
    std::string damaged = good;
    damaged[30] ^= 1;
    writeFile(dir.file(kContentDigestsFile), damaged);
    ContentDigests digests(dir.path());
    EXPECT_FALSE(digests.find("News", entries["News"].stamp, FileMode::Text).has_value());
    digests.put("News", entries["News"]);
    ASSERT_TRUE(digests.save({"News"}));
    EXPECT_EQ(ContentDigests::decode(readFile(dir.file(kContentDigestsFile))).size(), 1u);
}
