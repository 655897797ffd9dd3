// The addresses a check fetches: the URL of a web document and the parts of an FTP location.
#pragma once

#include "monitor/data/DocumentRecord.h"
#include "platform/UrlSession.h"

#include <optional>
#include <string>
#include <string_view>

namespace sentorix
{

// The longest URL the system opens; longer ones (long credentials with a long location) are
// refused rather than cut.
inline constexpr std::size_t kMaxUrlLength = 511;

struct WebRequest {
    std::string url;         // what curl opens: never holds the credentials
    Credentials credentials; // given to curl apart from the URL
    bool tooLong = false;    // the URL with its credentials would exceed kMaxUrlLength
};

// With an account the URL is the prefix ("https://" when the location contains "s://" or
// "S://", else "http://") followed by the text after the location's first "://" (or the whole
// location when it has none); the user name and password count towards the length as if
// written "prefix user:password@rest". Without an account the location is used as it stands.
WebRequest buildWebRequest(const DocumentRecord& record);

// Splits an FTP location ("[scheme://]server/dir/.../file", / and \ both separating) into
// server, directory (empty when there is none) and file name; nullopt when the location has
// no separator after the server, no file separator past its first character, or a CR or LF.
std::optional<FtpTarget> splitFtpLocation(std::string_view location);

} // namespace sentorix
