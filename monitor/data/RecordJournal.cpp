#include "monitor/data/RecordJournal.h"

#include "common/ByteReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string_view>

namespace sentorix
{
namespace
{

constexpr std::size_t kRecordSize = sizeof(DocumentRecord);
static_assert(kRecordSize <= UINT16_MAX, "offsets and lengths of a record fit 16 bits");

constexpr char kMagic[8] = {'S', 'N', 'T', 'X', 'R', 'J', '0', '1'};
constexpr char kEndMark[8] = {'S', 'N', 'T', 'X', 'R', 'J', '$', '$'};
constexpr std::size_t kHeaderSize = sizeof kMagic + 4;
constexpr std::size_t kTrailerSize = 8 + sizeof kEndMark;
// Equal bytes between two differences that are written with them rather than starting a
// range of their own (a range costs four bytes of journal and one write).
constexpr std::size_t kMergeGap = 16;
// No journal this program writes comes near this: a record's ranges hold at most its 4632
// bytes plus four bytes per range.
constexpr std::size_t kMaxJournalBytes = 64u << 20;
constexpr std::size_t kWriteBlock = 64 * 1024;

constexpr uint64_t kFnvBasis = 14695981039346656037ull;
constexpr uint64_t kFnvPrime = 1099511628211ull;

uint64_t fnv1a(uint64_t hash, const unsigned char* data, std::size_t size)
{
    for (std::size_t i = 0; i < size; ++i) {
        hash ^= data[i];
        hash *= kFnvPrime;
    }
    return hash;
}

bool writeAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Writes all `size` bytes at `offset`; false on any error, with `*written` (when given) the
// number of bytes that went in before it.
bool writeAllAt(int fd, const char* data, std::size_t size, off_t offset,
                std::size_t* written = nullptr)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(fd, data + done, size - done, offset + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    if (written)
        *written = done;
    return done == size;
}

// Appends to the journal through a buffer, keeping the checksum of what it wrote.
class JournalWriter
{
public:
    explicit JournalWriter(int fd) : m_fd(fd) { m_buffer.reserve(kWriteBlock); }

