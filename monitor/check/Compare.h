// The comparison methods: the whole content (block by block or read by read), the number of
// occurrences of a string, or the text between two strings.
#pragma once

#include "common/TextFile.h"
#include "monitor/data/DocumentRecord.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sentorix
{

enum class CompareMethod { Simple, Count, Middle };

// Count and middle apply to web pages only; every other kind is compared whole.
CompareMethod selectMethod(const DocumentRecord& record);

enum class Sameness { Same, Different, Failed };

// Whole files in 512-byte blocks, driven by the new file: bytes of the ContentFile beyond the
// new file's length are never read, so a new file equal to the beginning of the ContentFile,
// or an empty one, is the same. Failed only on a read error.
Sameness compareFileBlocks(InputFile& newFile, InputFile& contentFile);

// A web body compared read by read with the ContentFile while every piece is copied to the
// TempFile. Pieces are fed as they arrive (at most 8192 bytes each); after a difference is
// found the rest is still copied. finish() makes the end-of-body read, which also finds a
// ContentFile longer than the body.
class StreamComparison
{
public:
    StreamComparison(InputFile& contentFile, OutputFile& tempFile);
    // False when the TempFile could not be written.
    bool feed(const char* data, std::size_t size);
    // False when any piece could not be written to the TempFile.
    bool finish();
    bool different() const { return m_different; }

private:
    InputFile& m_content;
    OutputFile& m_temp;
    bool m_different = false;
    bool m_writeFailed = false;
    std::string m_scratch;
};

// The whole file in text mode, NUL bytes dropped; nullopt when it cannot be opened.
std::optional<std::string> loadTextFile(const std::string& path);

// Occurrences of `needle` (overlapping, case-sensitive, starting only at character
// boundaries); -1 when the file cannot be opened. An empty needle counts every position.
int64_t countOccurrences(const std::string& path, std::string_view needle);

// Writes the text between the first `start` and the first `end` after it to `middlePath`
// (text mode); 1 on success (also when the MiddleFile cannot be created), 0 when the page
// cannot be read or a string is missing.
int extractMiddle(const std::string& pagePath, std::string_view start, std::string_view end,
                  const std::string& middlePath);

// 0 same, 1 changed (the MiddleFile was rewritten), -1 cannot compare.
int compareMiddle(const std::string& newPath, std::string_view start, std::string_view end,
                  const std::string& middlePath);

} // namespace sentorix
