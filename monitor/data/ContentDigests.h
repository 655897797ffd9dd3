// Digests of the stored contents, so that a fetch compared whole need not read its ContentFile
// again to find it unchanged.
//
// Each entry belongs to one version of one ContentFile: it holds the file's stamp (device,
// inode, size, modification and change times), the file mode the content was read in and a
// 128-bit XXH3 digest of every 64 KiB block of the content as read in that mode. An entry is
// used only while the file still has that stamp: a ContentFile is only ever replaced through a
// rename, which gives it another inode and change time, and any write into it changes its
// times, so a stale entry is never taken for the file. Without a usable entry the content is
// read and compared as before, and the entry is made from that.
//
// The entries are a cache: losing them costs one reading comparison per document, nothing
// else. They are kept in memory, read once from Sentorix.digests and written back at exit
// (through a temporary sibling and a rename) when they changed; a file that is cut, damaged or
// hostile is ignored whole.
//
// File layout (little-endian): "SNTXDG01", uint32 entry count, uint32 zero; per entry: uint16
// name length (1..255), uint8 mode (0 binary, 1 text), uint8 zero, uint32 block count (at most
// kMaxDigestBlocks, and as many as the length needs), uint64 device, uint64 inode, int64 size,
// int64 modification time and int64 change time in nanoseconds, uint64 content length, the
// name, then 16 bytes per block (low, then high half of the digest). Then the XXH3 64-bit
// digest of everything before it and "SNTXDG$$".
#pragma once

#include "common/TextFile.h"

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace sentorix
{

inline constexpr const char* kContentDigestsFile = "Sentorix.digests";
inline constexpr std::size_t kDigestBlock = 64 * 1024;
// Contents above 16 MiB get no entry: they are compared by reading them, and no entry grows
// beyond 4 KiB.
inline constexpr std::size_t kMaxDigestBlocks = 256;

// What tells one version of a file from another.
struct FileStamp {
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t size = 0;
    int64_t modifiedNs = 0;
    int64_t changedNs = 0;
    bool operator==(const FileStamp&) const = default;
};

// The stamp of an open file or of a path (not following a final link), or of what stat()
// told; nullopt when it cannot be had or is not a regular file's.
std::optional<FileStamp> fileStamp(int fd);
std::optional<FileStamp> fileStamp(const std::string& path);
std::optional<FileStamp> fileStamp(const struct stat& st);

struct BlockDigest {
    uint64_t low = 0;
    uint64_t high = 0;
    bool operator==(const BlockDigest&) const = default;
};

// The digest of bytes held whole in memory, as a block's is made.
BlockDigest bytesDigest(const void* data, std::size_t size);

struct ContentDigest {
    FileStamp stamp;
    FileMode mode = FileMode::Binary;
    uint64_t length = 0;             // bytes of the content as read in `mode`
    std::vector<BlockDigest> blocks; // one per kDigestBlock bytes, the last one shorter
};

// The block digests of bytes fed in order.
class BlockDigester
{
public:
    BlockDigester();
    ~BlockDigester();
    BlockDigester(const BlockDigester&) = delete;
    BlockDigester& operator=(const BlockDigester&) = delete;

    void feed(const char* data, std::size_t size);
    // The digests of the blocks completed so far.
    const std::vector<BlockDigest>& fullBlocks() const { return m_blocks; }
    uint64_t length() const { return m_length; }
    // All the blocks, the last partial one included; nullopt for a content of more than
    // kMaxDigestBlocks blocks, or when the digest state could not be had. Call once, at the end.
    std::optional<std::vector<BlockDigest>> finish();

private:
    void endBlock();

    void* m_state; // XXH3_state_t, kept out of this header
    std::size_t m_inBlock = 0;
    uint64_t m_length = 0;
    std::vector<BlockDigest> m_blocks;
    bool m_tooLong = false;
};

// Thread-safe: the workers look up and put entries while the UI thread may save them.
class ContentDigests
{
public:
    explicit ContentDigests(std::string dataFolder);

    // The entry of the ContentFile of `name` when it was made for a file of this stamp, read in
    // this mode. The first call reads the DataFolder's file.
    std::optional<ContentDigest> find(const std::string& name, const FileStamp& stamp,
                                      FileMode mode);
    void put(const std::string& name, ContentDigest digest);
    void forget(const std::string& name);

    // Writes the entries of the names in `keep` when any entry changed since the file was read;
    // false when the write failed (the old file then stays, and is still safe to use).
    bool save(const std::unordered_set<std::string>& keep);

    // The file's bytes for `entries`, and the entries of a file's bytes (empty for any damage).
    static std::string encode(const std::unordered_map<std::string, ContentDigest>& entries);
    static std::unordered_map<std::string, ContentDigest> decode(const std::string& bytes);

private:
    void loadOnce();

    const std::string m_dataFolder;
    std::mutex m_mutex;
    bool m_loaded = false;
    bool m_changed = false;
    std::unordered_map<std::string, ContentDigest> m_entries;
};

} // namespace sentorix
