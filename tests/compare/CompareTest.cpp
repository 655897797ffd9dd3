// The comparison methods on real files in a temporary folder: whole files by blocks, a web
// body piece by piece, string counts and the text between two strings.
#include "tests/support/TestSupport.h"

#include "monitor/check/Compare.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

using namespace sentorix;
using namespace sentorix::test;

namespace
{

// A page as the web retrieval stores it: in text mode.
void storePage(const std::string& path, const std::string& body)
{
    OutputFile out;
    ASSERT_TRUE(out.open(path, FileMode::Text));
    ASSERT_TRUE(out.write(body));
    ASSERT_TRUE(out.close());
}

std::string bytes(std::initializer_list<int> values)
{
    std::string s;
    for (int v : values)
        s.push_back(static_cast<char>(v));
    return s;
}

const char* name(Sameness s)
{
    return s == Sameness::Same ? "same" : s == Sameness::Different ? "different" : "failed";
}

} // namespace

TEST(Compare, SelectMethod)
{
    struct Case {
        DocumentKind kind;
        int32_t countMode;
        int32_t middleMode;
        CompareMethod method;
    } cases[] = {
        {DocumentKind::WebPage, 0, 0, CompareMethod::Simple},
        {DocumentKind::WebPage, 1, 0, CompareMethod::Count},
        {DocumentKind::WebPage, 0, 1, CompareMethod::Middle},
        {DocumentKind::WebPage, 1, 1, CompareMethod::Count},
        {DocumentKind::WebPage, 2, 0, CompareMethod::Simple}, // flags are tested against 1
        {DocumentKind::WebFile, 1, 0, CompareMethod::Simple},
        {DocumentKind::FtpFile, 0, 1, CompareMethod::Simple},
        {DocumentKind::LocalFile, 1, 1, CompareMethod::Simple},
    };
    for (const auto& c : cases) {
        DocumentRecord record{};
        record.kind = static_cast<int32_t>(c.kind);
        record.countMode = c.countMode;
        record.middleMode = c.middleMode;
        EXPECT_EQ(selectMethod(record), c.method)
            << "kind " << record.kind << " count " << c.countMode << " middle " << c.middleMode;
    }
}

TEST(Compare, FileBlocksAreDrivenByTheNewFile)
{
    std::string long1 = pattern(5000, 1);
    std::string long2 = long1;
    long2[1500] ^= 1;
    struct Case {
        const char* what;
        std::string fresh;
        std::string content;
        Sameness result;
    } cases[] = {
        {"prefix of the content", "abc", "abcdef", Sameness::Same},
        {"empty new file", "", "anything", Sameness::Same},
        {"both empty", "", "", Sameness::Same},
        {"longer new file", "abcdef", "abc", Sameness::Different},
        {"equal over many blocks", long1, long1, Sameness::Same},
        {"difference in the third block", long2, long1, Sameness::Different},
        {"exactly one block", std::string(512, 'q'), std::string(512, 'q'), Sameness::Same},
        {"content one byte short", std::string(512, 'q'), std::string(511, 'q'),
         Sameness::Different},
        {"content ends at a block edge", std::string(1024, 'q'), std::string(512, 'q'),
         Sameness::Different},
        {"high bytes equal", bytes({0xC3, 0xA9, 0xFF}), bytes({0xC3, 0xA9, 0xFF}), Sameness::Same},
        {"high bytes differ", bytes({0x80}), bytes({0x7F}), Sameness::Different},
        {"CR LF kept in binary", "a\r\n", "a\n", Sameness::Different},
    };
    TempDir dir;
    for (const auto& c : cases) {
        writeFile(dir.file("new"), c.fresh);
        writeFile(dir.file("content"), c.content);
        InputFile fresh, content;
        ASSERT_TRUE(fresh.open(dir.file("new"), FileMode::Binary));
        ASSERT_TRUE(content.open(dir.file("content"), FileMode::Binary));
        Sameness got = compareFileBlocks(fresh, content);
        EXPECT_EQ(got, c.result) << c.what << ": got " << name(got);
    }
}

