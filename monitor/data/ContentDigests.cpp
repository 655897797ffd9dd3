#include "monitor/data/ContentDigests.h"

#include "common/ByteReader.h"
#include "common/DataFolder.h"

#include <sys/stat.h>

// On x86-64 the library picks the widest vector unit the processor has (AVX2, AVX-512).
#if defined(__x86_64__)
#include <xxh_x86dispatch.h>
#else
#include <xxhash.h>
#endif

#include <cstring>
#include <string_view>

namespace sentorix
{
namespace
{

constexpr char kMagic[8] = {'S', 'N', 'T', 'X', 'D', 'G', '0', '1'};
constexpr char kEndMark[8] = {'S', 'N', 'T', 'X', 'D', 'G', '$', '$'};
constexpr std::size_t kHeaderSize = sizeof kMagic + 4 + 4;
constexpr std::size_t kEntryHeaderSize = 2 + 1 + 1 + 4 + 6 * 8;
constexpr std::size_t kBlockBytes = 16;
constexpr std::size_t kTrailerSize = 8 + sizeof kEndMark;
static_assert(kHeaderSize == 16 && kEntryHeaderSize == 56 && kTrailerSize == 16);
static_assert(sizeof(BlockDigest) == kBlockBytes, "a block digest is stored as its two halves");
// Far above what the table's documents need (5,000 documents of one block take 450 KiB).
constexpr std::size_t kMaxFileBytes = 64u << 20;
constexpr std::size_t kMaxNameBytes = 255;

int64_t nanoseconds(const timespec& t)
{
    return static_cast<int64_t>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

BlockDigest blockDigest(XXH128_hash_t h)
{
    return BlockDigest{h.low64, h.high64};
}

void putLe(std::string& out, uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

uint64_t blocksFor(uint64_t length)
{
    return (length + kDigestBlock - 1) / kDigestBlock;
}

std::string digestsPath(const std::string& dataFolder)
{
    return joinPath(dataFolder, kContentDigestsFile);
}

} // namespace

BlockDigest bytesDigest(const void* data, std::size_t size)
{
    return blockDigest(XXH3_128bits(data, size));
}

std::optional<FileStamp> fileStamp(const struct stat& st)
{
    if (!S_ISREG(st.st_mode))
        return std::nullopt;
    return FileStamp{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino),
                     static_cast<int64_t>(st.st_size), nanoseconds(st.st_mtim),
                     nanoseconds(st.st_ctim)};
}

std::optional<FileStamp> fileStamp(int fd)
{
    struct stat st {
    };
    if (fd < 0 || ::fstat(fd, &st) != 0)
        return std::nullopt;
    return fileStamp(st);
}

std::optional<FileStamp> fileStamp(const std::string& path)
{
    struct stat st {
    };
    if (::lstat(path.c_str(), &st) != 0)
        return std::nullopt;
    return fileStamp(st);
}

// ---------------------------------------------------------------------------------------------
// BlockDigester

BlockDigester::BlockDigester() : m_state(XXH3_createState())
{
    if (m_state)
        XXH3_128bits_reset(static_cast<XXH3_state_t*>(m_state));
}

BlockDigester::~BlockDigester()
{
    XXH3_freeState(static_cast<XXH3_state_t*>(m_state));
}

void BlockDigester::feed(const char* data, std::size_t size)
{
    if (!m_state || m_tooLong)
        return;
    auto* state = static_cast<XXH3_state_t*>(m_state);
    m_length += size;
    while (size > 0) {
        const std::size_t take = std::min(size, kDigestBlock - m_inBlock);
        XXH3_128bits_update(state, data, take);
        m_inBlock += take;
        data += take;
        size -= take;
        if (m_inBlock == kDigestBlock) {
            endBlock();
            if (m_tooLong)
                return;
        }
    }
}

void BlockDigester::endBlock()
{
    auto* state = static_cast<XXH3_state_t*>(m_state);
    if (m_blocks.size() == kMaxDigestBlocks) {
        m_tooLong = true;
        m_blocks.clear();
        return;
    }
    m_blocks.push_back(blockDigest(XXH3_128bits_digest(state)));
    XXH3_128bits_reset(state);
    m_inBlock = 0;
}

std::optional<std::vector<BlockDigest>> BlockDigester::finish()
{
    if (!m_state || m_tooLong)
        return std::nullopt;
    if (m_inBlock > 0) {
        endBlock();
        if (m_tooLong)
            return std::nullopt;
    }
    return std::move(m_blocks);
}

// ---------------------------------------------------------------------------------------------
// ContentDigests

ContentDigests::ContentDigests(std::string dataFolder) : m_dataFolder(std::move(dataFolder)) {}

void ContentDigests::loadOnce()
{
    if (m_loaded)
        return;
    m_loaded = true;
    InputFile in;
    if (!in.open(digestsPath(m_dataFolder), FileMode::Binary))
        return;
    std::string bytes;
    char block[64 * 1024];
    for (;;) {
        const long got = in.read(block, sizeof block);
        if (got < 0 || bytes.size() + static_cast<std::size_t>(got) > kMaxFileBytes)
            return;
        if (got == 0)
            break;
        bytes.append(block, static_cast<std::size_t>(got));
    }
    m_entries = decode(bytes);
}

std::optional<ContentDigest> ContentDigests::find(const std::string& name, const FileStamp& stamp,
                                                  FileMode mode)
{
    std::lock_guard lock(m_mutex);
    loadOnce();
    const auto it = m_entries.find(name);
    if (it == m_entries.end() || !(it->second.stamp == stamp) || it->second.mode != mode)
        return std::nullopt;
    return it->second;
}

void ContentDigests::put(const std::string& name, ContentDigest digest)
{
    if (name.empty() || name.size() > kMaxNameBytes || digest.blocks.size() > kMaxDigestBlocks ||
        digest.blocks.size() != blocksFor(digest.length))
        return forget(name);
    std::lock_guard lock(m_mutex);
    loadOnce();
    m_entries[name] = std::move(digest);
    m_changed = true;
}

void ContentDigests::forget(const std::string& name)
{
    std::lock_guard lock(m_mutex);
    loadOnce();
    if (m_entries.erase(name) > 0)
        m_changed = true;
}

bool ContentDigests::save(const std::unordered_set<std::string>& keep)
{
    std::lock_guard lock(m_mutex);
    if (!m_loaded)
        return true; // nothing was looked up, so nothing changed
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        if (keep.count(it->first) == 0) {
            it = m_entries.erase(it);
            m_changed = true;
        } else {
            ++it;
        }
    }
    if (!m_changed)
        return true;
    const std::string bytes = encode(m_entries);
    if (!writeFileReplacing(digestsPath(m_dataFolder), bytes.data(), bytes.size()))
        return false;
    m_changed = false;
    return true;
}

std::string ContentDigests::encode(const std::unordered_map<std::string, ContentDigest>& entries)
{
    std::string out(kMagic, sizeof kMagic);
    putLe(out, entries.size(), 4);
    putLe(out, 0, 4);
    for (const auto& [name, digest] : entries) {
        putLe(out, name.size(), 2);
        putLe(out, digest.mode == FileMode::Text ? 1 : 0, 1);
        putLe(out, 0, 1);
        putLe(out, digest.blocks.size(), 4);
        putLe(out, digest.stamp.device, 8);
        putLe(out, digest.stamp.inode, 8);
        putLe(out, static_cast<uint64_t>(digest.stamp.size), 8);
        putLe(out, static_cast<uint64_t>(digest.stamp.modifiedNs), 8);
        putLe(out, static_cast<uint64_t>(digest.stamp.changedNs), 8);
        putLe(out, digest.length, 8);
        out.append(name);
        for (const BlockDigest& block : digest.blocks) {
            putLe(out, block.low, 8);
            putLe(out, block.high, 8);
        }
    }
    putLe(out, XXH3_64bits(out.data(), out.size()), 8);
    out.append(kEndMark, sizeof kEndMark);
    return out;
}

std::unordered_map<std::string, ContentDigest> ContentDigests::decode(const std::string& bytes)
{
    std::unordered_map<std::string, ContentDigest> none;
    if (bytes.size() < kHeaderSize + kTrailerSize ||
        std::memcmp(bytes.data() + bytes.size() - sizeof kEndMark, kEndMark, sizeof kEndMark) != 0)
        return none;
    const std::string_view body(bytes.data(), bytes.size() - kTrailerSize);
    uint64_t checksum = 0;
    ByteReader trailer(std::string_view(bytes).substr(body.size(), 8));
    if (!trailer.le(8, checksum) || checksum != XXH3_64bits(body.data(), body.size()))
        return none;

    ByteReader in(body);
    std::string_view magic;
    uint64_t count = 0, zero = 0;
    if (!in.take(sizeof kMagic, magic) || std::memcmp(magic.data(), kMagic, sizeof kMagic) != 0 ||
        !in.le(4, count) || !in.le(4, zero) || zero != 0)
        return none;
    // Every entry takes at least its header and a one-byte name.
    if (count > body.size() / (kEntryHeaderSize + 1))
        return none;
    std::unordered_map<std::string, ContentDigest> entries;
    for (uint64_t k = 0; k < count; ++k) {
        uint64_t nameLength = 0, mode = 0, reserved = 0, blocks = 0;
        uint64_t device = 0, inode = 0, size = 0, modified = 0, changed = 0, length = 0;
        std::string_view name;
        if (!in.le(2, nameLength) || !in.le(1, mode) || !in.le(1, reserved) || !in.le(4, blocks) ||
            !in.le(8, device) || !in.le(8, inode) || !in.le(8, size) || !in.le(8, modified) ||
            !in.le(8, changed) || !in.le(8, length))
            return none;
        if (nameLength == 0 || nameLength > kMaxNameBytes || mode > 1 || reserved != 0 ||
            blocks > kMaxDigestBlocks || blocks != blocksFor(length) ||
            !in.take(nameLength, name) || name.find('\0') != std::string_view::npos)
            return none;
        ContentDigest digest;
        digest.stamp = {device, inode, static_cast<int64_t>(size), static_cast<int64_t>(modified),
                        static_cast<int64_t>(changed)};
        digest.mode = mode == 1 ? FileMode::Text : FileMode::Binary;
        digest.length = length;
        digest.blocks.resize(blocks);
        for (BlockDigest& block : digest.blocks)
            if (!in.le(8, block.low) || !in.le(8, block.high))
                return none;
        if (!entries.emplace(std::string(name), std::move(digest)).second)
            return none; // one name twice: not a file this program wrote
    }
    if (!in.atEnd())
        return none;
    return entries;
}

} // namespace sentorix
