#include "Compare.h"

#include "platform/TempFile.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>

namespace sentorix
{

namespace
{

constexpr std::size_t kFileBlock = 512;
constexpr std::size_t kLoadBlock = 1024 * 1024;
constexpr std::size_t kMiddleBlock = 64 * 1024;
constexpr std::size_t kEqualCopyBlock = 64 * 1024;

// --- UTF-8 character boundaries ------------------------------------------------------------
//
// Text is stepped through by whole characters: a well-formed UTF-8 sequence is one
// character, and any byte that does not begin one (a stray continuation byte, an invalid
// lead byte, a truncated sequence) is a character of its own. Under that rule a byte that
// is not a continuation byte always starts a character, so whether a position starts one
// can be decided from the three bytes before it.

bool isContinuation(unsigned char b)
{
    return (b & 0xC0) == 0x80;
}

// Length of the character that starts at `i`.
std::size_t charLength(const unsigned char* text, std::size_t size, std::size_t i)
{
    unsigned char b = text[i];
    std::size_t length;
    unsigned char low = 0x80, high = 0xBF; // allowed range of the second byte
    if (b < 0x80)
        return 1;
    if (b >= 0xC2 && b <= 0xDF) {
        length = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        length = 3;
        if (b == 0xE0)
            low = 0xA0; // no overlong forms
        else if (b == 0xED)
            high = 0x9F; // no surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4;
        if (b == 0xF0)
            low = 0x90;
        else if (b == 0xF4)
            high = 0x8F; // nothing above U+10FFFF
    } else {
        return 1;
    }
    if (size - i < length)
        return 1;
    if (text[i + 1] < low || text[i + 1] > high)
        return 1;
    for (std::size_t k = 2; k < length; ++k)
        if (!isContinuation(text[i + k]))
            return 1;
    return length;
}

bool startsCharacter(const unsigned char* text, std::size_t size, std::size_t i)
{
    if (!isContinuation(text[i]))
        return true;
    for (std::size_t back = 1; back <= 3 && back <= i; ++back) {
        std::size_t j = i - back;
        if (!isContinuation(text[j]))
            return charLength(text, size, j) <= back;
    }
    return true;
}

// First occurrence of `needle` in `text` at or after `from`; npos when there is none.
std::size_t findBytes(std::string_view text, std::string_view needle, std::size_t from)
{
    if (from > text.size())
        return std::string_view::npos;
    if (needle.empty())
        return from;
    const void* hit =
        ::memmem(text.data() + from, text.size() - from, needle.data(), needle.size());
    return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - text.data())
               : std::string_view::npos;
}

struct MiddleSpan {
    std::size_t begin;
    std::size_t end; // begin when the middle is empty
};

// The first `start`, then the first `end` beginning at least one byte after it (the two may
// overlap); the middle lies between the end of `start` and the beginning of `end`.
std::optional<MiddleSpan> findMiddle(std::string_view text, std::string_view start,
                                     std::string_view end)
{
    std::size_t s = findBytes(text, start, 0);
    if (s == std::string_view::npos)
        return std::nullopt;
    std::size_t e = findBytes(text, end, s + 1);
    if (e == std::string_view::npos)
        return std::nullopt;
    std::size_t begin = s + start.size();
    return MiddleSpan{begin, std::max(begin, e)};
}

// Scratch space a thread's finished comparison leaves for its next one.
thread_local std::vector<char> t_spareScratch;

} // namespace

CompareMethod selectMethod(const DocumentRecord& record)
{
    if (record.kind != static_cast<int32_t>(DocumentKind::WebPage))
        return CompareMethod::Simple;
    if (record.countMode == 1)
        return CompareMethod::Count;
    if (record.middleMode == 1)
        return CompareMethod::Middle;
    return CompareMethod::Simple;
}

