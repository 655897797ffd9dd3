// The MessageLog as the mailer reads it, from any bytes: one file, and the same bytes cut into
// two claimed files read as one text.
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
    return 0;
}