// Reading /proc/self/mem at offset 0 fails with EIO: a real read error.
TEST(Compare, FileBlocksReportAReadError)
{
    TempDir dir;
    writeFile(dir.file("f"), "abc");
    InputFile good, bad;
    ASSERT_TRUE(good.open(dir.file("f"), FileMode::Binary));
    ASSERT_TRUE(bad.open("/proc/self/mem", FileMode::Binary));
    EXPECT_EQ(compareFileBlocks(bad, good), Sameness::Failed);

    InputFile good2, bad2;
    ASSERT_TRUE(good2.open(dir.file("f"), FileMode::Binary));
    ASSERT_TRUE(bad2.open("/proc/self/mem", FileMode::Binary));
    EXPECT_EQ(compareFileBlocks(good2, bad2), Sameness::Failed);
}

namespace
{

// Pieces of any size up to 100 KiB, as a transfer delivers them.
const std::vector<std::size_t> kMixedPieces = {8192, 1, 4000, 102400, 7, 65536};

// Feeds `body` in pieces of the sizes given, taken in turn.
bool feedInPieces(StreamComparison& comparison, const std::string& body,
                  const std::vector<std::size_t>& pieceSizes = kMixedPieces)
{
    for (std::size_t at = 0, k = 0; at < body.size(); ++k) {
        std::size_t n = std::min(pieceSizes[k % pieceSizes.size()], body.size() - at);
        if (!comparison.feed(body.data() + at, n))
            return false;
        at += n;
    }
    return true;
}

// The bytes writing `body` in `mode` puts on disk.
std::string storedForm(const std::string& body, FileMode mode)
{
    if (mode == FileMode::Binary)
        return body;
    std::string out;
    for (char c : body) {
        if (c == '\n')
            out.push_back('\r');
        out.push_back(c);
    }
    return out;
}

// The digest a ContentFile gets: that of its content as read in `mode`.
ContentDigest digestOf(const std::string& path, FileMode mode)
{
    InputFile in;
    EXPECT_TRUE(in.open(path, mode));
    BlockDigester digester;
    char block[3000];
    for (long n; (n = in.read(block, sizeof block)) > 0;)
        digester.feed(block, static_cast<std::size_t>(n));
    ContentDigest digest;
    digest.mode = mode;
    digest.length = digester.length();
    digest.blocks = digester.finish().value();
    return digest;
}

std::vector<std::string> tmpFiles(const std::string& folder)
{
    std::vector<std::string> found;
    for (const std::string& name : listFolder(folder))
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0)
            found.push_back(name);
    return found;
}

} // namespace

