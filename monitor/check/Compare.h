// The comparison methods: the whole content (block by block or read by read), the number of
// occurrences of a string, or the text between two strings.
#pragma once

#include "common/TextFile.h"
#include "monitor/data/ContentDigests.h"
#include "monitor/data/DocumentRecord.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sentorix
{

enum class CompareMethod { Simple, Count, Middle };

// Count and middle apply to web pages only; every other kind is compared whole.
CompareMethod selectMethod(const DocumentRecord& record);

enum class Sameness { Same, Different, Failed, Stopped };

// Whole files in 512-byte blocks, driven by the new file: bytes of the ContentFile beyond the
// new file's length are never read, so a new file equal to the beginning of the ContentFile,
// or an empty one, is the same. Failed only on a read error; Stopped when *stop turned true
// before a block was read.
Sameness compareFileBlocks(InputFile& newFile, InputFile& contentFile,
                           const std::atomic<bool>* stop = nullptr);

// A fetched body on its way to a TempFile in `folder`, written in the document's file mode.
//
// Given the ContentFile (open for reading in the same mode, at its start), the body is
// compared with it read by read: each piece is fed as it arrives and the
// same number of bytes is read from the ContentFile; finish() makes the end-of-body read of
// one more byte, so a ContentFile longer than the body differs too. The TempFile is created
// only at the first difference: the part found equal is then copied from the ContentFile
// (read and written in the same mode, which gives back the bytes the body had) and the rest
// of the body follows. An unchanged body thus costs no file at all, while a changed one ends
// with exactly the TempFile that writing every piece as it came would have made.
//
// Given also the ContentFile's digest (see ContentDigests.h), the ContentFile is not read to
// compare: the body's bytes are held until their 64 KiB block is complete and its digest is
// compared with the stored block's; the ContentFile is read only to copy the equal blocks into
// a TempFile at the first difference. The TempFile is the same as without the digest.
//
// Compared by digest, the ContentFile may also be given by its path alone: it is then opened
// only when a first difference needs its equal blocks, and only while it still has the stamp
// the digest was made for (otherwise the body cannot be stored). An unchanged body then costs
// no open file at all.
//
// Whatever the comparison, the body's own block digests are computed as it is fed, so that the
// ContentFile it becomes, or the one it was found equal to, gets its digest (bodyDigest()).
//
// Without a ContentFile (a first fetch, or a method that looks at the whole new page) every
// piece is written and the body counts as different; the TempFile then exists after finish()
// even for an empty body.
//
// The TempFile is deleted with the object unless moveTempOver() took it.
class StreamComparison
{
public:
    StreamComparison(std::string folder, FileMode mode, InputFile* contentFile,
                     const ContentDigest* storedDigest = nullptr);
    StreamComparison(std::string folder, FileMode mode, std::string contentPath,
                     const ContentDigest& storedDigest);
    StreamComparison(const StreamComparison&) = delete;
    StreamComparison& operator=(const StreamComparison&) = delete;
    ~StreamComparison();

    // The body sink: false stops the transfer (the TempFile could not be had or written).
    bool feed(const char* data, std::size_t size);
    // The body is complete: the end-of-body read, then the TempFile is closed. False when the
    // TempFile could not be had or written whole.
    bool finish();

    bool different() const { return m_different; }
    // A TempFile has been started: the body is being stored.
    bool storing() const { return !m_tempPath.empty(); }
    // No TempFile could be created, or one could not be written.
    bool tempMissing() const { return m_tempMissing; }
    bool storageFailed() const { return m_tempMissing || m_writeFailed; }
    // The complete TempFile after finish(); empty when the body was the same.
    const std::string& tempPath() const { return m_tempPath; }

    // Renames the complete TempFile over `target`; false (the TempFile kept) when there is
    // none or the rename fails.
    bool moveTempOver(const std::string& target);
    // Closes and deletes the TempFile, when there is one.
    void discard();

    // After a successful finish(): the digest of the whole body (without a stamp); nullopt for
    // a body too long to get one.
    std::optional<ContentDigest> bodyDigest() const;

private:
    bool sameAsStored(const char* data, std::size_t size);
    bool sameAsDigested(const char* data, std::size_t size);
    bool nextBlockEqual();
    bool writeUnverified();
    bool startTemp();
    bool openContentByPath();

    std::string m_folder;
    FileMode m_mode;
    InputFile* m_content;
    // The ContentFile given by its path, opened on demand.
    InputFile m_contentByPath;
    std::string m_contentPath;
    const ContentDigest* m_storedDigest;
    bool m_different;
    bool m_tempMissing = false;
    bool m_writeFailed = false;
    std::size_t m_equalBytes = 0;
    // The ContentFile's bytes read for a comparison; with a digest, the body's bytes of the
    // block that is not yet found equal.
    std::vector<char> m_scratch;
    BlockDigester m_digester;
    std::optional<std::vector<BlockDigest>> m_newBlocks;
    OutputFile m_temp;
    std::string m_tempPath;
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

// 0 same, 1 changed (the MiddleFile was rewritten), -1 cannot compare. When the middle
// changed and `previousPath` is not empty, the stored middle is kept there before it is
// rewritten.
int compareMiddle(const std::string& newPath, std::string_view start, std::string_view end,
                  const std::string& middlePath, const std::string& previousPath = {});

} // namespace sentorix
