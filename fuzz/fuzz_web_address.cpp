// Web addresses as typed, and as a damaged record holds them with an account: the stored form
// always has its scheme, and a URL is never longer than the limit nor holds the credentials.
#include "fuzz/FuzzSupport.h"

#include "common/FixedText.h"
#include "monitor/check/WebAddress.h"
#include "monitor/data/DocumentValidation.h"

#include <string>
#include <string_view>

using namespace sentorix;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string stored = normalizeWebAddress(text);
    fuzz::require(stored.rfind("http://", 0) == 0 || stored.rfind("https://", 0) == 0,
                  "a stored web address without its scheme");
    fuzz::require(webAddressPrefix(text) + std::string(webAddressRest(text)) == stored,
                  "prefix and rest do not make the stored address");

    // The first bytes as the account, the rest as the location of a record.
    DocumentRecord record{};
    const std::size_t split = size > 0 ? data[0] % 64 : 0;
    const std::size_t userEnd = std::min(size, 1 + split);
    setFieldText(record.userName, text.substr(std::min<std::size_t>(1, size),
                                              userEnd - std::min<std::size_t>(1, size)));
    setFieldText(record.password, text.substr(userEnd, std::min<std::size_t>(size - userEnd, 16)));
    setFieldText(record.location, text.substr(std::min(size, userEnd + 16)));
    for (int32_t account : {0, 1}) {
        record.useAccount = account;
        const WebRequest request = buildWebRequest(record);
        if (request.tooLong)
            continue;
        fuzz::require(request.url.size() <= kMaxUrlLength, "a URL over the limit");
        fuzz::require(request.credentials.useAccount == (account == 1), "the account was lost");
    }
    return 0;
}
