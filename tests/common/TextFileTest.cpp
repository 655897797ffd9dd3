// InputFile and OutputFile in both modes, and the whole-file helpers, on real files in a
// temporary folder.
#include "tests/support/TestSupport.h"

#include "common/TextFile.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

using namespace sentorix;
using namespace sentorix::test;

namespace
{

constexpr std::size_t kBlock = 64 * 1024; // InputFile's raw block size

std::string writeThrough(const std::string& path, FileMode mode, const std::string& text)
{
    OutputFile out;
    EXPECT_TRUE(out.open(path, mode));
    EXPECT_TRUE(out.write(text));
    EXPECT_TRUE(out.close());
    return readFile(path);
}

// Reads the whole file three ways (one large read, byte by byte, line by line) and checks
// they agree before returning the text.
std::string readThrough(const std::string& path, FileMode mode)
{
    std::string whole;
    {
        InputFile in;
        EXPECT_TRUE(in.open(path, mode));
        std::vector<char> buf(1 << 20);
        for (long n; (n = in.read(buf.data(), buf.size())) > 0;)
            whole.append(buf.data(), static_cast<std::size_t>(n));
        EXPECT_FALSE(in.failed());
    }
    std::string bytes;
    {
        InputFile in;
        EXPECT_TRUE(in.open(path, mode));
        for (int c; (c = in.getByte()) >= 0;)
            bytes.push_back(static_cast<char>(c));
    }
    std::string lines;
    {
        InputFile in;
        EXPECT_TRUE(in.open(path, mode));
        while (in.readLine(lines, 1000) > 0) {
        }
    }
    EXPECT_EQ(whole, bytes);
    EXPECT_EQ(whole, lines);
    return whole;
}

mode_t modeOf(const std::string& path)
{
    struct stat st {
    };
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

} // namespace

TEST(TextFile, WritingConvertsEveryLf)
{
    struct Case {
        std::string written;
        std::string textStored;
    } cases[] = {
        {"", ""},
        {"abc", "abc"},
        {"a\nb", "a\r\nb"},
        {"\n\n", "\r\n\r\n"},
        {"line\r\n", "line\r\r\n"}, // a page received with CR LF
        {"lone\rcr", "lone\rcr"},
        {std::string("nul\0\n", 5), std::string("nul\0\r\n", 6)},
    };
    TempDir dir;
    for (const auto& c : cases) {
        EXPECT_EQ(writeThrough(dir.file("t"), FileMode::Text, c.written), c.textStored)
            << c.written;
        EXPECT_EQ(writeThrough(dir.file("b"), FileMode::Binary, c.written), c.written);
    }
}

TEST(TextFile, ReadingTurnsCrLfIntoLfAndKeepsOtherCrs)
{
    struct Case {
        std::string stored;
        std::string textRead;
    } cases[] = {
        {"", ""},           {"a\r\nb", "a\nb"},     {"a\rb", "a\rb"},
        {"end\r", "end\r"}, {"\r", "\r"},           {"\r\r\n", "\r\n"},
        {"\r\r", "\r\r"},   {"\n\r\n\n", "\n\n\n"}, {"\r\n\r", "\n\r"},
    };
    TempDir dir;
    for (const auto& c : cases) {
        writeFile(dir.file("f"), c.stored);
        EXPECT_EQ(readThrough(dir.file("f"), FileMode::Text), c.textRead) << c.stored;
        EXPECT_EQ(readThrough(dir.file("f"), FileMode::Binary), c.stored);
    }
}

// A CR that is the last byte of one raw block must still pair with an LF that opens the next.
TEST(TextFile, CrAtTheBlockBoundary)
{
    struct Case {
        std::size_t crAt;
        std::string after;
    } cases[] = {
        {kBlock - 2, "\nz"}, {kBlock - 1, "\nz"},  {kBlock, "\nz"},        {kBlock - 1, "z"},
        {kBlock - 1, ""},    {kBlock - 1, "\r\n"}, {2 * kBlock - 1, "\n"}, {kBlock - 2, "\r\n"},
    };
    TempDir dir;
    for (const auto& c : cases) {
        std::string stored(c.crAt, 'x');
        stored += '\r';
        stored += c.after;
        writeFile(dir.file("f"), stored);

        std::string expected(c.crAt, 'x');
        std::string tail = "\r" + c.after;
        for (std::size_t p = 0; (p = tail.find("\r\n", p)) != std::string::npos; ++p)
            tail.replace(p, 2, "\n");
        expected += tail;
        EXPECT_EQ(readThrough(dir.file("f"), FileMode::Text), expected)
            << "CR at " << c.crAt << " followed by " << c.after.size() << " bytes";
    }
}

TEST(TextFile, TextRoundTripYieldsTheWrittenBytes)
{
    std::string text;
    unsigned seed = 7;
    for (int i = 0; i < 300000; ++i) {
        seed = seed * 1103515245u + 12345u;
        static const char alphabet[] = {'\r', '\n', 'a', '\0', '\xff', ' '};
        text.push_back(alphabet[(seed >> 16) % sizeof alphabet]);
    }
    TempDir dir;
    writeThrough(dir.file("f"), FileMode::Text, text);
    EXPECT_EQ(readThrough(dir.file("f"), FileMode::Text), text);
}

TEST(TextFile, ReadLineStopsAfterLfOrAtTheLimit)
{
    TempDir dir;
    writeFile(dir.file("f"), "one\r\ntwo-long\r\nlast");
    InputFile in;
    ASSERT_TRUE(in.open(dir.file("f"), FileMode::Text));
    struct Step {
        std::size_t max;
        std::string got;
    } steps[] = {{100, "one\n"}, {4, "two-"}, {100, "long\n"}, {100, "last"}, {100, ""}};
    for (const auto& s : steps) {
        std::string line = "prefix:";
        EXPECT_EQ(in.readLine(line, s.max), s.got.size());
        EXPECT_EQ(line, "prefix:" + s.got);
    }
}

TEST(TextFile, OpenFailuresAndClosedFiles)
{
    TempDir dir;
    InputFile in;
    EXPECT_FALSE(in.open(dir.file("missing"), FileMode::Binary));
    EXPECT_FALSE(in.open(dir.path(), FileMode::Binary)) << "a folder is not a file";
    char c;
    EXPECT_EQ(in.read(&c, 1), -1);
    EXPECT_EQ(in.getByte(), -1);

    OutputFile out;
    EXPECT_FALSE(out.open(dir.file("missing"), FileMode::Binary, OpenForWrite::Existing));
    EXPECT_FALSE(fileExists(dir.file("missing")));
    EXPECT_FALSE(out.open(dir.file("no/such/folder"), FileMode::Binary));
    EXPECT_FALSE(out.write("x"));
}

TEST(TextFile, OpenForWriteModes)
{
    struct Case {
        OpenForWrite how;
        bool existsBefore;
        bool opens;
        std::string after;
    } cases[] = {
        {OpenForWrite::Truncate, true, true, "new"},
        {OpenForWrite::Truncate, false, true, "new"},
        {OpenForWrite::Append, true, true, "old-contentnew"},
        {OpenForWrite::Append, false, true, "new"},
        {OpenForWrite::Existing, true, true, "new"},
        {OpenForWrite::Existing, false, false, ""},
    };
    TempDir dir;
    for (const auto& c : cases) {
        std::string path = dir.file("f");
        removeFile(path);
        if (c.existsBefore)
            writeFile(path, "old-content");
        OutputFile out;
        ASSERT_EQ(out.open(path, FileMode::Binary, c.how), c.opens);
        if (!c.opens) {
            EXPECT_FALSE(fileExists(path));
            continue;
        }
        EXPECT_TRUE(out.write("new"));
        EXPECT_TRUE(out.close());
        EXPECT_EQ(readFile(path), c.after);
    }
}

// Small writes are buffered and large ones bypass the buffer; the order must hold.
TEST(TextFile, MixedWriteSizesKeepTheirOrder)
{
    std::string expected;
    TempDir dir;
    OutputFile out;
    ASSERT_TRUE(out.open(dir.file("f"), FileMode::Binary));
    for (std::size_t size : {std::size_t{3}, 3 * kBlock, std::size_t{1}, kBlock - 1, kBlock + 7}) {
        std::string piece(size, static_cast<char>('a' + expected.size() % 26));
        expected += piece;
        ASSERT_TRUE(out.write(piece));
    }
    ASSERT_TRUE(out.close());
    EXPECT_EQ(readFile(dir.file("f")), expected);
}

TEST(TextFile, WriteFileReplacing)
{
    TempDir dir;
    std::string path = dir.file("doc.middle");

    ASSERT_TRUE(writeFileReplacing(path, "a\nb", 3, FileMode::Text));
    EXPECT_EQ(readFile(path), "a\r\nb");
    EXPECT_EQ(modeOf(path), 0644u);

    ::chmod(path.c_str(), 0600);
    ASSERT_TRUE(writeFileReplacing(path, "xy", 2));
    EXPECT_EQ(readFile(path), "xy");
    EXPECT_EQ(modeOf(path), 0600u) << "the target's permissions are kept";

    ASSERT_TRUE(writeFileReplacing(path, "", 0));
    EXPECT_EQ(readFile(path), "");
    EXPECT_EQ(listFolder(dir.path()), std::vector<std::string>{"doc.middle"});
}

// The temporary sibling of a target whose name is as long as a name can be.
TEST(TextFile, WriteFileReplacingWithTheLongestName)
{
    TempDir dir;
    std::string path = dir.file(std::string(250, 'n') + ".data");
    writeFile(path, "old");
    ASSERT_TRUE(writeFileReplacing(path, "new", 3));
    ASSERT_TRUE(copyFileReplacing(path, path));
    EXPECT_EQ(readFile(path), "new");
    EXPECT_EQ(listFolder(dir.path()).size(), 1u);
}

// A folder the program cannot write to: the old file stays, nothing is left behind.
TEST(TextFile, WriteFileReplacingInAReadOnlyFolderKeepsTheOldFile)
{
    TempDir dir;
    std::string folder = dir.file("ro");
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    std::string path = folder + "/doc.content";
    writeFile(path, "old");
    ::chmod(path.c_str(), 0644);
    ::chmod(dir.path().c_str(), 0755);
    ::chmod(folder.c_str(), 0555);

    int rc = inChild([&] {
        // Root ignores permission bits; run as an unprivileged user.
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            return 2;
        bool replaced = writeFileReplacing(path, "new", 3);
        bool copied = copyFileReplacing(path, path);
        return replaced || copied ? 1 : 0;
    });
    ::chmod(folder.c_str(), 0755);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(readFile(path), "old");
    EXPECT_EQ(listFolder(folder), std::vector<std::string>{"doc.content"});
}

// A disk that fills up part-way through the write (simulated by a file size limit).
TEST(TextFile, FullDiskDuringReplacementKeepsTheOldFile)
{
    TempDir dir;
    std::string path = dir.file("doc.content");
    std::string old(100000, 'o');
    writeFile(path, old);
    std::string source = dir.file("big");
    writeFile(source, std::string(3 * kBlock, 'n'));

    int rc = inChild([&] {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{kBlock + 100, kBlock + 100};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
            return 2;
        std::string big(3 * kBlock, 'n');
        bool replaced = writeFileReplacing(path, big.data(), big.size());
        bool copied = copyFileReplacing(source, path);
        return replaced || copied ? 1 : 0;
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(readFile(path), old);
    EXPECT_EQ(listFolder(dir.path()), (std::vector<std::string>{"big", "doc.content"}));
}

TEST(TextFile, CopyFileReplacing)
{
    TempDir dir;
    std::string from = dir.file("from");
    std::string to = dir.file("to.content");
    std::string content;
    for (int i = 0; i < 3 * 1024 * 1024 + 17; ++i)
        content.push_back(static_cast<char>(i * 31 % 251));
    writeFile(from, content);
    writeFile(to, "old");

    ASSERT_TRUE(copyFileReplacing(from, to));
    EXPECT_EQ(readFile(to), content);
    EXPECT_EQ(readFile(from), content);

    EXPECT_FALSE(copyFileReplacing(dir.file("missing"), to));
    EXPECT_FALSE(copyFileReplacing(dir.path(), to)) << "a folder is not copied";
    EXPECT_EQ(readFile(to), content);
    EXPECT_EQ(listFolder(dir.path()), (std::vector<std::string>{"from", "to.content"}));
}

TEST(TextFile, ReadFilePrefix)
{
    TempDir dir;
    writeFile(dir.file("f"), "abcdef");
    struct Case {
        std::string name;
        std::size_t size;
        long result;
        std::string got;
    } cases[] = {
        {"f", 3, 3, "abc"},
        {"f", 100, 6, "abcdef"},
        {"f", 0, 0, ""},
        {"missing", 10, -1, ""},
    };
    for (const auto& c : cases) {
        char buffer[100] = {};
        EXPECT_EQ(readFilePrefix(dir.file(c.name), buffer, c.size), c.result) << c.name;
        EXPECT_EQ(std::string(buffer), c.got);
    }
}

TEST(TextFile, FileExistsAndRemoveFile)
{
    TempDir dir;
    std::string path = dir.file("f");
    EXPECT_FALSE(fileExists(path));
    writeFile(path, "");
    EXPECT_TRUE(fileExists(path));
    EXPECT_FALSE(fileExists(dir.path()));
    removeFile(path);
    EXPECT_FALSE(fileExists(path));
    removeFile(path); // a missing file is fine
}

// Nothing but a regular file is read: a FIFO without a writer would block the open (and a
// worker with it) forever, and a device is not a document. Each is refused at once.
TEST(TextFile, OnlyRegularFilesAreRead)
{
    TempDir dir;
    const std::string fifo = dir.file("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string to = dir.file("to.content");
    writeFile(to, "kept");
    for (const std::string& path :
         {fifo, std::string("/dev/zero"), std::string("/dev/null"), dir.path()}) {
        InputFile text, binary;
        EXPECT_FALSE(text.open(path, FileMode::Text)) << path;
        EXPECT_FALSE(binary.open(path, FileMode::Binary)) << path;
        char buffer[8];
        EXPECT_EQ(readFilePrefix(path, buffer, sizeof buffer), -1) << path;
        EXPECT_FALSE(copyFileReplacing(path, to)) << path;
        EXPECT_EQ(readFile(to), "kept") << path;
    }
    EXPECT_EQ(listFolder(dir.path()), (std::vector<std::string>{"pipe", "to.content"}));

    // A regular file still reads as before, also blocking reads past what is buffered.
    writeFile(dir.file("f"), std::string(3 * kBlock, 'x'));
    InputFile in;
    ASSERT_TRUE(in.open(dir.file("f"), FileMode::Binary));
    std::string all(4 * kBlock, '\0');
    EXPECT_EQ(in.read(all.data(), all.size()), static_cast<long>(3 * kBlock));
}

// Going back to the start gives the same bytes again, also in text mode where a CR held at
// the end of a raw block must not leak into the second pass.
TEST(TextFile, Rewind)
{
    std::string stored(kBlock - 1, 'a');
    stored += "\r\nb\r";
    struct Case {
        FileMode mode;
        std::size_t firstRead;
    } cases[] = {
        {FileMode::Text, kBlock - 1}, {FileMode::Text, kBlock}, {FileMode::Text, 3},
        {FileMode::Binary, kBlock},   {FileMode::Binary, 0},
    };
    TempDir dir;
    writeFile(dir.file("f"), stored);
    for (const auto& c : cases) {
        const std::string whole = readThrough(dir.file("f"), c.mode);
        InputFile in;
        ASSERT_TRUE(in.open(dir.file("f"), c.mode));
        std::string scratch(c.firstRead, '\0');
        in.read(scratch.data(), scratch.size());
        ASSERT_TRUE(in.rewind());
        std::string again(whole.size() + 10, '\0');
        again.resize(static_cast<std::size_t>(in.read(again.data(), again.size())));
        EXPECT_EQ(again, whole) << c.firstRead;
    }
    InputFile closed;
    EXPECT_FALSE(closed.rewind());
}
