// The MessageLog as the mailer reads it, from any bytes: one file, the same bytes cut into two
// claimed files read as one text, and those two files read entry by entry as a run's batch.
#include "fuzz/FuzzSupport.h"

#include "common/MailHandoff.h"

using namespace sentorix;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string whole = fuzz::writeScratchFile(kMessageLogFile, data, size);
    const std::string body = readMessageBody(whole);
    fuzz::require(!body.empty(), "an empty body");

    const std::size_t half = size / 2;
    const std::string first = fuzz::writeScratchFile("first.claimed", data, half);
    const std::string second = fuzz::writeScratchFile("second.claimed", data + half, size - half);
    const std::string joined = readMessageBody({first, second});
    fuzz::require(!joined.empty(), "an empty body from two files");

    // The mailer's batch reader: whole entries only, within the body's size.
    const MessageBatch batch = readMessageBatch({first, second});
    fuzz::require(!batch.body.empty(), "an empty batch body");
    for (const MessageBatch::File& file : batch.files) {
        std::size_t previous = 0;
        for (std::size_t end : file.entryEnds) {
            fuzz::require(end >= previous && end <= file.raw.size(), "an entry end out of order");
            previous = end;
        }
        fuzz::require(file.taken <= file.entryEnds.size(), "more entries taken than read");
    }
    return 0;
}
