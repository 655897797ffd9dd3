// What the last detected change of a document changed: its previous version (kept when the
// change was found) against its stored one, compared by the document's method. Whole contents
// are compared for the simple method, the compared portions for the middle method, and the
// count method gives the two counts.
#pragma once

#include "monitor/check/Compare.h"
#include "monitor/check/TextDiff.h"
#include "monitor/data/DocumentRecord.h"

#include <cstdint>
#include <ctime>
#include <string>

namespace sentorix
{

enum class ChangesResult { Lines, Counts, NoPrevious };

struct VersionFile {
    std::string name;     // the file's name in the DataFolder
    std::time_t time = 0; // when the check that stored it ran (the file's modification time)
    std::size_t size = 0;
};

struct DocumentChanges {
    ChangesResult result = ChangesResult::NoPrevious;
    CompareMethod method = CompareMethod::Simple;
    VersionFile previous;
    VersionFile current;
    // The count method: the string and its counts in the two versions (-1: unreadable).
    std::string countString;
    std::int64_t previousCount = -1;
    std::int64_t currentCount = -1;
    TextDiff diff; // the other methods
};

// True when the document has a previous version for its method.
bool hasPreviousVersion(const std::string& dataFolder, const DocumentRecord& record);

// Loads and compares the two versions; a page's text is read as it was received, with CR LF
// taken as line ends. Versions above the limits are not loaded (TooLarge, with their sizes).
DocumentChanges compareVersions(const std::string& dataFolder, const DocumentRecord& record,
                                int context = 3, const DiffLimits& limits = {});

// A time as "diff -u" writes it: "2026-12-10 09:38:51.000000000 +0100", local time.
std::string diffTimeText(std::time_t when);

// The command-line form: a unified diff with "---"/"+++" header lines naming the two files and
// their check times, or one line for binary or too large versions, or the two counts.
std::string formatChanges(const DocumentChanges& changes);

} // namespace sentorix