    void put(const void* data, std::size_t size)
    {
        const auto* bytes = static_cast<const unsigned char*>(data);
        m_hash = fnv1a(m_hash, bytes, size);
        m_buffer.append(reinterpret_cast<const char*>(bytes), size);
        if (m_buffer.size() >= kWriteBlock)
            flush();
    }
    void putU16(std::size_t value)
    {
        const unsigned char bytes[2] = {static_cast<unsigned char>(value),
                                        static_cast<unsigned char>(value >> 8)};
        put(bytes, sizeof bytes);
    }
    void putU32(std::size_t value)
    {
        unsigned char bytes[4];
        for (int i = 0; i < 4; ++i)
            bytes[i] = static_cast<unsigned char>(value >> (8 * i));
        put(bytes, sizeof bytes);
    }
    // The checksum of everything put so far, then the closing mark.
    void close()
    {
        const uint64_t hash = m_hash;
        unsigned char bytes[8];
        for (int i = 0; i < 8; ++i)
            bytes[i] = static_cast<unsigned char>(hash >> (8 * i));
        m_buffer.append(reinterpret_cast<const char*>(bytes), sizeof bytes);
        m_buffer.append(kEndMark, sizeof kEndMark);
    }
    bool flush()
    {
        if (m_ok && !writeAll(m_fd, m_buffer.data(), m_buffer.size()))
            m_ok = false;
        m_buffer.clear();
        return m_ok;
    }

private:
    int m_fd;
    std::string m_buffer;
    uint64_t m_hash = kFnvBasis;
    bool m_ok = true;
};

bool endsWith(std::string_view text, std::string_view end)
{
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

// The journal names only record files of the folder itself.
bool isRecordFileName(std::string_view name)
{
    return name.size() > std::strlen(".data") && name.size() <= NAME_MAX &&
           endsWith(name, ".data") && name.find('/') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

// A record file that may be changed in place: a regular file of exactly one record, with no
// other name (a second name would see the change too), not reached through a link.
int openRecordForWrite(int folderFd, const std::string& name)
{
    const int fd =
        ::openat(folderFd, name.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return -1;
    struct stat st {
    };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        st.st_size != static_cast<off_t>(kRecordSize) || st.st_nlink != 1) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Flushes the named files' data, for when the whole file system cannot be flushed at once.
bool syncEach(int folderFd, const std::vector<std::string>& names)
{
    bool ok = true;
    for (const std::string& name : names) {
        const int fd = ::openat(folderFd, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0 || ::fdatasync(fd) != 0)
            ok = false;
        if (fd >= 0)
            ::close(fd);
    }
    return ok;
}

struct ParsedRange {
    std::size_t offset;
    std::size_t length;
    const unsigned char* bytes; // in the journal read
};

struct ParsedEntry {
    std::string name;
    std::vector<ParsedRange> ranges;
};

// The entries of a complete, undamaged journal; false for anything else.
bool parseJournal(const std::vector<unsigned char>& file, std::vector<ParsedEntry>& entries)
{
    if (file.size() < kHeaderSize + kTrailerSize ||
        std::memcmp(file.data() + file.size() - sizeof kEndMark, kEndMark, sizeof kEndMark) != 0)
        return false;
    const std::size_t body = file.size() - kTrailerSize;
    uint64_t stored = 0;
    ByteReader trailer(file.data() + body, 8);
    if (!trailer.le(8, stored) || fnv1a(kFnvBasis, file.data(), body) != stored)
        return false;

    ByteReader in(file.data(), body);
    const unsigned char* magic = nullptr;
    uint64_t count = 0;
    if (!in.take(sizeof kMagic, magic) || std::memcmp(magic, kMagic, sizeof kMagic) != 0 ||
        !in.le(4, count))
        return false;
    for (uint64_t e = 0; e < count; ++e) {
        uint64_t nameLength = 0;
        uint64_t rangeCount = 0;
        std::string_view name;
        if (!in.le(2, nameLength) || !in.take(nameLength, name) || !in.le(2, rangeCount) ||
            rangeCount == 0)
            return false;
        ParsedEntry entry;
        entry.name.assign(name);
        if (!isRecordFileName(entry.name))
            return false;
        for (uint64_t r = 0; r < rangeCount; ++r) {
            uint64_t offset = 0;
            uint64_t length = 0;
            const unsigned char* data = nullptr;
            if (!in.le(2, offset) || !in.le(2, length) || length == 0 || offset >= kRecordSize ||
                length > kRecordSize - offset || !in.take(length, data))
                return false;
            entry.ranges.push_back({offset, length, data});
        }
        entries.push_back(std::move(entry));
    }
    return in.atEnd();
}

} // namespace

namespace
{

// The first offset at or after `from` where the two records differ, kRecordSize when none:
// eight bytes at a time, since at exit nearly every record is equal but for a few fields.
std::size_t firstDifference(const unsigned char* a, const unsigned char* b, std::size_t from)
{
    std::size_t i = from;
    for (; i + sizeof(uint64_t) <= kRecordSize; i += sizeof(uint64_t)) {
        uint64_t wa, wb;
        std::memcpy(&wa, a + i, sizeof wa);
        std::memcpy(&wb, b + i, sizeof wb);
        if (wa != wb)
            break;
    }
    while (i < kRecordSize && a[i] == b[i])
        ++i;
    return i;
}

} // namespace

RecordPatch diffRecords(std::string fileName, const DocumentRecord& before,
                        const DocumentRecord& after)
{
    RecordPatch patch;
    patch.fileName = std::move(fileName);
    const auto* b = reinterpret_cast<const unsigned char*>(&before);
    const auto* a = reinterpret_cast<const unsigned char*>(&after);
    std::size_t i = 0;
    while (i < kRecordSize) {
        i = firstDifference(a, b, i);
        if (i == kRecordSize)
            break;
        const std::size_t start = i;
        std::size_t end = i + 1; // one past the last differing byte so far
        std::size_t j = end;
        while (j < kRecordSize && j - end < kMergeGap) {
            if (a[j] != b[j])
                end = j + 1;
            ++j;
        }
        patch.ranges.push_back({static_cast<uint16_t>(start), static_cast<uint16_t>(end - start)});
        patch.newBytes.append(reinterpret_cast<const char*>(a + start), end - start);
        patch.oldBytes.append(reinterpret_cast<const char*>(b + start), end - start);
        i = end;
    }
    return patch;
}

bool writeRecordJournal(int folderFd, const std::vector<RecordPatch>& patches)
{
    if (patches.size() > UINT32_MAX)
        return false;
    const int fd = ::openat(folderFd, kRecordJournalFile,
                            O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    JournalWriter out(fd);
    out.put(kMagic, sizeof kMagic);
    out.putU32(patches.size());
    bool fits = true;
    for (const RecordPatch& patch : patches) {
        if (!isRecordFileName(patch.fileName) || patch.ranges.empty() ||
            patch.ranges.size() > UINT16_MAX) {
            fits = false;
            break;
        }
        out.putU16(patch.fileName.size());
        out.put(patch.fileName.data(), patch.fileName.size());
        out.putU16(patch.ranges.size());
        std::size_t at = 0;
        for (const RecordPatch::Range& range : patch.ranges) {
            out.putU16(range.offset);
            out.putU16(range.length);
            out.put(patch.newBytes.data() + at, range.length);
            at += range.length;
        }
    }
    out.close();
    bool ok = fits && out.flush() && ::fdatasync(fd) == 0;
    if (::close(fd) != 0)
        ok = false;
    // The journal's name must be on the disk too before any record is touched.
    ok = ok && ::fsync(folderFd) == 0;
    if (!ok)
        ::unlinkat(folderFd, kRecordJournalFile, 0);
    return ok;
}

PatchResult applyRecordPatch(int folderFd, const RecordPatch& patch)
{
    const int fd = openRecordForWrite(folderFd, patch.fileName);
    if (fd < 0)
        return PatchResult::NotWritten;
    std::size_t at = 0;
    std::size_t whole = 0;   // ranges written whole
    std::size_t partial = 0; // bytes of the next one written before a write failed
    bool ok = true;
    for (const RecordPatch::Range& range : patch.ranges) {
        if (!writeAllAt(fd, patch.newBytes.data() + at, range.length, range.offset, &partial)) {
            ok = false;
            break;
        }
        ++whole;
        at += range.length;
    }
    PatchResult result = PatchResult::Written;
    if (!ok) {
        // Back to the old record: every byte written gets its old value again.
        result = PatchResult::NotWritten;
        at = 0;
        for (std::size_t r = 0; r <= whole && r < patch.ranges.size(); ++r) {
            const RecordPatch::Range& range = patch.ranges[r];
            const std::size_t length = r < whole ? range.length : partial;
            if (!writeAllAt(fd, patch.oldBytes.data() + at, length, range.offset))
                result = PatchResult::Damaged;
            at += range.length;
        }
    }
    if (::close(fd) != 0 && result == PatchResult::Written)
        result = PatchResult::Damaged;
    return result;
}

bool flushRecordFiles(int folderFd, const std::vector<std::string>& names)
{
    if (names.empty())
        return true;
    return ::syncfs(folderFd) == 0 || syncEach(folderFd, names);
}

void removeRecordJournal(int folderFd)
{
    ::unlinkat(folderFd, kRecordJournalFile, 0);
    ::fsync(folderFd);
}

int finishRecordJournal(const std::string& dataFolder)
{
    const int folderFd = ::open(dataFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0)
        return 0;
    struct stat st {
    };
    if (::fstatat(folderFd, kRecordJournalFile, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !(S_ISREG(st.st_mode) || S_ISLNK(st.st_mode))) {
        ::close(folderFd);
        return 0;
    }
    // Read whole when it is a regular file of a size a journal can have; anything else (a link
    // put in its place, a damaged size) is removed unread.
    std::vector<unsigned char> file;
    if (S_ISREG(st.st_mode) && st.st_size > 0 &&
        static_cast<std::size_t>(st.st_size) <= kMaxJournalBytes) {
        const int fd =
            ::openat(folderFd, kRecordJournalFile, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd >= 0) {
            file.resize(static_cast<std::size_t>(st.st_size));
            std::size_t got = 0;
            while (got < file.size()) {
                const ssize_t n = ::read(fd, file.data() + got, file.size() - got);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0)
                    break;
                got += static_cast<std::size_t>(n);
            }
            file.resize(got);
            ::close(fd);
        }
    }

    std::vector<ParsedEntry> entries;
    if (parseJournal(file, entries)) {
        std::vector<std::string> written;
        for (const ParsedEntry& entry : entries) {
            const int fd = openRecordForWrite(folderFd, entry.name);
            if (fd < 0)
                continue;
            for (const ParsedRange& range : entry.ranges)
                writeAllAt(fd, reinterpret_cast<const char*>(range.bytes), range.length,
                           static_cast<off_t>(range.offset));
            ::close(fd);
            written.push_back(entry.name);
        }
        flushRecordFiles(folderFd, written);
    }
    removeRecordJournal(folderFd);
    ::close(folderFd);
    return 1;
}

} // namespace sentorix
