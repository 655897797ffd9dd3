#include "monitor/data/DocumentTable.h"

#include "common/DataFolder.h"
#include "common/FixedText.h"
#include "common/TextFile.h"
#include "monitor/data/DocumentList.h"
#include "monitor/data/RecordJournal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <new>
#include <optional>
#include <string_view>
#include <type_traits>
#include <unordered_set>
#include <vector>

namespace sentorix
{

namespace
{

// A record read from a file may hold any bytes: every text field gets a terminator in its
// last byte, so the rest of the program can treat them as C strings.
void terminateTextFields(DocumentRecord& record)
{
    record.location[sizeof record.location - 1] = '\0';
    record.displayName[sizeof record.displayName - 1] = '\0';
    record.userName[sizeof record.userName - 1] = '\0';
    record.password[sizeof record.password - 1] = '\0';
    record.lastCheck[sizeof record.lastCheck - 1] = '\0';
    record.countString[sizeof record.countString - 1] = '\0';
    record.middleStart[sizeof record.middleStart - 1] = '\0';
    record.middleEnd[sizeof record.middleEnd - 1] = '\0';
}

// The form written to disk: credentials scrambled when an account is used and all zero when
// not (so no plain text ever reaches the disk), and Retrieving, which only means something
// while this process runs, stored as Waiting so the document is fetched again after a
// restart.
DocumentRecord storedForm(const DocumentRecord& record)
{
    DocumentRecord stored = record;
    if (stored.status == static_cast<int32_t>(DocumentStatus::Retrieving))
        stored.status = static_cast<int32_t>(DocumentStatus::Waiting);
    if (stored.useAccount == 1) {
        scrambleCredentials(stored);
    } else {
        std::memset(stored.userName, 0, sizeof stored.userName);
        std::memset(stored.password, 0, sizeof stored.password);
    }
    return stored;
}

// The stored form of `record` to write over the record file's `onDisk`: when the file holds the
// same credentials already, their scrambled bytes are kept, so a record whose account did not
// change differs from its file only where something else changed (scrambling draws new filler
// bytes each time).
DocumentRecord storedFormOver(const DocumentRecord& record, const DocumentRecord& onDisk)
{
    DocumentRecord stored = storedForm(record);
    if (record.useAccount != 1 || onDisk.useAccount != 1)
        return stored;
    DocumentRecord plain = onDisk;
    unscrambleCredentials(plain);
    if (std::memcmp(plain.userName, record.userName, sizeof plain.userName) == 0 &&
        std::memcmp(plain.password, record.password, sizeof plain.password) == 0) {
        std::memcpy(stored.userName, onDisk.userName, sizeof stored.userName);
        std::memcpy(stored.password, onDisk.password, sizeof stored.password);
    }
    return stored;
}

// The displayName becomes a file name in the DataFolder: it must not be empty (that marks a
// free slot) and must not lead out of the folder.
bool isUsableName(std::string_view name)
{
    return !name.empty() && name.find('/') == std::string_view::npos;
}

std::string foldCase(std::string_view name)
{
    std::string folded(name);
    for (char& c : folded) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return folded;
}

bool hasDataExtension(std::string_view name)
{
    const std::string_view extension = kDataExtension;
    return name.size() >= extension.size() &&
           name.substr(name.size() - extension.size()) == extension;
}

enum class RecordFileKind {
    Loadable,  // a regular file of at least a record's size: its first 4632 bytes are the record
    Patchable, // exactly one record in a regular file with one name, reached without a link
};

// Reads the first 4632 bytes of a regular file of the folder; false when it is not a file of
// the kind asked for or cannot be read.
bool readRecordFile(int folderFd, const char* name, DocumentRecord& record,
                    RecordFileKind kind = RecordFileKind::Loadable,
                    std::optional<FileStamp>* stamp = nullptr)
{
    // O_NONBLOCK keeps a FIFO named like a record file from blocking the load.
    const int flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK |
                      (kind == RecordFileKind::Patchable ? O_NOFOLLOW : 0);
    const int fd = ::openat(folderFd, name, flags);
    if (fd < 0)
        return false;
    struct stat st {
    };
    constexpr auto size = static_cast<off_t>(sizeof(DocumentRecord));
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
              (kind == RecordFileKind::Loadable ? st.st_size >= size
                                                : st.st_size == size && st.st_nlink == 1);
    auto* bytes = reinterpret_cast<unsigned char*>(&record);
    std::size_t got = 0;
    while (ok && got < sizeof(DocumentRecord)) {
        const ssize_t n = ::read(fd, bytes + got, sizeof(DocumentRecord) - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            ok = false;
        else
            got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    if (stamp)
        *stamp = ok ? fileStamp(st) : std::nullopt;
    return ok;
}

// True when a record file is still the one its record was loaded from and already holds the
// record's stored form: that form has the digest the file's bytes had, and the file has the
// stamp it had then, is one record long and has no other name (as a patch needs). A record
// with an account never matches: its stored form draws new filler bytes each time.
bool fileHoldsAlready(int folderFd, const std::string& fileName,
                      const DocumentTable::LoadedFile& loaded, const DocumentRecord& record)
{
    const DocumentRecord stored = storedForm(record);
    if (bytesDigest(&stored, sizeof stored) != loaded.digest)
        return false;
    struct stat st {
    };
    return ::fstatat(folderFd, fileName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
           st.st_nlink == 1 && st.st_size == static_cast<off_t>(sizeof(DocumentRecord)) &&
           fileStamp(st) == loaded.stamp;
}

bool writeAll(int fd, const void* data, std::size_t size)
{
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, bytes, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// A record written to a hidden file beside its ".data" file, waiting to be renamed over it.
// The hidden name does not end in ".data", so one left by a crash is never loaded.
struct PendingReplace {
    std::string temp;
    std::string target;
};

bool writeTemporarySibling(const std::string& target, const DocumentRecord& stored,
                           PendingReplace& out)
{
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    // Kept within NAME_MAX, so every target name that is valid has a sibling.
    std::string templ =
        folder + "/." + base.substr(0, NAME_MAX - std::strlen("..XXXXXX")) + ".XXXXXX";
    std::vector<char> name(templ.begin(), templ.end());
    name.push_back('\0');
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    // The permissions saveRecord gives: those of the file replaced, 0644 for a new one.
    mode_t mode = 0644;
    struct stat st {
    };
    if (::stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        mode = st.st_mode & 07777;
    bool ok = ::fchmod(fd, mode) == 0 && writeAll(fd, &stored, sizeof stored);
    if (::close(fd) != 0)
        ok = false;
    if (!ok) {
        ::unlink(name.data());
        return false;
    }
    out.temp = name.data();
    out.target = target;
    return true;
}

bool syncPath(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

} // namespace

// A record as the table keeps it. The status is apart, reached atomically; each text field is
// kept up to its last byte that is not zero, so bytes after a terminator (a file may hold any)
// are kept too and the record written back is the record read.
struct TableSlot {
    std::atomic<int32_t> status{0};
    int32_t kind = 0;
    int32_t useAccount = 0;
    int32_t countMode = 0;
    int32_t lastCount = 0;
    int32_t middleMode = 0;
    std::string texts[8];
    std::optional<DocumentTable::LoadedFile> loaded;
};

namespace
{

struct TextField {
    std::size_t offset;
    std::size_t size;
};

// The record's text fields, in the order of TableSlot::texts.
constexpr TextField kTextFields[] = {
    {offsetof(DocumentRecord, location), sizeof DocumentRecord::location},
    {offsetof(DocumentRecord, displayName), sizeof DocumentRecord::displayName},
    {offsetof(DocumentRecord, userName), sizeof DocumentRecord::userName},
    {offsetof(DocumentRecord, password), sizeof DocumentRecord::password},
    {offsetof(DocumentRecord, lastCheck), sizeof DocumentRecord::lastCheck},
    {offsetof(DocumentRecord, countString), sizeof DocumentRecord::countString},
    {offsetof(DocumentRecord, middleStart), sizeof DocumentRecord::middleStart},
    {offsetof(DocumentRecord, middleEnd), sizeof DocumentRecord::middleEnd},
};
static_assert(std::size(kTextFields) == std::extent_v<decltype(TableSlot::texts)>);
constexpr std::size_t textFieldBytes()
{
    std::size_t total = 0;
    for (const TextField& field : kTextFields)
        total += field.size;
    return total;
}
// The text fields and the six numbers of a TableSlot are the whole record: none is left out.
static_assert(textFieldBytes() + 6 * sizeof(int32_t) == sizeof(DocumentRecord));
constexpr std::size_t kDisplayNameText = 1;
constexpr std::size_t kLastCheckText = 4;

// The length of a field without its trailing zero bytes.
std::size_t heldLength(const char* field, std::size_t size)
{
    while (size >= sizeof(uint64_t)) {
        uint64_t word;
        std::memcpy(&word, field + size - sizeof word, sizeof word);
        if (word != 0)
            break;
        size -= sizeof word;
    }
    while (size > 0 && field[size - 1] == '\0')
        --size;
    return size;
}

void keepField(std::string& text, const char* field, std::size_t size)
{
    text.assign(field, heldLength(field, size));
}

// Every field but the status, which the callers move atomically.
void storeInSlot(TableSlot& slot, const DocumentRecord& record)
{
    slot.kind = record.kind;
    slot.useAccount = record.useAccount;
    slot.countMode = record.countMode;
    slot.lastCount = record.lastCount;
    slot.middleMode = record.middleMode;
    const auto* bytes = reinterpret_cast<const char*>(&record);
    for (std::size_t f = 0; f < std::size(kTextFields); ++f)
        keepField(slot.texts[f], bytes + kTextFields[f].offset, kTextFields[f].size);
}

// Into an all-zero record: every field but the status.
void copyFromSlot(DocumentRecord& record, const TableSlot& slot)
{
    record.kind = slot.kind;
    record.useAccount = slot.useAccount;
    record.countMode = slot.countMode;
    record.lastCount = slot.lastCount;
    record.middleMode = slot.middleMode;
    auto* bytes = reinterpret_cast<char*>(&record);
    for (std::size_t f = 0; f < std::size(kTextFields); ++f)
        std::memcpy(bytes + kTextFields[f].offset, slot.texts[f].data(), slot.texts[f].size());
}

// The displayName as fieldText() reads it: up to its first terminator.
std::string_view slotName(const TableSlot& slot)
{
    const std::string_view name = slot.texts[kDisplayNameText];
    return name.substr(0, name.find('\0'));
}

} // namespace

DocumentTable::DocumentTable(int capacity) : m_capacity(capacity > 0 ? capacity : 0)
{
    if (m_capacity == 0)
        return;
    m_blockCount = (m_capacity + kBlockSlots - 1) / kBlockSlots;
    m_blocks.reset(new (std::nothrow) std::atomic<TableSlot*>[m_blockCount]);
    m_generations.reset(new (std::nothrow) std::atomic<uint32_t>[m_capacity]);
    if (!m_blocks || !m_generations) {
        m_capacity = 0;
        m_blockCount = 0;
        return;
    }
    for (int b = 0; b < m_blockCount; ++b)
        m_blocks[b].store(nullptr, std::memory_order_relaxed);
    for (int i = 0; i < m_capacity; ++i)
        m_generations[i].store(0, std::memory_order_relaxed);
}

DocumentTable::~DocumentTable()
{
    for (int b = 0; b < m_blockCount; ++b)
        delete[] m_blocks[b].load(std::memory_order_relaxed);
}

TableSlot* DocumentTable::slot(int index) const
{
    TableSlot* block = m_blocks[index / kBlockSlots].load(std::memory_order_acquire);
    return block ? block + index % kBlockSlots : nullptr;
}

TableSlot* DocumentTable::slotForWrite(int index)
{
    std::atomic<TableSlot*>& entry = m_blocks[index / kBlockSlots];
    TableSlot* block = entry.load(std::memory_order_acquire);
    if (!block) {
        // A new block's slots are empty records, free until named.
        block = new (std::nothrow) TableSlot[kBlockSlots];
        if (!block)
            return nullptr;
        entry.store(block, std::memory_order_release);
    }
    return block + index % kBlockSlots;
}

bool DocumentTable::isUsed(int index) const
{
    if (index < 0 || index >= m_capacity)
        return false;
    std::lock_guard lock(m_mutex);
    const TableSlot* record = slot(index);
    return record && !slotName(*record).empty();
}

DocumentRecord DocumentTable::get(int index) const
{
    std::optional<LoadedFile> loaded;
    return get(index, loaded);
}

DocumentRecord DocumentTable::get(int index, std::optional<LoadedFile>& loaded) const
{
    loaded.reset();
    DocumentRecord copy{};
    if (index < 0 || index >= m_capacity)
        return copy;
    std::lock_guard lock(m_mutex);
    const TableSlot* record = slot(index);
    if (!record)
        return copy;
    copyFromSlot(copy, *record);
    copy.status = record->status.load();
    loaded = record->loaded;
    return copy;
}

void DocumentTable::setLoadedFile(int index, const LoadedFile& file)
{
    if (index < 0 || index >= m_capacity)
        return;
    std::lock_guard lock(m_mutex);
    if (TableSlot* record = slot(index))
        record->loaded = file;
}

void DocumentTable::put(int index, const DocumentRecord& record)
{
    if (index < 0 || index >= m_capacity)
        return;
    std::lock_guard lock(m_mutex);
    // An all-zero record into a block never allocated leaves it so: the slot is free already.
    TableSlot* target = record.displayName[0] != '\0' ? slotForWrite(index) : slot(index);
    if (!target)
        return;
    storeInSlot(*target, record);
    target->loaded.reset();
    target->status.store(record.status);
    m_generations[index].fetch_add(1, std::memory_order_acq_rel);
}

uint32_t DocumentTable::generation(int index) const
{
    if (index < 0 || index >= m_capacity)
        return 0;
    return m_generations[index].load(std::memory_order_acquire);
}

void DocumentTable::clear(int index)
{
    put(index, DocumentRecord{});
}

std::string DocumentTable::displayName(int index) const
{
    if (index < 0 || index >= m_capacity)
        return {};
    std::lock_guard lock(m_mutex);
    const TableSlot* record = slot(index);
    return record ? std::string(slotName(*record)) : std::string();
}

int32_t DocumentTable::kind(int index) const
{
    if (index < 0 || index >= m_capacity)
        return 0;
    std::lock_guard lock(m_mutex);
    const TableSlot* record = slot(index);
    return record ? record->kind : 0;
}

DocumentStatus DocumentTable::status(int index) const
{
    if (index < 0 || index >= m_capacity)
        return DocumentStatus::Checked;
    const TableSlot* record = slot(index);
    return record ? static_cast<DocumentStatus>(record->status.load()) : DocumentStatus::Checked;
}

void DocumentTable::setStatus(int index, DocumentStatus status)
{
    if (index < 0 || index >= m_capacity)
        return;
    if (TableSlot* record = slot(index))
        record->status.store(static_cast<int32_t>(status));
}

bool DocumentTable::claim(int index)
{
    if (index < 0 || index >= m_capacity)
        return false;
    TableSlot* record = slot(index);
    if (!record)
        return false;
    int32_t expected = static_cast<int32_t>(DocumentStatus::Waiting);
    return record->status.compare_exchange_strong(expected,
                                                  static_cast<int32_t>(DocumentStatus::Retrieving));
}

void DocumentTable::setLastCheck(int index, const std::string& timeText)
{
    if (index < 0 || index >= m_capacity)
        return;
    char field[sizeof DocumentRecord::lastCheck];
    setFieldText(field, timeText);
    std::lock_guard lock(m_mutex);
    if (TableSlot* record = slot(index))
        keepField(record->texts[kLastCheckText], field, sizeof field);
}

void DocumentTable::setLastCount(int index, int32_t count)
{
    if (index < 0 || index >= m_capacity)
        return;
    std::lock_guard lock(m_mutex);
    if (TableSlot* record = slot(index))
        record->lastCount = count;
}

int DocumentTable::findFreeSlot() const
{
    std::lock_guard lock(m_mutex);
    for (int i = 0; i < m_capacity; ++i) {
        const TableSlot* record = slot(i);
        if (!record || slotName(*record).empty())
            return i;
    }
    return -1;
}

std::string recordFilePath(const std::string& dataFolder, const std::string& displayName,
                           const char* extension)
{
    return joinPath(dataFolder, displayName + extension);
}

void removePreviousVersions(const std::string& dataFolder, const std::string& displayName)
{
    removeFile(recordFilePath(dataFolder, displayName, kPreviousExtension));
    removeFile(recordFilePath(dataFolder, displayName, kPreviousMiddleExtension));
}

void saveRecord(const DocumentTable& table, int index, const std::string& dataFolder)
{
    // The stored form is made in a copy, so the slot keeps plain credentials for the workers.
    const DocumentRecord record = table.get(index);
    const std::string_view name = fieldText(record.displayName);
    if (!isUsableName(name))
        return;
    const DocumentRecord stored = storedForm(record);
    // Written through a temporary file and a rename: a failed write keeps the old record.
    writeFileReplacing(recordFilePath(dataFolder, std::string(name), kDataExtension), &stored,
                       sizeof stored);
}

int loadAllRecords(DocumentTable& table, const std::string& dataFolder, DocumentList* list,
                   const std::function<void(int)>& onLoaded)
{
    DIR* folder = ::opendir(dataFolder.c_str());
    if (!folder)
        return 0;
    const int folderFd = ::dirfd(folder);

    // The file's name is not compared with the displayName it holds, but two records may not
    // share a name (their files would be the same), nor may a name be empty (a free slot) or
    // lead out of the folder: such records are skipped.
    std::unordered_set<std::string> names;
    int loaded = 0;
    while (loaded < table.capacity()) {
        errno = 0;
        const dirent* entry = ::readdir(folder);
        if (!entry)
            break;
        if (entry->d_type == DT_DIR || !hasDataExtension(entry->d_name))
            continue;
        DocumentRecord record;
        std::optional<FileStamp> stamp;
        if (!readRecordFile(folderFd, entry->d_name, record, RecordFileKind::Loadable, &stamp))
            continue;
        const BlockDigest onDisk = bytesDigest(&record, sizeof record);
        terminateTextFields(record);
        unscrambleCredentials(record);
        const std::string_view name = fieldText(record.displayName);
        if (!isUsableName(name) || !names.insert(foldCase(name)).second)
            continue;
        table.put(loaded, record);
        if (stamp)
            table.setLoadedFile(loaded, {*stamp, onDisk});
        if (onLoaded)
            onLoaded(loaded);
        ++loaded;
    }
    ::closedir(folder);

    if (list) {
        for (int j = 0; j < loaded; ++j)
            list->insertRow(j, j);
    }
    return loaded;
}

namespace
{

// Replaces every pending record file by its temporary sibling: the new files reach the disk
// before their names replace the old ones, with one flush of the file system for all of them
// (one per file where that fails), so a crash at any moment leaves every ".data" file whole.
void replaceAll(int folderFd, const std::vector<PendingReplace>& pending)
{
    if (pending.empty())
        return;
    const bool allSynced = folderFd >= 0 && ::syncfs(folderFd) == 0;
    for (const PendingReplace& replace : pending) {
        const bool durable = allSynced || syncPath(replace.temp);
        if (!durable || ::rename(replace.temp.c_str(), replace.target.c_str()) != 0)
            ::unlink(replace.temp.c_str()); // the old file stays
    }
}

} // namespace

void saveAllRecordsOnExit(DocumentTable& table, const std::string& dataFolder)
{
    // Workers may still run: the slots are left as they are, and a Retrieving status is
    // stored as Waiting (storedForm).
    //
    // A record whose file holds it already is not written at all (a file that is still the one
    // the record was loaded from is known to, without being read again). A record file that differs
    // gets only its changed bytes, written in place through the record journal (see
    // RecordJournal.h): at exit that is typically the status and the time of the last check,
    // and writing them costs no new file and no freed one. A record without a usable file (none
    // yet, a link, a file of another size) is written whole to a temporary sibling that is
    // renamed over its name, as saveRecord does. Either way a crash at any moment leaves every
    // ".data" file whole, old or new, and all is on the disk when this returns.
    const int folderFd = ::open(dataFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    std::vector<RecordPatch> patches;
    std::vector<int> patchedSlots;
    std::vector<PendingReplace> pending;
    const auto replaceWhole = [&](const DocumentRecord& record) {
        PendingReplace replace;
        const std::string name(fieldText(record.displayName));
        if (isUsableName(name) &&
            writeTemporarySibling(recordFilePath(dataFolder, name, kDataExtension),
                                  storedForm(record), replace))
            pending.push_back(std::move(replace));
    };
    for (int i = 0; i < table.capacity(); ++i) {
        if (!table.isUsed(i))
            continue;
        std::optional<DocumentTable::LoadedFile> loadedFile;
        const DocumentRecord record = table.get(i, loadedFile);
        const std::string_view name = fieldText(record.displayName);
        if (!isUsableName(name))
            continue;
        const std::string fileName = std::string(name) + kDataExtension;
        if (loadedFile && folderFd >= 0 &&
            fileHoldsAlready(folderFd, fileName, *loadedFile, record))
            continue;
        DocumentRecord onDisk;
        if (folderFd >= 0 &&
            readRecordFile(folderFd, fileName.c_str(), onDisk, RecordFileKind::Patchable)) {
            RecordPatch patch = diffRecords(fileName, onDisk, storedFormOver(record, onDisk));
            if (!patch.ranges.empty()) {
                patches.push_back(std::move(patch));
                patchedSlots.push_back(i);
            }
            continue;
        }
        replaceWhole(record);
    }

    const bool journaled = !patches.empty() && writeRecordJournal(folderFd, patches);
    if (!journaled) {
        // Without a journal the changed records are replaced whole, as the others.
        for (int index : patchedSlots)
            replaceWhole(table.get(index));
        patches.clear();
    }
    replaceAll(folderFd, pending);

    if (journaled) {
        // The journal is on the disk: the changed bytes go into their files, then are flushed.
        // A file that could not take them is replaced whole; the journal stays (and the next
        // start finishes its changes) only when a file may be left part old, part new.
        bool keepJournal = false;
        std::vector<std::string> written;
        for (std::size_t k = 0; k < patches.size(); ++k) {
            const PatchResult result = applyRecordPatch(folderFd, patches[k]);
            if (result == PatchResult::Written) {
                written.push_back(patches[k].fileName);
                continue;
            }
            const DocumentRecord record = table.get(patchedSlots[k]);
            const std::string name(fieldText(record.displayName));
            const DocumentRecord stored = storedForm(record);
            const bool replaced =
                name + kDataExtension == patches[k].fileName &&
                writeFileReplacing(recordFilePath(dataFolder, name, kDataExtension), &stored,
                                   sizeof stored);
            if (result == PatchResult::Damaged && !replaced)
                keepJournal = true;
        }
        if (!flushRecordFiles(folderFd, written))
            keepJournal = true;
        if (!keepJournal)
            removeRecordJournal(folderFd);
    }
    if (folderFd >= 0) {
        if (!pending.empty())
            ::fsync(folderFd); // the renames themselves
        ::close(folderFd);
    }
}

} // namespace sentorix
