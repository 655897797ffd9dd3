// FTP locations as typed or as a damaged record holds them: split into server, directory and
// file, and made into the URL curl opens, in which no byte can end a command line.
#include "fuzz/FuzzSupport.h"

#include "monitor/check/WebAddress.h"

#include <string_view>

using namespace sentorix;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string_view location(reinterpret_cast<const char*>(data), size);
    const auto target = splitFtpLocation(location);
    if (!target)
        return 0;
    for (const std::string* part : {&target->server, &target->directory, &target->fileName})
        fuzz::require(part->find_first_of("\r\n") == std::string::npos,
                      "a line break in a part of an FTP location");
    const std::string url = buildFtpUrl(*target);
    for (unsigned char c : url)
        fuzz::require(c > 0x20 && c != 0x7F, "a control byte or blank in an FTP URL");
    return 0;
}
