// The save at exit changes record files in place through the record journal: what it writes
// and what it leaves alone, how the next start finishes a complete journal and throws away an
// incomplete, damaged or hostile one, and a save killed at random moments.
#include "DataTestHelpers.h"
#include "tests/support/TestSupport.h"

#include "common/FixedText.h"
#include "monitor/data/DocumentTable.h"
#include "monitor/data/Leftovers.h"
#include "monitor/data/RecordJournal.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <thread>

using namespace sentorix;
using namespace sentorix::test;

// A crash at a chosen write into a file: the program's positioned writes go through this
// definition, which passes them on to the system until the chosen one, writes half of that one
// and kills the process. Off (-1) unless a test turns it on in a child process.
namespace
{
long g_killAtWrite = -1;
long g_writes = 0;

ssize_t positionedWrite(int fd, const void* data, size_t size, off_t offset)
{
    if (g_killAtWrite >= 0 && ++g_writes == g_killAtWrite) {
        ::syscall(SYS_pwrite64, fd, data, size / 2, offset);
        ::kill(::getpid(), SIGKILL);
    }
    return static_cast<ssize_t>(::syscall(SYS_pwrite64, fd, data, size, offset));
}
} // namespace

// With 64-bit file offsets (as this project builds) pwrite is pwrite64.
static_assert(sizeof(off_t) == 8);
extern "C" ssize_t pwrite64(int fd, const void* data, size_t size, off_t offset)
{
    return positionedWrite(fd, data, size, offset);
}

namespace
{

constexpr std::size_t kRecordSize = sizeof(DocumentRecord);

std::string dataFile(const TempDir& dir, const std::string& name)
{
    return dir.file(name + ".data");
}

struct FileId {
    ino_t inode = 0;
    long long mtimeNs = 0;
};

FileId fileId(const std::string& path)
{
    struct stat st {
    };
    if (::lstat(path.c_str(), &st) != 0)
        return {};
    return {st.st_ino,
            static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec};
}

// Sets a file's modification time far back, so any later write shows.
void ageFile(const std::string& path)
{
    const timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
}

DocumentRecord stamped(DocumentRecord record, const std::string& when, DocumentStatus status)
{
    setFieldText(record.lastCheck, when);
    record.status = static_cast<int32_t>(status);
    return record;
}

class FolderFd
{
public:
    explicit FolderFd(const std::string& path)
        : m_fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
    }
    ~FolderFd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FolderFd(const FolderFd&) = delete;
    FolderFd& operator=(const FolderFd&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

// A journal laid out by hand (the layout of RecordJournal.h), for entries the program never
// writes itself.
struct HandRange {
    std::size_t offset;
    std::string bytes;
    std::size_t length = std::string::npos; // npos: bytes.size()
};
struct HandEntry {
    std::string name;
    std::vector<HandRange> ranges;
};

void putLe(std::string& out, uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>(value >> (8 * i)));
}

std::string handJournal(const std::vector<HandEntry>& entries)
{
    std::string out = "SNTXRJ01";
    putLe(out, entries.size(), 4);
    for (const HandEntry& entry : entries) {
        putLe(out, entry.name.size(), 2);
        out += entry.name;
        putLe(out, entry.ranges.size(), 2);
        for (const HandRange& range : entry.ranges) {
            putLe(out, range.offset, 2);
            putLe(out, range.length == std::string::npos ? range.bytes.size() : range.length, 2);
            out += range.bytes;
        }
    }
    uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : out) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    putLe(out, hash, 8);
    return out + "SNTXRJ$$";
}

