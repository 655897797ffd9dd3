// Rewriting many ".data" files in place, crash-safe through a journal of the changes.
//
// At exit most records differ from their files in a few bytes only (the status, the time of the
// last check, a count). Replacing each file through a new file and a rename frees the old
// file's blocks every time, which on a busy disk costs milliseconds per record; writing the
// changed bytes into the file itself costs microseconds, but a crash half-way through such a
// write could leave a record that is neither old nor new. The journal closes that gap:
//
//  1. every change (file name, offset, new bytes) goes into one journal file, which is flushed
//     to the disk with its folder entry before any record is touched;
//  2. the changed bytes are written into the records, and flushed;
//  3. the journal is removed.
//
// A crash before 1 is complete leaves the records as they were and a journal without its
// closing mark, which is ignored; a crash after it leaves a complete journal, and the next start
// writes its changes again (finishRecordJournal), so every record becomes the new one. Bytes
// that are not changed are never written, so they are the same in the old and the new record
// whatever a crash interrupts.
//
// Journal layout (little-endian): "SNTXRJ01", uint32 entry count; per entry: uint16 name
// length (1..255), the name (a "<displayName>.data" file of the folder), uint16 range count
// (at least 1); per range: uint16 offset, uint16 length (at least 1, offset + length within the
// 4632 bytes of a record), the new bytes. Then the 64-bit FNV-1a of everything before it and
// "SNTXRJ$$".
#pragma once

#include "monitor/data/DocumentRecord.h"

#include <cstdint>
#include <string>
#include <vector>

namespace sentorix
{

inline constexpr const char* kRecordJournalFile = ".Sentorix.journal";

// The bytes by which one record file changes.
struct RecordPatch {
    struct Range {
        uint16_t offset;
        uint16_t length;
    };
    std::string fileName;
    std::vector<Range> ranges;
    std::string newBytes; // the ranges' new bytes, one range after the other
    std::string oldBytes; // the bytes they replace, to undo a write that fails half-way
};

// The ranges in which `after` differs from `before` (short runs of equal bytes between two
// differences are taken into the range); no ranges when the two are the same.
RecordPatch diffRecords(std::string fileName, const DocumentRecord& before,
                        const DocumentRecord& after);

// Writes the journal of `patches` into the folder and flushes it and the folder's entry to the
// disk; false (and no journal left) when any step fails.
bool writeRecordJournal(int folderFd, const std::vector<RecordPatch>& patches);

enum class PatchResult {
    Written,    // the new bytes are in the file (not yet flushed)
    NotWritten, // the file is as it was: it could not be opened, or a failed write was undone
    Damaged,    // a write failed and the old bytes could not all be put back
};

// Writes a patch's new bytes into its file, which must be a regular file of one record's size
// with no other name. When a write fails half-way the bytes already written are put back.
PatchResult applyRecordPatch(int folderFd, const RecordPatch& patch);

// Flushes the data of the named files of the folder to the disk: the whole file system at once,
// or file by file where that fails. True when nothing remains unflushed.
bool flushRecordFiles(int folderFd, const std::vector<std::string>& names);

// Removes the journal and flushes the folder's entries.
void removeRecordJournal(int folderFd);

// At start-up, before anything reads a record: writes the changes of a complete journal into
// their records again and flushes them, then removes the journal; an incomplete or damaged one
// is only removed. A change for a file that is missing, is not a regular file of a record's size
// or whose name is not that of a record file is skipped. Returns 1 when a journal was found, 0
// when there was none.
int finishRecordJournal(const std::string& dataFolder);

} // namespace sentorix
