#include "platform/UrlSession.h"

#include <curl/curl.h>

#include <algorithm>
#include <mutex>
#include <string_view>

namespace sentorix
{
namespace
{

// curl_global_init must run once before any handle is made, and not on two threads at once.
void initCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct SinkState {
    const BodySink* sink = nullptr;
    bool refused = false;
};

// curl's write callback: hands the data on in pieces of at most kBodyPieceSize bytes.
size_t writeBody(char* data, size_t size, size_t count, void* user)
{
    auto* state = static_cast<SinkState*>(user);
    const size_t total = size * count;
    size_t done = 0;
    while (done < total) {
        const size_t piece = std::min(kBodyPieceSize, total - done);
        if (!(*state->sink)(data + done, piece)) {
            state->refused = true;
            return 0; // anything short of `total` stops the transfer
        }
        done += piece;
    }
    return total;
}

bool isHostByte(unsigned char c)
{
    if (c >= 0x80) // international names are left to curl's name handling
        return true;
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    return c == '.' || c == '-' || c == '_' || c == ':' || c == '[' || c == ']';
}

void appendEscaped(std::string& out, const std::string& part)
{
    static const char* hex = "0123456789ABCDEF";
    for (unsigned char c : part) {
        const bool unreserved = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                                (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' ||
                                c == '~';
        if (unreserved) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 0x0F]);
        }
    }
}

// A login is handed to curl only when no byte of it can end a protocol line: a CR or LF in a
// user name would end the FTP USER command and start one of the server's choosing.
bool loginSafe(const Credentials& credentials)
{
    if (!credentials.useAccount)
        return true;
    const std::string_view breaks("\r\n\0", 3);
    return credentials.userName.find_first_of(breaks) == std::string::npos &&
           credentials.password.find_first_of(breaks) == std::string::npos;
}

FetchResult unsafeLogin()
{
    FetchResult result;
    result.status = FetchStatus::Failed;
    result.error = "the user name or password holds a line break";
    return result;
}

} // namespace

std::string buildFtpUrl(const FtpTarget& target)
{
    if (target.server.empty() || target.fileName.empty())
        return {};
    for (char c : target.server) {
        if (!isHostByte(static_cast<unsigned char>(c)))
            return {};
    }
    std::string url = "ftp://" + target.server + "/";
    // Directory parts are escaped one by one and joined with '/', so curl sends the directory
    // in one CWD with the separators it had (a backslash counts as one).
    std::string part;
    for (char c : target.directory) {
        if (c == '/' || c == '\\') {
            appendEscaped(url, part);
            url.push_back('/');
            part.clear();
        } else {
            part.push_back(c);
        }
    }
    if (!target.directory.empty()) {
        appendEscaped(url, part);
        url.push_back('/');
    }
    appendEscaped(url, target.fileName);
    return url;
}

UrlSession::UrlSession(const SessionSettings& settings) : m_settings(settings)
{
    initCurlOnce();
    m_curl = curl_easy_init();
}

UrlSession::~UrlSession()
{
    if (m_curl)
        curl_easy_cleanup(static_cast<CURL*>(m_curl));
}

void UrlSession::applyCommonOptions(const Credentials& credentials)
{
    CURL* curl = static_cast<CURL*>(m_curl);
    const TransferBounds& b = m_settings.bounds;
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, static_cast<long>(kBodyPieceSize));
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, std::max(1L, b.connectTimeoutMs));
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, std::max(1L, b.lowSpeedBytesPerSecond));
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, std::max(1L, b.stallSeconds));
    if (b.maxTransferSeconds > 0)
        curl_easy_setopt(curl, CURLOPT_TIMEOUT, b.maxTransferSeconds);
    if (credentials.useAccount) {
        curl_easy_setopt(curl, CURLOPT_USERNAME, credentials.userName.c_str());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, credentials.password.c_str());
    }
}

FetchResult UrlSession::fetchWeb(const std::string& url, const Credentials& credentials,
                                 const BodySink& sink)
{
    FetchResult result;
    if (!m_curl)
        return result;
    if (!loginSafe(credentials))
        return unsafeLogin();
    CURL* curl = static_cast<CURL*>(m_curl);
    curl_easy_reset(curl);
    applyCommonOptions(credentials);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_DEFAULT_PROTOCOL, "http");
    curl_easy_setopt(curl, CURLOPT_USERAGENT, kUserAgent);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
    if (credentials.useAccount)
        curl_easy_setopt(curl, CURLOPT_HTTPAUTH, CURLAUTH_ANY);
    if (!m_settings.caBundle.empty())
        curl_easy_setopt(curl, CURLOPT_CAINFO, m_settings.caBundle.c_str());
    // Always from the server: no cache on the way may answer for it.
    curl_slist* headers = nullptr;
    headers = curl_slist_append(headers, "Cache-Control: no-cache");
    headers = curl_slist_append(headers, "Pragma: no-cache");
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    if (curl_easy_setopt(curl, CURLOPT_URL, url.c_str()) != CURLE_OK) {
        curl_slist_free_all(headers);
        return result;
    }
    result = perform(sink);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, static_cast<curl_slist*>(nullptr));
    curl_slist_free_all(headers);
    return result;
}

FetchResult UrlSession::fetchFtp(const FtpTarget& target, const Credentials& credentials,
                                 const BodySink& sink)
{
    FetchResult result;
    if (!m_curl)
        return result;
    if (!loginSafe(credentials))
        return unsafeLogin();
    const std::string url = buildFtpUrl(target);
    if (url.empty()) {
        result.status = FetchStatus::Failed;
        result.error = "not a usable FTP server or file name";
        return result;
    }
    CURL* curl = static_cast<CURL*>(m_curl);
    curl_easy_reset(curl);
    applyCommonOptions(credentials);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "ftp");
    curl_easy_setopt(curl, CURLOPT_FTPPORT, "-");
    curl_easy_setopt(curl, CURLOPT_ACCEPTTIMEOUT_MS,
                     std::max(1L, m_settings.bounds.connectTimeoutMs));
    curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT,
                     std::max(1L, m_settings.bounds.stallSeconds));
    curl_easy_setopt(curl, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_SINGLECWD));
    curl_easy_setopt(curl, CURLOPT_TRANSFERTEXT, 0L);
    if (curl_easy_setopt(curl, CURLOPT_URL, url.c_str()) != CURLE_OK)
        return result;
    return perform(sink);
}

FetchResult UrlSession::perform(const BodySink& sink)
{
    CURL* curl = static_cast<CURL*>(m_curl);
    SinkState state;
    state.sink = &sink;
    char errorText[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, writeBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &state);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
    const CURLcode code = curl_easy_perform(curl);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, static_cast<char*>(nullptr));

    FetchResult result;
    result.curlCode = static_cast<int>(code);
    result.error = errorText[0] ? std::string(errorText) : std::string(curl_easy_strerror(code));
    if (code == CURLE_OK)
        result.status = FetchStatus::Complete;
    else if (state.refused)
        result.status = FetchStatus::Refused;
    else
        result.status = FetchStatus::Failed;
    return result;
}

} // namespace sentorix
