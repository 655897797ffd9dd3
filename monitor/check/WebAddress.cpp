#include "monitor/check/WebAddress.h"

#include "common/FixedText.h"
#include "monitor/data/DocumentValidation.h"

namespace sentorix
{

WebRequest buildWebRequest(const DocumentRecord& record)
{
    WebRequest request;
    const std::string_view location = fieldText(record.location);
    if (record.useAccount != 1) {
        request.url = std::string(location);
        request.tooLong = request.url.size() > kMaxUrlLength;
        return request;
    }
    const std::string prefix = webAddressPrefix(location);
    const std::string_view rest = webAddressRest(location);

    request.credentials.useAccount = true;
    request.credentials.userName = std::string(fieldText(record.userName));
    request.credentials.password = std::string(fieldText(record.password));
    request.url = prefix + std::string(rest);
    const std::size_t formatted = prefix.size() + request.credentials.userName.size() + 1 +
                                  request.credentials.password.size() + 1 + rest.size();
    request.tooLong = formatted > kMaxUrlLength;
    return request;
}

std::optional<FtpTarget> splitFtpLocation(std::string_view location)
{
    auto isSeparator = [](char c) { return c == '/' || c == '\\'; };
    // A CR or LF would end an FTP command early wherever it stood; none is accepted.
    if (location.find_first_of("\r\n") != std::string_view::npos)
        return std::nullopt;

    // The scheme goes as in a web address: everything up to the first "://".
    const std::string_view text = webAddressRest(location);

    std::size_t first = 0;
    while (first < text.size() && !isSeparator(text[first]))
        ++first;
    if (first == text.size())
        return std::nullopt;

    // The file name follows the last separator found from the last character back to the
    // second one.
    std::size_t last = std::string_view::npos;
    for (std::size_t i = text.size(); i-- > 1;) {
        if (isSeparator(text[i])) {
            last = i;
            break;
        }
    }
    if (last == std::string_view::npos)
        return std::nullopt;

    FtpTarget target;
    target.server = std::string(text.substr(0, first));
    target.fileName = std::string(text.substr(last + 1));
    const std::string_view cut = text.substr(0, last);
    std::size_t dir = cut.find('/');
    if (dir == std::string_view::npos)
        dir = cut.find('\\');
    if (dir != std::string_view::npos)
        target.directory = std::string(cut.substr(dir + 1));
    return target;
}

} // namespace sentorix
