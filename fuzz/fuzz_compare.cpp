// The three comparison methods over arbitrary stored and new bodies, in text and binary mode:
// the block comparison, the streamed comparison of a web body fed in uneven pieces, by reading
// the ContentFile and by its digest (each must find a difference exactly when the bytes differ
// and then hold the whole new body in its TempFile), the count and the middle.
//
// Input: one byte of flags, three lengths (count string, middle start, middle end, each mod
// 32), those strings, one byte for the piece size, then the stored body and the new body
// split at the middle of what is left.
#include "fuzz/FuzzSupport.h"

#include "common/TextFile.h"
#include "monitor/check/Compare.h"

#include <string>
#include <string_view>

using namespace sentorix;

namespace
{

struct Reader {
    const uint8_t* data;
    std::size_t size;
    std::size_t at = 0;
    uint8_t byte() { return at < size ? data[at++] : 0; }
    std::string_view take(std::size_t n)
    {
        n = std::min(n, size - at);
        std::string_view out(reinterpret_cast<const char*>(data) + at, n);
        at += n;
        return out;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    Reader in{data, size};
    const uint8_t flags = in.byte();
    const std::size_t countLength = in.byte() % 32;
    const std::size_t startLength = in.byte() % 32;
    const std::size_t endLength = in.byte() % 32;
    const std::string needle(in.take(countLength));
    const std::string start(in.take(startLength));
    const std::string end(in.take(endLength));
    const std::size_t piece = 1 + in.byte();
    const std::string_view rest = in.take(size);
    const std::string_view stored = rest.substr(0, rest.size() / 2);
    const std::string_view fresh = rest.substr(rest.size() / 2);
    const FileMode mode = (flags & 1) ? FileMode::Text : FileMode::Binary;

    const std::string& folder = fuzz::scratchFolder();
    const std::string contentPath = folder + "/doc.content";
    const std::string freshPath = folder + "/fresh.bin";
    const std::string middlePath = folder + "/doc.middle";
    fuzz::require(writeFileReplacing(contentPath, stored.data(), stored.size(), mode),
                  "cannot store the content");
    fuzz::require(writeFileReplacing(freshPath, fresh.data(), fresh.size(), mode),
                  "cannot store the new body");

    {
        InputFile newFile, contentFile;
        fuzz::require(newFile.open(freshPath, mode) && contentFile.open(contentPath, mode),
                      "cannot open the stored files");
        fuzz::require(compareFileBlocks(newFile, contentFile) != Sameness::Failed,
                      "the block comparison failed on readable files");
    }
    // The stored content's digest, as the body that became it would have given it.
    ContentDigest storedDigest;
    {
        BlockDigester digester;
        digester.feed(stored.data(), stored.size());
        storedDigest.mode = mode;
        storedDigest.length = digester.length();
        storedDigest.blocks = digester.finish().value_or(std::vector<BlockDigest>{});
    }
    for (const bool digested : {false, true}) {
        InputFile contentFile;
        fuzz::require(contentFile.open(contentPath, mode), "cannot open the content");
        StreamComparison body(folder, mode, &contentFile, digested ? &storedDigest : nullptr);
        bool fed = true;
        for (std::size_t at = 0; at < fresh.size() && fed; at += piece)
            fed = body.feed(fresh.data() + at, std::min(piece, fresh.size() - at));
        fuzz::require(fed && body.finish(), "the streamed comparison failed");
        fuzz::require(body.different() == (stored != fresh),
                      "the streamed comparison is wrong about the difference");
        if (body.different()) {
            InputFile temp;
            fuzz::require(temp.open(body.tempPath(), mode), "no TempFile for a difference");
            std::string held(fresh.size() + 1, '\0');
            const long got = temp.read(held.data(), held.size());
            fuzz::require(got >= 0 &&
                              std::string_view(held.data(), static_cast<std::size_t>(got)) == fresh,
                          "the TempFile does not hold the new body");
        }
        body.discard();
    }
    fuzz::require(countOccurrences(freshPath, needle) >= 0, "the count failed on a readable file");
    if (extractMiddle(contentPath, start, end, middlePath) == 1)
        (void)compareMiddle(freshPath, start, end, middlePath);
    removeFile(middlePath);
    return 0;
}
