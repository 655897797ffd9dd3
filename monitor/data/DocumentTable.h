// The table of all documents: a fixed number of record slots, a slot free while its
// displayName is empty, a document named by its slot index.
//
// Threads: the UI thread and any number of check workers share the table. The status of each
// slot is an atomic field (a worker claims a Waiting document with one compare-exchange); all
// other fields are read and written through this class under its lock, so a reader never sees
// a half-written text.
//
// Memory follows the documents, not the capacity: the slots are kept in blocks of
// kBlockSlots, and a block is allocated when a record is first put into one of its slots
// (never freed before the table). A slot of a block not yet allocated is free: it reads as an
// all-zero record, and nothing but put() makes it used. Loops over the whole capacity touch
// only the small table of block pointers for the empty part. A slot keeps its record's numbers
// and, of each text field, only the bytes up to its last one that is not zero: a record of
// short texts takes a few hundred bytes, not the 4632 of its file, and comes back byte for
// byte.
#pragma once

#include "DocumentRecord.h"
#include "monitor/data/ContentDigests.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace sentorix
{

class DocumentList;
struct TableSlot; // a record as the table keeps it

class DocumentTable
{
public:
    // Room for the largest lists people keep, with headroom; a free slot costs no memory
    // until a record is put into its block.
    static constexpr int kDefaultCapacity = 8192;
    static constexpr int kBlockSlots = 32;

    explicit DocumentTable(int capacity = kDefaultCapacity);
    DocumentTable(const DocumentTable&) = delete;
    DocumentTable& operator=(const DocumentTable&) = delete;
    ~DocumentTable();

    // False when the table of blocks could not be allocated; the table then has no slots.
    bool allocated() const { return m_blocks != nullptr; }
    int capacity() const { return m_capacity; }
    bool isUsed(int index) const;

    // A copy of a slot (the status read atomically); the slot's credentials are plain text.
    DocumentRecord get(int index) const;

    // What the record's file held when the record was loaded from it: the file's stamp and the
    // digest of its bytes. The save at exit thus knows a file that still holds its record
    // without reading it again.
    struct LoadedFile {
        FileStamp stamp;
        BlockDigest digest;
    };
    void setLoadedFile(int index, const LoadedFile& file);
    // The slot's copy together with what its file held when loaded (nullopt when not known:
    // never loaded, or put() since).
    DocumentRecord get(int index, std::optional<LoadedFile>& loaded) const;
    // Replaces a whole slot; an all-zero record frees it.
    void put(int index, const DocumentRecord& record);
    // Counts the put()s and clear()s of a slot: a worker that finds it moved since its claim
    // knows that the document it checked was edited or deleted meanwhile. Any thread.
    uint32_t generation(int index) const;
    void clear(int index);

    std::string displayName(int index) const;
    // The kind field as stored (any value a file held); 0 for an unused slot.
    int32_t kind(int index) const;

    DocumentStatus status(int index) const;
    void setStatus(int index, DocumentStatus status);
    // Waiting -> Retrieving in one atomic step; true when this caller got the document.
    bool claim(int index);

    void setLastCheck(int index, const std::string& timeText);
    void setLastCount(int index, int32_t count);

    // The first free slot in index order, or -1 when every slot is used.
    int findFreeSlot() const;

private:
    // The slot, or null while its block is not allocated (a free slot).
    TableSlot* slot(int index) const;
    // The slot, its block allocated first; null when memory is short. Under m_mutex.
    TableSlot* slotForWrite(int index);

    int m_capacity;
    int m_blockCount = 0;
    // Written under m_mutex, read without it (the status operations): each pointer is
    // published once, with release order, and never changes afterwards.
    std::unique_ptr<std::atomic<TableSlot*>[]> m_blocks;
    std::unique_ptr<std::atomic<uint32_t>[]> m_generations;
    mutable std::mutex m_mutex;
};

// "<dataFolder>/<displayName><extension>" for a record's files.
std::string recordFilePath(const std::string& dataFolder, const std::string& displayName,
                           const char* extension);
inline constexpr const char* kDataExtension = ".data";
inline constexpr const char* kContentExtension = ".content";
inline constexpr const char* kMiddleExtension = ".middle";
// The content and the compared portion that the last detected change replaced.
inline constexpr const char* kPreviousExtension = ".previous";
inline constexpr const char* kPreviousMiddleExtension = ".prevmid";

// Removes a document's previous versions: with the document, or when an edit discards the
// content they were replaced by.
void removePreviousVersions(const std::string& dataFolder, const std::string& displayName);

// Writes the slot's record (credentials in their stored form, produced in a copy) to its
// ".data" file; a file that cannot be written is skipped silently.
void saveRecord(const DocumentTable& table, int index, const std::string& dataFolder);

// Fills the table from the "*.data" files of the DataFolder, in the order the file system
// returns them, then inserts one row per loaded record into `list` (may be null), at the
// position of its slot. Slots are filled in index order from 0; `onLoaded` (when set) is
// called with each one as soon as its record is in place. Returns the number of records loaded.
int loadAllRecords(DocumentTable& table, const std::string& dataFolder, DocumentList* list,
                   const std::function<void(int)>& onLoaded = {});

// The last step before the program quits: every used slot is saved, a Retrieving status stored
// as Waiting; a file that holds its record already is left alone, and one that differs gets
// only the bytes that changed (through the record journal, crash-safe). On the disk when it
// returns.
void saveAllRecordsOnExit(DocumentTable& table, const std::string& dataFolder);

} // namespace sentorix