TEST(Compare, StreamComparison)
{
    std::string longBody = pattern(40000, 2);
    std::string earlyChange = longBody;
    earlyChange[100] ^= 0x20;
    std::string longPage;
    for (int i = 0; i < 3000; ++i)
        longPage += "<p>line " + std::to_string(i) + "</p>\r\n";
    std::string lateChange = longPage;
    lateChange[lateChange.size() - 5] = '?';
    // Several 64 KiB blocks, compared by their digests when the ContentFile has one.
    const std::string blocks = pattern(3 * 65536 + 1000, 5);
    auto changedAt = [&blocks](std::size_t at) {
        std::string changed = blocks;
        changed[at] ^= 0x01;
        return changed;
    };
    std::string blocksPage;
    while (blocksPage.size() < 200000)
        blocksPage += "<li>entry " + std::to_string(blocksPage.size()) + "\n";
    std::string blocksPageChanged = blocksPage;
    blocksPageChanged[150000] = '#';
    struct Case {
        const char* what;
        std::string body;
        std::string stored; // the ContentFile as it lies on disk
        FileMode mode;
        bool different;
    } cases[] = {
        {"body shorter than the content", "abc", "abcdef", FileMode::Binary, true},
        {"body longer than the content", "abcdef", "abc", FileMode::Binary, true},
        {"equal", "abcdef", "abcdef", FileMode::Binary, false},
        {"empty body, content", "", "x", FileMode::Binary, true},
        {"both empty", "", "", FileMode::Binary, false},
        {"content, empty", "x", "", FileMode::Binary, true},
        {"long body equal", longBody, longBody, FileMode::Binary, false},
        {"change in the first 8192 bytes", earlyChange, longBody, FileMode::Binary, true},
        {"change in the last piece", longBody.substr(0, 39999) + "!", longBody, FileMode::Binary,
         true},
        {"long body, content cut short", longBody, longBody.substr(0, 30000), FileMode::Binary,
         true},
        {"CR LF page stored in text mode", "<p>\r\nline\r\n", "<p>\r\r\nline\r\r\n", FileMode::Text,
         false},
        {"CR LF page against a LF page", "<p>\r\n", "<p>\r\n", FileMode::Text, true},
        {"high bytes", bytes({0xE2, 0x82, 0xAC}), bytes({0xE2, 0x82, 0xAC}), FileMode::Text, false},
        {"long CR LF page equal", longPage, storedForm(longPage, FileMode::Text), FileMode::Text,
         false},
        {"long CR LF page changed at its end", lateChange, storedForm(longPage, FileMode::Text),
         FileMode::Text, true},
        {"long CR LF page grown", longPage + "\r\n", storedForm(longPage, FileMode::Text),
         FileMode::Text, true},
        {"long CR LF page shrunk", longPage, storedForm(longPage + "x\n", FileMode::Text),
         FileMode::Text, true},
        {"blocks equal", blocks, blocks, FileMode::Binary, false},
        {"blocks, change in the first", changedAt(0), blocks, FileMode::Binary, true},
        {"blocks, change in the third", changedAt(2 * 65536 + 17), blocks, FileMode::Binary, true},
        {"blocks, change in the last byte", changedAt(blocks.size() - 1), blocks, FileMode::Binary,
         true},
        {"blocks, one byte more", blocks + "!", blocks, FileMode::Binary, true},
        {"blocks, one byte less", blocks.substr(0, blocks.size() - 1), blocks, FileMode::Binary,
         true},
        {"blocks, cut at a block's end", blocks.substr(0, 2 * 65536), blocks, FileMode::Binary,
         true},
        {"blocks, grown by a block", blocks + blocks.substr(0, 65536), blocks, FileMode::Binary,
         true},
        {"two whole blocks equal", blocks.substr(0, 2 * 65536), blocks.substr(0, 2 * 65536),
         FileMode::Binary, false},
        {"a page of blocks equal", blocksPage, storedForm(blocksPage, FileMode::Text),
         FileMode::Text, false},
        {"a page of blocks changed in its third", blocksPageChanged,
         storedForm(blocksPage, FileMode::Text), FileMode::Text, true},
    };
    TempDir dir;
    const struct {
        const char* name;
        bool digested;
        bool byPath; // the ContentFile opened only if needed
    } ways[] = {{"by reading", false, false},
                {"by digest", true, false},
                {"by digest, the file opened on demand", true, true}};
    // Pieces that cut the digest's blocks anywhere, and whole blocks in one piece.
    const std::pair<const char*, std::vector<std::size_t>> piecings[] = {
        {"mixed pieces", kMixedPieces},
        {"a block per piece", {65536}},
        {"one piece", {std::size_t{1} << 30}},
    };
    for (const auto& way : ways) {
        for (const auto& [piecing, pieces] : piecings)
            for (const auto& c : cases) {
                SCOPED_TRACE(std::string(c.what) + ", " + way.name + ", " + piecing);
                writeFile(dir.file("content"), c.stored);
                ContentDigest digest = digestOf(dir.file("content"), c.mode);
                digest.stamp = fileStamp(dir.file("content")).value();
                InputFile content;
                ASSERT_TRUE(content.open(dir.file("content"), c.mode));
                {
                    std::optional<StreamComparison> compared;
                    if (way.byPath)
                        compared.emplace(dir.path(), c.mode, dir.file("content"), digest);
                    else
                        compared.emplace(dir.path(), c.mode, &content,
                                         way.digested ? &digest : nullptr);
                    StreamComparison& comparison = *compared;
                    ASSERT_TRUE(feedInPieces(comparison, c.body, pieces));
                    ASSERT_TRUE(comparison.finish());
                    EXPECT_EQ(comparison.different(), c.different);
                    if (c.different) {
                        // The TempFile of a changed body holds the whole body, byte for byte as if
                        // every piece had been written as it came.
                        ASSERT_FALSE(comparison.tempPath().empty());
                        EXPECT_EQ(readFile(comparison.tempPath()), storedForm(c.body, c.mode));
                    } else {
                        EXPECT_TRUE(comparison.tempPath().empty());
                        EXPECT_EQ(tmpFiles(dir.path()), std::vector<std::string>{})
                            << "an unchanged body makes no TempFile";
                    }
                    // Whichever way it was compared, the body's digest is that of the content it
                    // becomes.
                    const std::optional<ContentDigest> bodyDigest = comparison.bodyDigest();
                    ASSERT_TRUE(bodyDigest.has_value());
                    writeFile(dir.file("body"), storedForm(c.body, c.mode));
                    const ContentDigest expected = digestOf(dir.file("body"), c.mode);
                    EXPECT_EQ(bodyDigest->length, expected.length);
                    EXPECT_EQ(bodyDigest->blocks, expected.blocks);
                }
                EXPECT_EQ(tmpFiles(dir.path()), std::vector<std::string>{})
                    << "the TempFile goes with the comparison";
            }
    }
}