TEST(ExitSave, WritesOnlyTheChangedBytesOfChangedRecordsInPlace)
{
    TempDir dir;
    DocumentTable table(4);
    table.put(0, makeRecord("Same", "http://same/"));
    table.put(1, makeRecord("Stamped", "http://stamped/"));
    table.put(2, makeAccountRecord("Account", "alice", "s3cret"));
    table.put(3, makeRecord("Busy", "http://busy/", DocumentStatus::Retrieving));
    saveAllRecordsOnExit(table, dir.path());
    const std::string accountBefore = readFile(dataFile(dir, "Account"));
    std::map<std::string, FileId> before;
    for (const char* name : {"Same", "Stamped", "Account", "Busy"}) {
        ageFile(dataFile(dir, name));
        before[name] = fileId(dataFile(dir, name));
    }

    // A check stamps three of them; "Same" and the stored form of "Busy" do not change.
    const std::string when = "2026/12/10 [11:47:58]";
    table.put(1, stamped(table.get(1), when, DocumentStatus::Changed));
    table.put(2, stamped(table.get(2), when, DocumentStatus::Checked));
    saveAllRecordsOnExit(table, dir.path());

    EXPECT_EQ(listFolder(dir.path()),
              (std::vector<std::string>{"Account.data", "Busy.data", "Same.data", "Stamped.data"}))
        << "no journal and no temporary file stays";
    for (const char* name : {"Same", "Busy"}) {
        EXPECT_EQ(fileId(dataFile(dir, name)).mtimeNs, before[name].mtimeNs)
            << name << " was written although it did not change";
    }
    for (const char* name : {"Stamped", "Account"}) {
        EXPECT_EQ(fileId(dataFile(dir, name)).inode, before[name].inode)
            << name << " was replaced instead of changed in place";
        EXPECT_NE(fileId(dataFile(dir, name)).mtimeNs, before[name].mtimeNs) << name;
    }
    EXPECT_EQ(readFile(dataFile(dir, "Stamped")), recordBytes(table.get(1)));
    // The account's scrambled form is kept: only the stamp and the status differ.
    const std::string account = readFile(dataFile(dir, "Account"));
    ASSERT_EQ(account.size(), kRecordSize);
    EXPECT_EQ(account.substr(0, offsetof(DocumentRecord, lastCheck)),
              accountBefore.substr(0, offsetof(DocumentRecord, lastCheck)));
    EXPECT_EQ(account.substr(offsetof(DocumentRecord, countMode)),
              accountBefore.substr(offsetof(DocumentRecord, countMode)));

    DocumentTable loaded(4);
    ASSERT_EQ(loadAllRecords(loaded, dir.path(), nullptr), 4);
    for (int j = 0; j < 4; ++j) {
        const std::string name = loaded.displayName(j);
        const DocumentRecord record = loaded.get(j);
        if (name == "Account") {
            EXPECT_EQ(fieldText(record.userName), "alice");
            EXPECT_EQ(fieldText(record.password), "s3cret");
            EXPECT_EQ(fieldText(record.lastCheck), when);
        } else if (name == "Busy") {
            EXPECT_EQ(record.status, static_cast<int32_t>(DocumentStatus::Waiting));
        }
    }
}

