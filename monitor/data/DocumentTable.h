// The table of all documents: a fixed number of record slots, a slot free while its
// displayName is empty, a document named by its slot index.
//
// Threads: the UI thread and any number of check workers share the table. The status of each
// slot is an atomic field (a worker claims a Waiting document with one compare-exchange); all
// other fields are read and written through this class under its lock, so a reader never sees
// a half-written text.
#pragma once

#include "DocumentRecord.h"

#include <memory>
#include <mutex>
#include <string>

namespace sentorix
{

class MonitorView;

class DocumentTable
{
public:
    // Room for the largest lists people keep, with headroom; a free slot costs no memory
    // until it is used, because the table is allocated zero-filled by the system.
    static constexpr int kDefaultCapacity = 8192;

    explicit DocumentTable(int capacity = kDefaultCapacity);
    DocumentTable(const DocumentTable&) = delete;
    DocumentTable& operator=(const DocumentTable&) = delete;
    ~DocumentTable();

    // False when the slots could not be allocated; the table then has no slots at all.
    bool allocated() const { return m_slots != nullptr; }
    int capacity() const { return m_capacity; }
    bool isUsed(int index) const;

    // A copy of a slot (the status read atomically); the slot's credentials are plain text.
    DocumentRecord get(int index) const;
    // Replaces a whole slot; an all-zero record frees it.
    void put(int index, const DocumentRecord& record);
    void clear(int index);

    std::string displayName(int index) const;

    DocumentStatus status(int index) const;
    void setStatus(int index, DocumentStatus status);
    // Waiting -> Retrieving in one atomic step; true when this caller got the document.
    bool claim(int index);

    void setLastCheck(int index, const std::string& timeText);
    void setLastCount(int index, int32_t count);

    // The first free slot in index order, or -1 when every slot is used.
    int findFreeSlot() const;

private:
    DocumentRecord& slot(int index) const;

    int m_capacity;
    struct FreeDeleter {
        void operator()(DocumentRecord* p) const;
    };
    std::unique_ptr<DocumentRecord[], FreeDeleter> m_slots;
    mutable std::mutex m_mutex;
};

// "<dataFolder>/<displayName><extension>" for a record's files.
std::string recordFilePath(const std::string& dataFolder, const std::string& displayName,
                           const char* extension);
inline constexpr const char* kDataExtension = ".data";
inline constexpr const char* kContentExtension = ".content";
inline constexpr const char* kMiddleExtension = ".middle";

// Writes the slot's record (credentials in their stored form, produced in a copy) to its
// ".data" file; a file that cannot be written is skipped silently.
void saveRecord(const DocumentTable& table, int index, const std::string& dataFolder);

// Fills the table from the "*.data" files of the DataFolder, in the order the file system
// returns them, then inserts one row per loaded record through `view` (may be null).
// Returns the number of records loaded.
int loadAllRecords(DocumentTable& table, const std::string& dataFolder, MonitorView* view);

// The last step before the program quits: every used slot is written, a Retrieving status
// stored as Waiting.
void saveAllRecordsOnExit(DocumentTable& table, const std::string& dataFolder);

} // namespace sentorix