Sameness compareFileBlocks(InputFile& newFile, InputFile& contentFile,
                           const std::atomic<bool>* stop)
{
    unsigned char fresh[kFileBlock];
    unsigned char stored[kFileBlock];
    for (;;) {
        if (stop && stop->load())
            return Sameness::Stopped;
        long n = newFile.read(fresh, kFileBlock);
        if (n < 0)
            return Sameness::Failed;
        long e = contentFile.read(stored, static_cast<std::size_t>(n));
        if (e < 0)
            return Sameness::Failed;
        if (e < n)
            return Sameness::Different;
        if (std::memcmp(fresh, stored, static_cast<std::size_t>(n)) != 0)
            return Sameness::Different;
        if (static_cast<std::size_t>(n) < kFileBlock)
            return Sameness::Same;
    }
}

StreamComparison::StreamComparison(std::string folder, FileMode mode, InputFile* contentFile,
                                   const ContentDigest* storedDigest)
    : m_folder(std::move(folder)), m_mode(mode), m_content(contentFile),
      m_storedDigest(contentFile ? storedDigest : nullptr), m_different(contentFile == nullptr)
{
    // The thread's scratch space of its earlier comparisons, so a check does not take (and
    // fault in) fresh memory for every body. A block waiting for its digest is the most it
    // holds then: room made at once rather than grown (and copied) piece by piece.
    m_scratch.swap(t_spareScratch);
    m_scratch.clear();
    if (m_storedDigest)
        m_scratch.reserve(kDigestBlock);
}

StreamComparison::StreamComparison(std::string folder, FileMode mode, std::string contentPath,
                                   const ContentDigest& storedDigest)
    : StreamComparison(std::move(folder), mode, &m_contentByPath, &storedDigest)
{
    m_contentPath = std::move(contentPath);
}

StreamComparison::~StreamComparison()
{
    discard();
    if (m_scratch.capacity() > t_spareScratch.capacity())
        m_scratch.swap(t_spareScratch);
}

bool StreamComparison::feed(const char* data, std::size_t size)
{
    if (storageFailed())
        return false;
    m_digester.feed(data, size);
    if (!m_different) {
        if (m_storedDigest) {
            if (sameAsDigested(data, size))
                return true;
            m_different = true;
            return startTemp() && writeUnverified();
        }
        if (sameAsStored(data, size)) {
            m_equalBytes += size;
            return true;
        }
        m_different = true;
    }
    if (m_tempPath.empty() && !startTemp())
        return false;
    if (!m_temp.write(data, size)) {
        m_writeFailed = true;
        return false;
    }
    return true;
}

bool StreamComparison::finish()
{
    if (storageFailed())
        return false;
    m_newBlocks = m_digester.finish();
    if (!m_different) {
        if (m_storedDigest) {
            if (m_newBlocks && m_digester.length() == m_storedDigest->length &&
                *m_newBlocks == m_storedDigest->blocks)
                return true; // the same: the ContentFile was not read at all
            m_different = true;
            if (!startTemp() || !writeUnverified())
                return false;
        } else {
            char extra;
            if (m_content->read(&extra, 1) == 0)
                return true; // the same: no TempFile was ever made
            m_different = true;
        }
    }
    if (m_tempPath.empty() && !startTemp())
        return false;
    if (!m_temp.close()) {
        m_writeFailed = true;
        return false;
    }
    return true;
}

std::optional<ContentDigest> StreamComparison::bodyDigest() const
{
    if (!m_newBlocks)
        return std::nullopt;
    ContentDigest digest;
    digest.mode = m_mode;
    digest.length = m_digester.length();
    digest.blocks = *m_newBlocks;
    return digest;
}

bool StreamComparison::moveTempOver(const std::string& target)
{
    // The content reaches the disk before its name does, so the ContentFile is never a name
    // without its bytes.
    if (m_tempPath.empty() || m_temp.isOpen() || !flushToDisk(m_tempPath) ||
        std::rename(m_tempPath.c_str(), target.c_str()) != 0)
        return false;
    m_tempPath.clear();
    return true;
}

void StreamComparison::discard()
{
    if (m_temp.isOpen())
        m_temp.close();
    if (!m_tempPath.empty())
        removeFile(m_tempPath);
    m_tempPath.clear();
}

