// The difference between two versions of a document, compared as text lines: the changed
// lines grouped into hunks with context (as "diff -u" groups them), and inside each changed
// line the words that changed. The line comparison itself is the dtl library's; this file
// prepares the lines, bounds the work and groups the result.
//
// Work is bounded twice: versions above a size or line limit are not compared at all, and a
// comparison that needs more steps or more time than allowed is abandoned. Both end with the
// outcome TooLarge, which carries only the sizes.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sentorix
{

// How a version's lines end: LF, or (a web page's text) CR LF, where a CR right before the LF
// belongs to the line end, not to the line.
enum class LineEnds { Lf, CrLf };

// Content with a NUL byte in its first 8 KiB is not text (the rule diff and git use).
inline constexpr std::size_t kBinaryProbeBytes = 8192;
bool looksBinary(std::string_view content);

struct DiffLimits {
    std::size_t maxBytes = 32u << 20; // per version
    std::size_t maxLines = 1'000'000; // per version
    // Element comparisons of the line diff (and, apart, of the word diffs); also the bound of
    // the work the line diff is estimated to need before it starts.
    std::uint64_t maxSteps = 100'000'000;
    std::chrono::milliseconds maxTime{2000};
};

// One line of a version: `begin` and `length` in the version's text, without the line end.
struct TextLine {
    std::size_t begin = 0;
    std::size_t length = 0;
    bool hasEnd = true; // false for a last line without a line end
};

std::vector<TextLine> splitLines(std::string_view text, LineEnds ends);

// A changed byte range inside one line (offsets from the line's start).
struct WordRange {
    std::size_t begin = 0;
    std::size_t length = 0;
    bool operator==(const WordRange&) const = default;
};

enum class DiffOp { Same, Deleted, Inserted };

struct DiffLine {
    DiffOp op = DiffOp::Same;
    int oldLine = -1; // 0-based index into the old version's lines, -1 for an inserted line
    int newLine = -1; // 0-based index into the new version's lines, -1 for a deleted line
    // For a changed line paired with a line of the other side: the words that differ.
    std::vector<WordRange> words;
};

struct DiffHunk {
    int oldStart = 0; // 0-based first old line of the hunk
    int oldCount = 0;
    int newStart = 0;
    int newCount = 0;
    std::vector<DiffLine> lines; // deletions of a change come before its insertions
};

enum class DiffOutcome { Same, Different, Binary, TooLarge };

struct TextDiff {
    DiffOutcome outcome = DiffOutcome::Same;
    std::size_t oldSize = 0;
    std::size_t newSize = 0;
    std::string oldText;
    std::string newText;
    std::vector<TextLine> oldLines;
    std::vector<TextLine> newLines;
    std::vector<DiffHunk> hunks;

    std::string_view oldLineText(int line) const;
    std::string_view newLineText(int line) const;
};

// Compares two versions. `context` is the number of unchanged lines kept around each change;
// changes closer than twice that share a hunk.
TextDiff diffTexts(std::string oldText, std::string newText, LineEnds ends, int context = 3,
                   const DiffLimits& limits = {});

// The changed byte ranges of two single lines, word by word: a word is a run of letters,
// digits, '_' and bytes above 0x7F, a run of blanks, or any other single byte.
void diffWords(std::string_view oldLine, std::string_view newLine, std::vector<WordRange>& oldWords,
               std::vector<WordRange>& newWords);

// The hunks in the unified format of "diff -u", each starting with its "@@ -a,b +c,d @@" line,
// a last line without a line end followed by "\ No newline at end of file". Lines are written
// with LF ends. Nothing for an outcome other than Different.
std::string formatUnifiedHunks(const TextDiff& diff);

} // namespace sentorix