TEST(ExitSave, FilesThatCannotBeChangedInPlaceAreReplacedWhole)
{
    // Each file is replaced by a regular file of exactly the record; what lay behind a link or
    // a second name keeps its bytes.
    TempDir dir;
    const DocumentRecord old = makeRecord("Doc", "http://old/");
    DocumentTable table(1);
    const DocumentRecord fresh = makeRecord("Doc", "http://new/");
    struct Case {
        const char* what;
        std::function<void()> make;
        std::string untouchedPath;
    };
    const std::string other = dir.file("other.bin");
    const Case cases[] = {
        {"longer than a record",
         [&] { writeFile(dataFile(dir, "Doc"), recordBytes(old) + "tail"); },
         {}},
        {"a second name",
         [&] {
             writeFile(other, recordBytes(old));
             ASSERT_EQ(::link(other.c_str(), dataFile(dir, "Doc").c_str()), 0);
         },
         other},
        {"a link",
         [&] {
             writeFile(other, recordBytes(old));
             ASSERT_EQ(::symlink(other.c_str(), dataFile(dir, "Doc").c_str()), 0);
         },
         other},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(dataFile(dir, "Doc"));
        std::filesystem::remove(other);
        c.make();
        table.put(0, fresh);
        saveAllRecordsOnExit(table, dir.path());
        EXPECT_EQ(readFile(dataFile(dir, "Doc")), recordBytes(fresh));
        struct stat st {
        };
        ASSERT_EQ(::lstat(dataFile(dir, "Doc").c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(st.st_nlink, 1u);
        if (!c.untouchedPath.empty()) {
            EXPECT_EQ(readFile(c.untouchedPath), recordBytes(old));
        }
    }
}

// A record loaded from its file and saved unchanged leaves the file alone only while the file
// is still the one it was loaded from, holding the record's stored form; whatever happened to
// the file since, or a file that did not hold that form, gets the record written back.
TEST(ExitSave, ALoadedRecordIsSavedAgainstItsFileAsItIsNow)
{
    const DocumentRecord record = makeRecord("Doc", "http://doc/");
    const DocumentRecord other = makeRecord("Doc", "http://other/");
    DocumentRecord retrieving = record; // as no save stores it
    retrieving.status = static_cast<int32_t>(DocumentStatus::Retrieving);
    DocumentRecord waiting = record;
    waiting.status = static_cast<int32_t>(DocumentStatus::Waiting);
    const struct Case {
        const char* what;
        DocumentRecord onDisk;               // the file as loaded
        std::function<void(TempDir&)> after; // what happens to it before the save
        bool left;                           // the save leaves the file as it is
        DocumentRecord saved;                // the file after the save
    } cases[] = {
        {"untouched", record, [](TempDir&) {}, true, record},
        {"written in place by another program", record,
         [&](TempDir& dir) {
             writeFile(dataFile(dir, "Doc"), recordBytes(other));
             ageFile(dataFile(dir, "Doc")); // its time apart from the load's, as a later write's
         },
         false, record},
        {"replaced by another file", record,
         [&](TempDir& dir) {
             const std::string fresh = dir.file("fresh");
             writeFile(fresh, recordBytes(other));
             ASSERT_EQ(::rename(fresh.c_str(), dataFile(dir, "Doc").c_str()), 0);
         },
         false, record},
        {"removed", record, [](TempDir& dir) { std::filesystem::remove(dataFile(dir, "Doc")); },
         false, record},
        {"given a second name", record,
         [](TempDir& dir) {
             ASSERT_EQ(::link(dataFile(dir, "Doc").c_str(), dir.file("second").c_str()), 0);
         },
         false, record},
        {"not in its stored form", retrieving, [](TempDir&) {}, false, waiting},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        writeFile(dataFile(dir, "Doc"), recordBytes(c.onDisk));
        DocumentTable table(1);
        ASSERT_EQ(loadAllRecords(table, dir.path(), nullptr), 1);
        c.after(dir);
        const FileId before = fileId(dataFile(dir, "Doc"));
        saveAllRecordsOnExit(table, dir.path());
        EXPECT_EQ(readFile(dataFile(dir, "Doc")), recordBytes(c.saved));
        const FileId now = fileId(dataFile(dir, "Doc"));
        EXPECT_EQ(now.inode == before.inode && now.mtimeNs == before.mtimeNs, c.left);
        struct stat st {
        };
        ASSERT_EQ(::lstat(dataFile(dir, "Doc").c_str(), &st), 0);
        EXPECT_EQ(st.st_nlink, 1u);
    }
}

// The ranges cover exactly the changed bytes, wherever they lie against the eight-byte steps
// of the search, with a run of fewer than 16 equal bytes between two changes taken in.
TEST(RecordJournal, PatchRangesCoverExactlyTheChangedBytes)
{
    using Ranges = std::vector<std::pair<std::size_t, std::size_t>>;
    const struct {
        const char* name;
        std::vector<std::size_t> changed; // offsets whose byte is flipped
        Ranges expected;                  // offset and length of each range
    } cases[] = {
        {"none", {}, {}},
        {"the first byte", {0}, {{0, 1}}},
        {"the last byte", {kRecordSize - 1}, {{kRecordSize - 1, 1}}},
        {"the last byte of a step and the first of the next", {7, 8}, {{7, 2}}},
        {"a gap of 15 is taken in", {100, 116}, {{100, 17}}},
        {"a gap of 16 starts a new range", {100, 117}, {{100, 1}, {117, 1}}},
        {"three far apart", {3, 2000, kRecordSize - 2}, {{3, 1}, {2000, 1}, {kRecordSize - 2, 1}}},
    };
    const DocumentRecord before = makeRecord("Doc", "http://example.org/");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DocumentRecord after = before;
        auto* bytes = reinterpret_cast<unsigned char*>(&after);
        for (std::size_t at : c.changed)
            bytes[at] ^= 0x5A;
        const RecordPatch patch = diffRecords("Doc.data", before, after);
        Ranges got;
        for (const RecordPatch::Range& range : patch.ranges)
            got.emplace_back(range.offset, range.length);
        EXPECT_EQ(got, c.expected);
        std::string newBytes;
        for (const auto& [offset, length] : c.expected)
            newBytes.append(reinterpret_cast<const char*>(bytes) + offset, length);
        EXPECT_EQ(patch.newBytes, newBytes);
    }
}

TEST(RecordJournal, CompleteJournalIsFinishedAtTheNextStart)
{
    TempDir dir;
    const DocumentRecord oldA = makeRecord("A", "http://a/");
    const DocumentRecord oldB = makeRecord("B", "http://b/");
    const DocumentRecord newA =
        stamped(makeRecord("A", "http://a2/"), "2026/12/10 [12:00:00]", DocumentStatus::Changed);
    DocumentRecord newB = stamped(oldB, "2026/12/10 [12:00:01]", DocumentStatus::Checked);
    setFieldText(newB.middleEnd, "</table>");
    writeFile(dataFile(dir, "A"), recordBytes(oldA));
    writeFile(dataFile(dir, "B"), recordBytes(oldB));
    const std::vector<RecordPatch> patches = {diffRecords("A.data", oldA, newA),
                                              diffRecords("B.data", oldB, newB),
                                              diffRecords("Gone.data", oldB, newB)};
    ASSERT_GE(patches[1].ranges.size(), 2u) << "the stamp and the end string lie far apart";
    {
        FolderFd folder(dir.path());
        ASSERT_TRUE(writeRecordJournal(folder.get(), patches));
    }
    // The crash came while the bytes went in: A has none of them, B some and garbage in the
    // rest (a write torn anywhere).
    std::string tornB = recordBytes(newB);
    const RecordPatch::Range last = patches[1].ranges.back();
    std::fill_n(tornB.begin() + last.offset, last.length, '\xFF');
    writeFile(dataFile(dir, "B"), tornB);

    EXPECT_EQ(removeInterruptedWrites(dir.path()), 1);
    EXPECT_EQ(readFile(dataFile(dir, "A")), recordBytes(newA));
    EXPECT_EQ(readFile(dataFile(dir, "B")), recordBytes(newB));
    EXPECT_EQ(listFolder(dir.path()), (std::vector<std::string>{"A.data", "B.data"}))
        << "the journal is gone, and no file was made for a change of a missing one";
    EXPECT_EQ(removeInterruptedWrites(dir.path()), 0);
}

TEST(RecordJournal, CutOrDamagedJournalIsRemovedWithoutTouchingAnyRecord)
{
    TempDir dir;
    const DocumentRecord oldA = makeRecord("A", "http://a/");
    const DocumentRecord newA = stamped(oldA, "2026/12/10 [12:00:00]", DocumentStatus::Unavailable);
    writeFile(dataFile(dir, "A"), recordBytes(oldA));
    {
        FolderFd folder(dir.path());
        ASSERT_TRUE(writeRecordJournal(folder.get(), {diffRecords("A.data", oldA, newA)}));
    }
    const std::string journal = readFile(dir.file(kRecordJournalFile));
    ASSERT_GT(journal.size(), 28u);

    std::vector<std::pair<std::string, std::string>> broken;
    for (std::size_t cut = 0; cut < journal.size(); ++cut)
        broken.emplace_back("cut at " + std::to_string(cut), journal.substr(0, cut));
    for (std::size_t at = 0; at < journal.size(); ++at) {
        std::string flipped = journal;
        flipped[at] = static_cast<char>(flipped[at] ^ 0x10);
        broken.emplace_back("byte " + std::to_string(at) + " changed", flipped);
    }
    broken.emplace_back("zeros after it", journal + std::string(4096, '\0'));
    for (const auto& [what, bytes] : broken) {
        SCOPED_TRACE(what);
        writeFile(dir.file(kRecordJournalFile), bytes);
        EXPECT_EQ(removeInterruptedWrites(dir.path()), 1);
        EXPECT_EQ(readFile(dataFile(dir, "A")), recordBytes(oldA));
        EXPECT_EQ(listFolder(dir.path()), std::vector<std::string>{"A.data"});
    }
}

TEST(RecordJournal, HostileJournalWritesNothingOutsideTheRecords)
{
    TempDir home;
    const std::string data = home.file("data");
    std::filesystem::create_directories(data + "/sub");
    const std::string outside = home.file("outside.data");
    const std::string secret(kRecordSize, 's');
    writeFile(outside, secret);
    writeFile(data + "/sub/x.data", secret);
    writeFile(data + "/Short.data", "short");
    writeFile(data + "/notes.txt", secret);
    ASSERT_EQ(::symlink(outside.c_str(), (data + "/Link.data").c_str()), 0);
    const std::string record = recordBytes(makeRecord("Doc"));
    writeFile(data + "/Doc.data", record);

    // Journals the program never writes, each with a correct checksum: a name that leads out
    // of the folder or is no record's, a range past the record's end or empty, no ranges.
    const std::vector<std::pair<const char*, std::vector<HandEntry>>> refused = {
        {"parent folder", {{"../outside.data", {{0, "x"}}}}},
        {"sub folder", {{"sub/x.data", {{0, "x"}}}}},
        {"not a record", {{"notes.txt", {{0, "x"}}}}},
        {"bare extension", {{".data", {{0, "x"}}}}},
        {"empty name", {{"", {{0, "x"}}}}},
        {"past the end", {{"Doc.data", {{kRecordSize - 2, "xyz"}}}}},
        {"offset past the end", {{"Doc.data", {{kRecordSize, "x"}}}}},
        {"empty range", {{"Doc.data", {{4, ""}}}}},
        {"no ranges", {{"Doc.data", {}}}},
        {"length beyond the file", {{"Doc.data", {{4, "x", 4000}}}}},
    };
    for (const auto& [what, entries] : refused) {
        SCOPED_TRACE(what);
        // A good entry first: a journal with any bad entry is not used at all.
        std::vector<HandEntry> all = {{"Doc.data", {{4, "X"}}}};
        all.insert(all.end(), entries.begin(), entries.end());
        writeFile(data + "/" + kRecordJournalFile, handJournal(all));
        EXPECT_EQ(removeInterruptedWrites(data), 1);
        EXPECT_EQ(readFile(data + "/Doc.data"), record);
        EXPECT_FALSE(exists(data + "/" + kRecordJournalFile));
    }
    // Well-formed entries for files that may not be changed in place are skipped.
    writeFile(data + "/" + kRecordJournalFile, handJournal({{"Link.data", {{0, "x"}}},
                                                            {"Short.data", {{0, "x"}}},
                                                            {"Doc.data", {{4, "X"}}}}));
    EXPECT_EQ(removeInterruptedWrites(data), 1);
    std::string changed = record;
    changed[4] = 'X';
    EXPECT_EQ(readFile(data + "/Doc.data"), changed);
    EXPECT_EQ(readFile(outside), secret);
    EXPECT_EQ(readFile(data + "/sub/x.data"), secret);
    EXPECT_EQ(readFile(data + "/Short.data"), "short");
    EXPECT_EQ(readFile(data + "/notes.txt"), secret);
}

// Two versions of a few records that differ in three places far apart.
DocumentRecord versionOf(int i, int v)
{
    DocumentRecord record = makeRecord("Doc " + std::to_string(i),
                                       "http://v" + std::to_string(v) + "/" + std::to_string(i));
    setFieldText(record.lastCheck, "2026/12/10 [12:00:0" + std::to_string(v) + "]");
    setFieldText(record.middleEnd, std::string(300, static_cast<char>('a' + v)));
    record.lastCount = v;
    return record;
}

void saveVersion(const std::string& folder, int records, int v)
{
    DocumentTable table(records);
    for (int i = 0; i < records; ++i)
        table.put(i, versionOf(i, v));
    saveAllRecordsOnExit(table, folder);
}

TEST(RecordJournal, SaveCrashingInAnyWriteIntoARecordEndsWithEveryRecordNew)
{
    // Once the journal is complete, a crash in the middle of any write into a record (half of
    // its bytes in) is finished by the next start: every record is the new one.
    constexpr int kRecords = 4;
    TempDir dir;
    saveVersion(dir.path(), kRecords, 0);
    const int counted = inChild([&] {
        g_killAtWrite = 1000000; // counts them
        g_writes = 0;
        saveVersion(dir.path(), kRecords, 1);
        return static_cast<int>(g_writes);
    });
    ASSERT_GE(counted, 3 * kRecords) << "three places of each record change";
    for (int crashAt = 1; crashAt <= counted; ++crashAt) {
        SCOPED_TRACE("killed in write " + std::to_string(crashAt));
        saveVersion(dir.path(), kRecords, 0);
        const pid_t child = ::fork();
        if (child == 0) {
            g_killAtWrite = crashAt;
            saveVersion(dir.path(), kRecords, 1);
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
        EXPECT_EQ(removeInterruptedWrites(dir.path()), 1) << "the journal was left";
        for (int i = 0; i < kRecords; ++i) {
            EXPECT_EQ(readFile(dataFile(dir, "Doc " + std::to_string(i))),
                      recordBytes(versionOf(i, 1)))
                << i;
        }
    }
}

TEST(RecordJournal, SaveKilledAtRandomMomentsLeavesEveryRecordWholeOldOrNew)
{
    constexpr int kRecords = 200;
    constexpr int kRounds = 12;
    const auto version = versionOf;
    unsigned seed = static_cast<unsigned>(std::random_device{}());
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);

    TempDir dir;
    {
        DocumentTable table(kRecords);
        for (int i = 0; i < kRecords; ++i)
            table.put(i, version(i, 0));
        saveAllRecordsOnExit(table, dir.path());
    }
    const auto began = std::chrono::steady_clock::now();
    {
        DocumentTable table(kRecords);
        for (int i = 0; i < kRecords; ++i)
            table.put(i, version(i, 1));
        saveAllRecordsOnExit(table, dir.path());
    }
    const long long saveMicros =
        std::max<long long>(std::chrono::duration_cast<std::chrono::microseconds>(
                                std::chrono::steady_clock::now() - began)
                                .count(),
                            2000);

    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const pid_t child = ::fork();
        if (child == 0) {
            // Saves the two versions in turn until it is killed.
            for (int v = 0;; v = 1 - v) {
                DocumentTable table(kRecords);
                for (int i = 0; i < kRecords; ++i)
                    table.put(i, version(i, v));
                saveAllRecordsOnExit(table, dir.path());
            }
        }
        ASSERT_GT(child, 0);
        std::this_thread::sleep_for(std::chrono::microseconds(
            std::uniform_int_distribution<long long>(0, 3 * saveMicros)(random)));
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);

        removeInterruptedWrites(dir.path());
        EXPECT_EQ(listFolder(dir.path()).size(), static_cast<std::size_t>(kRecords));
        for (int i = 0; i < kRecords; ++i) {
            const std::string bytes = readFile(dataFile(dir, "Doc " + std::to_string(i)));
            if (bytes != recordBytes(version(i, 0)) && bytes != recordBytes(version(i, 1)))
                ADD_FAILURE() << "Doc " << i << " is neither version";
        }
    }
}

} // namespace