bool StreamComparison::sameAsStored(const char* data, std::size_t size)
{
    if (size == 0)
        return true; // an empty piece says nothing; the end of the body is finish()'s read
    if (m_scratch.size() < size)
        m_scratch.resize(size);
    const long got = m_content->read(m_scratch.data(), size);
    return got >= 0 && static_cast<std::size_t>(got) == size &&
           std::memcmp(m_scratch.data(), data, size) == 0;
}

// The body's bytes of a block wait in m_scratch until the digest of their block is known: a
// block whose digest is the stored one's is taken as equal and dropped; at the first other one
// the unverified bytes become the TempFile's, after the equal blocks copied from the
// ContentFile. Whole blocks within a piece are checked where they lie, without a copy.
bool StreamComparison::sameAsDigested(const char* data, std::size_t size)
{
    const auto differsFromHere = [&] {
        m_scratch.insert(m_scratch.end(), data, data + size);
        return false;
    };
    if (!m_scratch.empty()) {
        const std::size_t take = std::min(size, kDigestBlock - m_scratch.size());
        m_scratch.insert(m_scratch.end(), data, data + take);
        data += take;
        size -= take;
        if (m_scratch.size() < kDigestBlock)
            return true;
        if (!nextBlockEqual())
            return differsFromHere();
        m_scratch.clear();
    }
    for (; size >= kDigestBlock; data += kDigestBlock, size -= kDigestBlock) {
        if (!nextBlockEqual())
            return differsFromHere();
    }
    m_scratch.insert(m_scratch.end(), data, data + size);
    return true;
}

// The block after those found equal, fed whole, against the stored block at its place.
bool StreamComparison::nextBlockEqual()
{
    const std::vector<BlockDigest>& fresh = m_digester.fullBlocks();
    const std::vector<BlockDigest>& stored = m_storedDigest->blocks;
    const std::size_t block = m_equalBytes / kDigestBlock;
    const bool fullInStored = (block + 1) * kDigestBlock <= m_storedDigest->length;
    const bool equal = block < fresh.size() && block < stored.size() && fullInStored &&
                       fresh[block] == stored[block];
    if (equal)
        m_equalBytes += kDigestBlock;
    return equal;
}

bool StreamComparison::writeUnverified()
{
    const bool written = m_temp.write(m_scratch.data(), m_scratch.size());
    m_scratch.clear();
    if (!written)
        m_writeFailed = true;
    return written;
}

// The TempFile at the first difference, beginning with the part of the body found equal,
// which is taken from the start of the ContentFile.
bool StreamComparison::startTemp()
{
    m_tempPath = createTempFile(m_folder);
    if (m_tempPath.empty() || !m_temp.open(m_tempPath, m_mode, OpenForWrite::Existing)) {
        m_tempMissing = true;
        return false;
    }
    if (m_equalBytes == 0)
        return true;
    if (!openContentByPath() || !m_content->rewind()) {
        m_writeFailed = true;
        return false;
    }
    std::vector<char> block(kEqualCopyBlock);
    for (std::size_t left = m_equalBytes; left > 0;) {
        const long got = m_content->read(block.data(), std::min(left, block.size()));
        if (got <= 0 || !m_temp.write(block.data(), static_cast<std::size_t>(got))) {
            m_writeFailed = true;
            return false;
        }
        left -= static_cast<std::size_t>(got);
    }
    return true;
}

// The ContentFile given by its path, opened for the equal blocks: refused when it is no longer
// the file the digest was made for, as the blocks found equal would not be its blocks.
bool StreamComparison::openContentByPath()
{
    if (m_content != &m_contentByPath || m_contentByPath.isOpen())
        return true;
    if (!m_contentByPath.open(m_contentPath, m_mode))
        return false;
    const std::optional<FileStamp> stamp = fileStamp(m_contentByPath.descriptor());
    return stamp && *stamp == m_storedDigest->stamp;
}