// With a digest, an unchanged body is found unchanged without reading the ContentFile: here
// the file's bytes were overwritten after it was opened, and reading them would differ.
TEST(Compare, StreamComparisonByDigestDoesNotReadTheContent)
{
    TempDir dir;
    const std::string body = pattern(150000, 3);
    writeFile(dir.file("content"), body);
    const ContentDigest digest = digestOf(dir.file("content"), FileMode::Binary);
    InputFile content;
    ASSERT_TRUE(content.open(dir.file("content"), FileMode::Binary));
    {
        const int fd = ::open(dir.file("content").c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        const std::string garbage(body.size(), 'x');
        ASSERT_EQ(::pwrite(fd, garbage.data(), garbage.size(), 0),
                  static_cast<ssize_t>(garbage.size()));
        ::close(fd);
    }
    StreamComparison comparison(dir.path(), FileMode::Binary, &content, &digest);
    ASSERT_TRUE(feedInPieces(comparison, body));
    ASSERT_TRUE(comparison.finish());
    EXPECT_FALSE(comparison.different());
}

// Given by its path, the ContentFile is opened only for the equal blocks of a changed body, and
// only while it is still the file its digest was made for: a file put in its place since (even
// with the same bytes) is not taken for it, and the body is not stored.
TEST(Compare, StreamComparisonByPathOpensOnlyTheDigestedFile)
{
    TempDir dir;
    const std::string stored = pattern(3 * 65536, 5);
    std::string changed = stored;
    changed[2 * 65536 + 9] ^= 1; // the first two blocks equal
    const struct {
        const char* what;
        std::string body;
        bool replaced;
        bool stored;
        bool different;
    } cases[] = {
        {"unchanged, the file gone", stored, false, true, false},
        {"changed, the file in place", changed, false, true, true},
        {"changed, the file replaced", changed, true, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir.file("content");
        writeFile(path, stored);
        ContentDigest digest = digestOf(path, FileMode::Binary);
        digest.stamp = fileStamp(path).value();
        if (c.replaced) {
            writeFile(dir.file("other"), stored);
            ASSERT_EQ(std::rename(dir.file("other").c_str(), path.c_str()), 0);
        } else if (!c.different) {
            ASSERT_EQ(std::remove(path.c_str()), 0);
        }
        StreamComparison comparison(dir.path(), FileMode::Binary, path, digest);
        const bool fed = feedInPieces(comparison, c.body) && comparison.finish();
        EXPECT_EQ(fed, c.stored);
        EXPECT_EQ(comparison.storageFailed(), !c.stored);
        EXPECT_EQ(comparison.different(), c.different);
        if (c.stored && c.different) {
            EXPECT_EQ(readFile(comparison.tempPath()), c.body);
        }
    }
}

// Without a ContentFile the whole body is stored, and the TempFile can replace the ContentFile.
TEST(Compare, StreamComparisonWithoutContentStoresTheBody)
{
    struct Case {
        std::string body;
        FileMode mode;
    } cases[] = {
        {"", FileMode::Binary},
        {"", FileMode::Text},
        {pattern(20000, 4), FileMode::Binary},
        {"<p>\r\nline\n", FileMode::Text},
    };
    TempDir dir;
    for (const auto& c : cases) {
        StreamComparison comparison(dir.path(), c.mode, nullptr);
        ASSERT_TRUE(feedInPieces(comparison, c.body));
        ASSERT_TRUE(comparison.finish());
        EXPECT_TRUE(comparison.different());
        ASSERT_TRUE(comparison.moveTempOver(dir.file("doc.content")));
        EXPECT_EQ(readFile(dir.file("doc.content")), storedForm(c.body, c.mode));
        EXPECT_TRUE(comparison.tempPath().empty());
        EXPECT_FALSE(comparison.moveTempOver(dir.file("doc.content"))) << "moved only once";
        EXPECT_EQ(tmpFiles(dir.path()), std::vector<std::string>{});
    }
}

TEST(Compare, StreamComparisonReportsAMissingTempFile)
{
    TempDir dir;
    writeFile(dir.file("content"), "abc");
    const std::string noFolder = dir.file("no/folder");
    {
        // An unchanged body needs no TempFile, so a folder without room does not matter.
        InputFile content;
        ASSERT_TRUE(content.open(dir.file("content"), FileMode::Binary));
        StreamComparison comparison(noFolder, FileMode::Binary, &content);
        EXPECT_TRUE(comparison.feed("abc", 3));
        EXPECT_TRUE(comparison.finish());
        EXPECT_FALSE(comparison.different());
        EXPECT_FALSE(comparison.storageFailed());
    }
    for (const std::string& body : {std::string("abd"), std::string("ab"), std::string()}) {
        InputFile content;
        ASSERT_TRUE(content.open(dir.file("content"), FileMode::Binary));
        StreamComparison comparison(noFolder, FileMode::Binary, &content);
        const bool fed = comparison.feed(body.data(), body.size());
        EXPECT_FALSE(fed && comparison.finish()) << body;
        EXPECT_TRUE(comparison.tempMissing()) << body;
        EXPECT_TRUE(comparison.storageFailed()) << body;
        EXPECT_FALSE(comparison.feed("x", 1)) << body << ": stays stopped";
    }
}

// A disk that fills up while the TempFile is written (simulated by a file size limit): the
// comparison stops, reports it, and leaves no TempFile behind.
TEST(Compare, StreamComparisonReportsAFailedWrite)
{
    TempDir dir;
    const std::string stored = pattern(100000, 5);
    writeFile(dir.file("content"), stored);
    std::string body = stored;
    body[90000] ^= 1; // found different after 90000 equal bytes, copied from the ContentFile
    int rc = inChild([&] {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{50000, 50000};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
            return 9;
        InputFile content;
        if (!content.open(dir.file("content"), FileMode::Binary))
            return 8;
        StreamComparison comparison(dir.path(), FileMode::Binary, &content);
        const bool fed = feedInPieces(comparison, body);
        const bool finished = fed && comparison.finish();
        int result = 0;
        if (fed || finished)
            result |= 1;
        if (!comparison.storageFailed() || comparison.tempMissing())
            result |= 2;
        if (!comparison.different())
            result |= 4;
        return result;
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(tmpFiles(dir.path()), std::vector<std::string>{});
}

TEST(Compare, LoadTextFile)
{
    std::string large = pattern(3 * 1024 * 1024 + 5, 3);
    std::string largeText;
    for (std::size_t i = 0; i < large.size(); ++i)
        if (large[i] != '\0' && !(large[i] == '\r' && i + 1 < large.size() && large[i + 1] == '\n'))
            largeText.push_back(large[i]);
    struct Case {
        std::string stored;
        std::string text;
    } cases[] = {
        {"", ""},
        {std::string("a\0b\0\0c", 6), "abc"},
        {std::string("\0", 1), ""},
        {"one\r\ntwo\r", "one\ntwo\r"},
        {std::string("\r\0\n", 3), "\r\n"}, // the NUL goes after the line ends are read
        {large, largeText},
    };
    TempDir dir;
    for (const auto& c : cases) {
        writeFile(dir.file("page"), c.stored);
        std::optional<std::string> got = loadTextFile(dir.file("page"));
        ASSERT_TRUE(got.has_value());
        EXPECT_EQ(*got, c.text);
    }
    EXPECT_FALSE(loadTextFile(dir.file("missing")).has_value());
    EXPECT_FALSE(loadTextFile(dir.path()).has_value());
}

TEST(Compare, CountOccurrences)
{
    // A page larger than the loading block, with a match across the 1 MiB mark.
    std::string big(1024 * 1024 - 2, '-');
    big += "needle";
    big += std::string(1000, '-');
    big += "needle";

    struct Case {
        const char* what;
        std::string page; // as received; stored in text mode
        std::string needle;
        int64_t count;
    } cases[] = {
        {"overlapping", "aaaa", "aa", 3},
        {"absent", "bbbb", "aa", 0},
        {"empty page", "", "aa", 0},
        {"case-sensitive", "aAaA", "A", 2},
        {"empty needle: every position and the end", "abc", "", 4},
        {"empty needle, empty page", "", "", 1},
        {"empty needle counts characters", "\xC3\xA9t\xC3\xA9", "", 4},
        {"empty needle, stray continuation byte", "a\xA9", "", 3},
        {"line ends read back as received", "a\r\nb\r\n", "\r\n", 2},
        {"NULs dropped before counting", std::string("a\0a", 3), "aa", 1},
        {"whole characters", "caf\xC3\xA9 caf\xC3\xA9", "\xC3\xA9", 2},
        {"not inside a two-byte character", "\xC3\xA9\xC3\xA9", "\xA9", 0},
        {"not inside a three-byte character", "\xE2\x82\xAC\xE2\x82\xAC", "\x82\xAC\xE2", 0},
        {"not across two characters", "\xE6\x97\xA5\xE6\x9C\xAC", "\xA5\xE6", 0},
        {"not inside a four-byte character", "\xF0\x9F\x98\x80", "\x9F\x98", 0},
        {"a stray continuation byte is a character", "a\xA9", "\xA9", 1},
        {"a truncated sequence is not a character",
         "\xE2\x82"
         "A",
         "\x82", 1},
        {"an overlong form is not a character", "\xE0\x80\x80", "\x80", 2},
        {"overlapping after a multi-byte character", "\xC3\xA9\xC3\xA9\xC3\xA9", "\xC3\xA9\xC3\xA9",
         2},
        {"across the loading block", big, "needle", 2},
    };
    TempDir dir;
    for (const auto& c : cases) {
        storePage(dir.file("page"), c.page);
        EXPECT_EQ(countOccurrences(dir.file("page"), c.needle), c.count) << c.what;
    }
    EXPECT_EQ(countOccurrences(dir.file("missing"), "a"), -1);
}

// A count that falls from 2 to 0 is a change in the count method.
TEST(Compare, CountFallingToZero)
{
    TempDir dir;
    storePage(dir.file("first"), "<b>sale</b> <b>sale</b>");
    storePage(dir.file("second"), "<b>sold</b>");
    int64_t before = countOccurrences(dir.file("first"), "sale");
    int64_t after = countOccurrences(dir.file("second"), "sale");
    EXPECT_EQ(before, 2);
    EXPECT_EQ(after, 0);
    EXPECT_NE(before, after);
}

TEST(Compare, ExtractMiddle)
{
    struct Case {
        const char* what;
        std::string page;
        std::string start;
        std::string end;
        int result;
        std::optional<std::string> middleFile; // on disk; nullopt when none is written
    } cases[] = {
        {"between the strings", "head<b>price 10</b>tail", "<b>", "</b>", 1, "price 10"},
        {"first occurrences", "[a][b]", "[", "]", 1, "a"},
        {"line ends stored in text mode", "S one\r\ntwo\nE", "S", "E", 1, " one\r\r\ntwo\r\n"},
        {"NULs dropped", std::string("S a\0b E", 7), "S", "E", 1, " ab "},
        {"overlapping end gives an empty middle", "..xyz..", "xyz", "yz", 1, ""},
        {"end right after start", "ab", "a", "b", 1, ""},
        {"empty start string", "abc|", "", "|", 1, "abc"},
        {"start missing", "abc", "<b>", "c", 0, std::nullopt},
        {"end missing", "<b>abc", "<b>", "</b>", 0, std::nullopt},
        {"end only before start", "</b>x<b>y", "<b>", "</b>", 0, std::nullopt},
        {"empty end string at the end of the text", "a", "a", "", 1, ""},
        {"empty strings in an empty page", "", "", "", 0, std::nullopt},
    };
    TempDir dir;
    for (const auto& c : cases) {
        storePage(dir.file("page"), c.page);
        removeFile(dir.file("doc.middle"));
        EXPECT_EQ(extractMiddle(dir.file("page"), c.start, c.end, dir.file("doc.middle")), c.result)
            << c.what;
        EXPECT_EQ(fileExists(dir.file("doc.middle")), c.middleFile.has_value()) << c.what;
        if (c.middleFile) {
            EXPECT_EQ(readFile(dir.file("doc.middle")), *c.middleFile) << c.what;
        }
    }
    EXPECT_EQ(extractMiddle(dir.file("missing"), "a", "b", dir.file("doc.middle")), 0);
    storePage(dir.file("page"), "<a>b</a>");
    EXPECT_EQ(extractMiddle(dir.file("page"), "<a>", "</a>", dir.file("no/folder/doc.middle")), 1)
        << "a MiddleFile that cannot be created is not a failure";
}

TEST(Compare, CompareMiddle)
{
    struct Case {
        const char* what;
        std::string first; // page whose middle is stored
        std::string second;
        int result;
        std::string middleAfter; // as read back in text mode
        std::string start = "<m>";
        std::string end = "</m>";
    } cases[] = {
        {"same middle, other text changed", "x<m>keep</m>y", "zz<m>keep</m>zz", 0, "keep"},
        {"changed middle", "<m>old</m>", "<m>new</m>", 1, "new"},
        {"only NULs differ", std::string("<m>a\0b</m>", 11), "<m>ab</m>", 0, "ab"},
        {"only NULs differ, other way", "<m>ab</m>", std::string("<m>a\0\0b</m>", 12), 0, "ab"},
        {"xyz and yz never change", "1 xyz 1", "2 xyz 2", 0, "", "xyz", "yz"},
        {"high bytes unchanged", "<m>caf\xC3\xA9</m>", "<m>caf\xC3\xA9</m>", 0, "caf\xC3\xA9"},
        {"high bytes changed", "<m>\xC3\xA9</m>", "<m>\xC3\xA8</m>", 1, "\xC3\xA8"},
        {"high byte against ASCII", "<m>\x7F</m>", "<m>\x80</m>", 1, "\x80"},
        {"longer new middle", "<m>abc</m>", "<m>abcd</m>", 1, "abcd"},
        {"shorter new middle equal to the beginning", "<m>abcd</m>", "<m>ab</m>", 0, "abcd"},
        {"shorter new middle, different", "<m>abcd</m>", "<m>ax</m>", 1, "ax"},
        {"empty new middle", "<m>abcd</m>", "<m></m>", 0, "abcd"},
        {"CR LF line ends unchanged", "<m>a\r\nb</m>", "<m>a\r\nb</m>", 0, "a\r\nb"},
        {"CR LF against LF", "<m>a\r\nb</m>", "<m>a\nb</m>", 1, "a\nb"},
        {"long middle changed at the end", "<m>" + std::string(200000, 'k') + "</m>",
         "<m>" + std::string(199999, 'k') + "!</m>", 1, std::string(199999, 'k') + "!"},
        {"strings missing from the new page", "<m>a</m>", "<m>a", -1, "a"},
    };
    TempDir dir;
    const std::string middle = dir.file("doc.middle");
    for (const auto& c : cases) {
        storePage(dir.file("first"), c.first);
        storePage(dir.file("second"), c.second);
        ASSERT_EQ(extractMiddle(dir.file("first"), c.start, c.end, middle), 1) << c.what;
        EXPECT_EQ(compareMiddle(dir.file("second"), c.start, c.end, middle), c.result) << c.what;
        std::optional<std::string> after = loadTextFile(middle);
        ASSERT_TRUE(after.has_value());
        EXPECT_EQ(*after, c.middleAfter) << c.what;
    }

    storePage(dir.file("second"), "<m>a</m>");
    EXPECT_EQ(compareMiddle(dir.file("missing"), "<m>", "</m>", middle), -1);
    removeFile(middle);
    EXPECT_EQ(compareMiddle(dir.file("second"), "<m>", "</m>", middle), -1)
        << "no MiddleFile to compare with";
}

// A changed middle that cannot be written back is "cannot compare", and the stored one
// stays whole.
TEST(Compare, CompareMiddleRewriteFailure)
{
    TempDir dir;
    std::string folder = dir.file("data");
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    storePage(folder + "/first", "<m>" + std::string(100000, 'o') + "</m>");
    storePage(folder + "/second", "<m>new</m>");
    const std::string middle = folder + "/doc.middle";
    ASSERT_EQ(extractMiddle(folder + "/first", "<m>", "</m>", middle), 1);
    ::chmod(middle.c_str(), 0644);
    ::chmod((folder + "/second").c_str(), 0644);
    ::chmod(dir.path().c_str(), 0755);
    ::chmod(folder.c_str(), 0555);

    int rc = inChild([&] {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            return 99;
        return compareMiddle(folder + "/second", "<m>", "</m>", middle) + 10;
    });
    ::chmod(folder.c_str(), 0755);
    EXPECT_EQ(rc - 10, -1);
    EXPECT_EQ(loadTextFile(middle), std::string(100000, 'o'));
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// A page larger than the memory the process may have is unreadable for the count method; the
// check does not end the program. (The sanitizers reserve address space of their own, so the
// limit below cannot be set under them.)
TEST(Compare, PageLargerThanMemoryCountsAsUnreadable)
{
    TempDir dir;
    const std::string page = dir.file("huge.html");
    {
        int fd = ::open(page.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, 512LL << 20), 0); // 512 MiB of holes, read as zeros
        ::close(fd);
    }
    const int rc = inChild([&] {
        rlimit limit{256LL << 20, 256LL << 20};
        if (setrlimit(RLIMIT_AS, &limit) != 0)
            return 99;
        return countOccurrences(page, "x") == -1 ? 0 : 1;
    });
    EXPECT_EQ(rc, 0);
}
#endif