// A read error part-way through gives no text rather than a shortened one, which would
// pass for a changed page.
namespace
{

std::optional<std::string> loadWholeText(const std::string& path)
{
    InputFile in;
    if (!in.open(path, FileMode::Text))
        return std::nullopt;
    std::string text;
    struct stat st {
    };
    // One spare byte lets the read that finds the end fit without growing the string.
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
        text.reserve(static_cast<std::size_t>(st.st_size) + 1);

    for (;;) {
        std::size_t old = text.size();
        std::size_t spare = text.capacity() - old;
        std::size_t block = spare > 0 ? spare : std::max(kLoadBlock, old);
        text.resize(old + block);
        long n = in.read(text.data() + old, block);
        if (n < 0)
            return std::nullopt;
        // Drop the NUL bytes of the new part, moving the rest down.
        char* first = text.data() + old;
        char* last = first + n;
        auto* nul = static_cast<char*>(std::memchr(first, '\0', static_cast<std::size_t>(n)));
        char* kept = nul ? std::remove(nul, last, '\0') : last;
        text.resize(static_cast<std::size_t>(kept - text.data()));
        if (n == 0)
            break;
    }
    if (in.failed())
        return std::nullopt;
    return text;
}

} // namespace

std::optional<std::string> loadTextFile(const std::string& path)
{
    // The count and middle methods hold the whole page in memory. A page larger than the
    // memory the process can have is reported as unreadable, so its check ends Unavailable
    // instead of ending the program.
    try {
        return loadWholeText(path);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    } catch (const std::length_error&) {
        return std::nullopt;
    }
}

int64_t countOccurrences(const std::string& path, std::string_view needle)
{
    std::optional<std::string> loaded = loadTextFile(path);
    if (!loaded)
        return -1;
    const std::string& text = *loaded;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();

    int64_t count = 0;
    if (needle.empty()) {
        // Every character position and the end of the text.
        for (std::size_t i = 0; i < size; i += charLength(bytes, size, i))
            ++count;
        return count + 1;
    }
    std::size_t p = 0;
    while (p < size) {
        std::size_t at = findBytes(text, needle, p);
        if (at == std::string_view::npos)
            break;
        if (startsCharacter(bytes, size, at))
            ++count;
        p = at + 1;
    }
    return count;
}

int extractMiddle(const std::string& pagePath, std::string_view start, std::string_view end,
                  const std::string& middlePath)
{
    std::optional<std::string> text = loadTextFile(pagePath);
    if (!text)
        return 0;
    std::optional<MiddleSpan> middle = findMiddle(*text, start, end);
    if (!middle)
        return 0;
    // A MiddleFile that cannot be written is not an error here; the next comparison will
    // find it missing.
    writeFileReplacing(middlePath, text->data() + middle->begin, middle->end - middle->begin,
                       FileMode::Text);
    return 1;
}

int compareMiddle(const std::string& newPath, std::string_view start, std::string_view end,
                  const std::string& middlePath, const std::string& previousPath)
{
    std::optional<std::string> text = loadTextFile(newPath);
    if (!text)
        return -1;
    std::optional<MiddleSpan> middle = findMiddle(*text, start, end);
    if (!middle)
        return -1;

    InputFile stored;
    if (!stored.open(middlePath, FileMode::Text))
        return -1;
    // Only as many stored bytes as the new middle has are read: a new middle equal to the
    // beginning of the stored one is the same.
    bool changed = false;
    std::vector<char> block(kMiddleBlock);
    for (std::size_t i = middle->begin; i < middle->end && !changed;) {
        std::size_t want = std::min(block.size(), middle->end - i);
        long got = stored.read(block.data(), want);
        if (got < 0)
            return -1;
        std::size_t n = static_cast<std::size_t>(got);
        if (std::memcmp(block.data(), text->data() + i, n) != 0 || n < want)
            changed = true;
        i += n;
    }
    if (stored.failed())
        return -1;
    stored.close();
    if (!changed)
        return 0;

    // The stored middle becomes the previous one; it is only a second name of the file, which
    // the rewrite below replaces by a new one.
    if (!previousPath.empty())
        keepFileAs(middlePath, previousPath);
    if (!writeFileReplacing(middlePath, text->data() + middle->begin, middle->end - middle->begin,
                            FileMode::Text))
        return -1;
    return 1;
}

} // namespace sentorix
