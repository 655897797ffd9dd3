#include "platform/UrlSession.h"

#include <curl/curl.h>

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
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

// What one read from a connection may take: large enough that a page of some dozen KiB arrives
// in a few reads (curl's own default is 16 KiB, the curl tool's 100 KiB); the sink still gets
// it in pieces of kBodyPieceSize.
constexpr long kReceiveBufferSize = 100 * 1024;

struct SinkState {
    const BodySink* sink = nullptr;
    CURL* curl = nullptr;
    bool web = false;
    long long maxBodyBytes = 0;
    long long received = 0;
    bool refused = false;   // the sink refused a piece
    bool httpError = false; // the final response has a status of 400 or more
    bool tooLarge = false;  // the body passed maxBodyBytes
    std::string lastReply;  // the last HTTP status line or FTP reply line, made printable
};

// Keeps the printable ASCII of a server's line (at most 120 bytes), so no byte of it can
// disturb a terminal or a list's tool tip.
std::string printable(std::string_view text, std::size_t limit = 120)
{
    std::string out;
    for (char c : text) {
        if (out.size() >= limit)
            break;
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7F)
            out.push_back(c);
        else if (c == '\t')
            out.push_back(' ');
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

// curl's header callback: keeps the status line of the latest HTTP response (a redirect's or
// an authentication round's is replaced by the next) and, for FTP, the server's latest reply.
size_t readHeader(char* data, size_t size, size_t count, void* user)
{
    auto* state = static_cast<SinkState*>(user);
    const size_t total = size * count;
    std::string_view line(data, total);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.remove_suffix(1);
    if (state->web) {
        if (line.size() > 5 && line.substr(0, 5) == "HTTP/")
            state->lastReply = printable(line);
    } else if (line.size() >= 3 && line[0] >= '1' && line[0] <= '5') {
        state->lastReply = printable(line);
    }
    return total;
}

// curl's write callback: hands the data on in pieces of at most kBodyPieceSize bytes. The
// body of an HTTP error response is not handed on: the transfer stops at its first byte.
size_t writeBody(char* data, size_t size, size_t count, void* user)
{
    auto* state = static_cast<SinkState*>(user);
    const size_t total = size * count;
    if (state->web && state->received == 0) {
        long code = 0;
        curl_easy_getinfo(state->curl, CURLINFO_RESPONSE_CODE, &code);
        if (code >= 400) {
            state->httpError = true;
            return 0;
        }
    }
    state->received += static_cast<long long>(total);
    if (state->maxBodyBytes > 0 && state->received > state->maxBodyBytes) {
        state->tooLarge = true;
        return 0;
    }
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

// curl's progress callback, called at least once a second: a non-zero return ends the
// transfer.
int cancelWhenAsked(void* flag, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<const std::atomic<bool>*>(flag)->load() ? 1 : 0;
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
    result.reason = result.error;
    return result;
}

// Browsers send a blank typed in an address as %20; curl refuses the URL instead.
std::string escapeBlanks(const std::string& url)
{
    std::string out;
    out.reserve(url.size());
    for (char c : url) {
        if (c == ' ')
            out += "%20";
        else
            out.push_back(c);
    }
    return out;
}

bool readable(const char* path)
{
    return path && *path && ::access(path, R_OK) == 0;
}

// A folder of certificates counts when it holds anything: a system without ca-certificates
// may still have the empty folder.
bool holdsEntries(const char* path)
{
    if (!path || !*path)
        return false;
    DIR* folder = ::opendir(path);
    if (!folder)
        return false;
    bool found = false;
    while (const dirent* entry = ::readdir(folder)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
            found = true;
            break;
        }
    }
    ::closedir(folder);
    return found;
}

// The text after `marker` in curl's error text, or the whole text.
std::string after(const std::string& text, std::string_view marker)
{
    const std::size_t at = text.find(marker);
    return printable(at == std::string::npos ? std::string_view(text)
                                             : std::string_view(text).substr(at + marker.size()));
}

std::string mebibytes(long long bytes)
{
    return std::to_string(bytes >> 20) + " MiB";
}

// The reason of a failed transfer, for the user.
std::string failureReason(CURL* curl, CURLcode code, const SinkState& state,
                          const std::string& error, bool ownTrust)
{
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    if (state.httpError || (state.web && status >= 400)) {
        // "HTTP/1.1 404 Not Found": the server's own phrase; HTTP/2 sends none.
        std::string phrase;
        const std::size_t first = state.lastReply.find(' ');
        const std::size_t second =
            first == std::string::npos ? std::string::npos : state.lastReply.find(' ', first + 1);
        if (second != std::string::npos)
            phrase = state.lastReply.substr(second + 1);
        if (phrase.empty())
            phrase = httpStatusText(status);
        return "HTTP " + std::to_string(status) + (phrase.empty() ? "" : " " + phrase);
    }
    if (state.tooLarge || code == CURLE_FILESIZE_EXCEEDED)
        return "larger than " + mebibytes(state.maxBodyBytes);
    switch (code) {
    case CURLE_OPERATION_TIMEDOUT: {
        double seconds = 0;
        curl_easy_getinfo(curl, CURLINFO_TOTAL_TIME, &seconds);
        return "timed out after " + std::to_string(std::lround(std::max(seconds, 1.0))) + " s";
    }
    case CURLE_COULDNT_RESOLVE_HOST:
        return "could not resolve host " + after(error, "host: ");
    case CURLE_COULDNT_RESOLVE_PROXY:
        return "could not resolve proxy " + after(error, "proxy: ");
    case CURLE_COULDNT_CONNECT: {
        long osError = 0;
        curl_easy_getinfo(curl, CURLINFO_OS_ERRNO, &osError);
        if (osError == ECONNREFUSED)
            return "connection refused";
        if (osError == ENETUNREACH)
            return "network unreachable";
        if (osError == EHOSTUNREACH)
            return "host unreachable";
        return "could not connect";
    }
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CERTPROBLEM: {
        if (!ownTrust) {
            // The system's store: a machine without ca-certificates trusts no one.
            char* file = nullptr;
            char* folder = nullptr;
            curl_easy_getinfo(curl, CURLINFO_CAINFO, &file);
            curl_easy_getinfo(curl, CURLINFO_CAPATH, &folder);
            if (!readable(file) && !holdsEntries(folder))
                return "no trusted certificate authorities on this system (install the "
                       "ca-certificates package)";
        }
        if (code == CURLE_SSL_CACERT_BADFILE)
            return "cannot read the trusted certificate authorities";
        return "TLS certificate problem: " + after(error, "certificate problem: ");
    }
    case CURLE_SSL_CONNECT_ERROR:
        return "TLS handshake failed";
    case CURLE_GOT_NOTHING:
        return "the server closed the connection without answering";
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
        return "the transfer broke off";
    case CURLE_URL_MALFORMAT:
        return "not a usable address";
    case CURLE_TOO_MANY_REDIRECTS:
        return "too many redirects";
    case CURLE_LOGIN_DENIED:
        return state.lastReply.empty() ? "login refused" : "FTP " + state.lastReply;
    default:
        break;
    }
    if (!state.web && status >= 400 && !state.lastReply.empty())
        return "FTP " + state.lastReply;
    return printable(error);
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

struct ConnectionShare::Locks {
    std::mutex data[CURL_LOCK_DATA_LAST];
};

namespace
{

void lockShare(CURL*, curl_lock_data data, curl_lock_access, void* user)
{
    static_cast<ConnectionShare::Locks*>(user)->data[data].lock();
}

void unlockShare(CURL*, curl_lock_data data, void* user)
{
    static_cast<ConnectionShare::Locks*>(user)->data[data].unlock();
}

} // namespace

ConnectionShare::ConnectionShare()
{
    initCurlOnce();
    CURLSH* share = curl_share_init();
    if (!share)
        return;
    m_locks = new Locks;
    curl_share_setopt(share, CURLSHOPT_LOCKFUNC, lockShare);
    curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, unlockShare);
    curl_share_setopt(share, CURLSHOPT_USERDATA, m_locks);
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    m_share = share;
}

ConnectionShare::~ConnectionShare()
{
    if (m_share)
        curl_share_cleanup(static_cast<CURLSH*>(m_share));
    delete m_locks;
}

UrlSession::UrlSession(const SessionSettings& settings, ConnectionShare* share)
    : m_settings(settings), m_share(share && share->handle() ? share : nullptr)
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
    curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, static_cast<long>(kReceiveBufferSize));
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, std::max(1L, b.connectTimeoutMs));
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, std::max(1L, b.lowSpeedBytesPerSecond));
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, std::max(1L, b.stallSeconds));
    if (b.maxTransferSeconds > 0)
        curl_easy_setopt(curl, CURLOPT_TIMEOUT, b.maxTransferSeconds);
    if (b.maxBodyBytes > 0)
        curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(b.maxBodyBytes));
    if (m_share)
        curl_easy_setopt(curl, CURLOPT_SHARE, static_cast<CURLSH*>(m_share->handle()));
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
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS));
    if (credentials.useAccount)
        curl_easy_setopt(curl, CURLOPT_HTTPAUTH, CURLAUTH_ANY);
    if (!m_settings.caBundle.empty())
        curl_easy_setopt(curl, CURLOPT_CAINFO, m_settings.caBundle.c_str());
    // Always from the server: no cache on the way may answer for it.
    curl_slist* headers = nullptr;
    headers = curl_slist_append(headers, "Cache-Control: no-cache");
    headers = curl_slist_append(headers, "Pragma: no-cache");
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    const std::string sent = escapeBlanks(url);
    if (curl_easy_setopt(curl, CURLOPT_URL, sent.c_str()) != CURLE_OK) {
        curl_slist_free_all(headers);
        return result;
    }
    result = perform(sink, true);
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
        result.reason = result.error;
        return result;
    }
    CURL* curl = static_cast<CURL*>(m_curl);
    applyFtpOptions(credentials);
    if (curl_easy_setopt(curl, CURLOPT_URL, url.c_str()) != CURLE_OK)
        return result;
    return perform(sink, false);
}

void UrlSession::applyFtpOptions(const Credentials& credentials)
{
    CURL* curl = static_cast<CURL*>(m_curl);
    // A reset keeps the session's open connection, so the steps of a test share one login.
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
    // The path as typed: "pub/../secret" names what the server makes of it, never a file
    // that curl's own dot-segment squashing would pick.
    curl_easy_setopt(curl, CURLOPT_PATH_AS_IS, 1L);
}

// One step without a download: curl connects and logs in (reusing the session's connection)
// and changes to the directory the URL names, and transfers nothing.
FetchResult UrlSession::performFtpStep(const std::string& url)
{
    CURL* curl = static_cast<CURL*>(m_curl);
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    if (curl_easy_setopt(curl, CURLOPT_URL, url.c_str()) != CURLE_OK)
        return {};
    const BodySink none = [](const char*, std::size_t) { return false; };
    return perform(none, false);
}

FetchResult UrlSession::connectFtp(const FtpTarget& target, const Credentials& credentials)
{
    FetchResult result;
    if (!m_curl)
        return result;
    if (!loginSafe(credentials))
        return unsafeLogin();
    const std::string fileUrl = buildFtpUrl(target);
    if (fileUrl.empty()) {
        result.status = FetchStatus::Failed;
        result.error = "not a usable FTP server or file name";
        return result;
    }
    applyFtpOptions(credentials);
    return performFtpStep("ftp://" + target.server + "/");
}

FetchResult UrlSession::changeFtpDirectory(const FtpTarget& target, const Credentials& credentials)
{
    FetchResult result;
    if (!m_curl)
        return result;
    if (!loginSafe(credentials))
        return unsafeLogin();
    // The file's URL up to its last '/': the file name is escaped, so it holds no '/'.
    std::string url = buildFtpUrl(target);
    if (url.empty()) {
        result.status = FetchStatus::Failed;
        result.error = "not a usable FTP server or file name";
        return result;
    }
    url.erase(url.rfind('/') + 1);
    applyFtpOptions(credentials);
    return performFtpStep(url);
}

FetchResult UrlSession::perform(const BodySink& sink, bool web)
{
    CURL* curl = static_cast<CURL*>(m_curl);
    SinkState state;
    state.sink = &sink;
    state.curl = curl;
    state.web = web;
    state.maxBodyBytes = m_settings.bounds.maxBodyBytes;
    char errorText[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, writeBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &state);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, readHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &state);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
    if (m_settings.stop) {
        curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, cancelWhenAsked);
        curl_easy_setopt(curl, CURLOPT_XFERINFODATA,
                         const_cast<std::atomic<bool>*>(m_settings.stop));
        curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    }
    const CURLcode code = curl_easy_perform(curl);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, static_cast<char*>(nullptr));

    FetchResult result;
    result.curlCode = static_cast<int>(code);
    result.error = errorText[0] ? std::string(errorText) : std::string(curl_easy_strerror(code));
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &result.httpStatus);
    // An error response without a body never reaches the write callback.
    const bool httpError = web && result.httpStatus >= 400;
    if (code == CURLE_OK && !httpError)
        result.status = FetchStatus::Complete;
    else if (m_settings.stop && m_settings.stop->load())
        result.status = FetchStatus::Stopped;
    else if (state.refused)
        result.status = FetchStatus::Refused;
    else
        result.status = FetchStatus::Failed;
    if (result.status == FetchStatus::Failed)
        result.reason =
            failureReason(curl, code, state, result.error, !m_settings.caBundle.empty());
    return result;
}

const char* httpStatusText(long status)
{
    switch (status) {
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 402:
        return "Payment Required";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 406:
        return "Not Acceptable";
    case 407:
        return "Proxy Authentication Required";
    case 408:
        return "Request Timeout";
    case 409:
        return "Conflict";
    case 410:
        return "Gone";
    case 411:
        return "Length Required";
    case 412:
        return "Precondition Failed";
    case 413:
        return "Content Too Large";
    case 414:
        return "URI Too Long";
    case 415:
        return "Unsupported Media Type";
    case 416:
        return "Range Not Satisfiable";
    case 417:
        return "Expectation Failed";
    case 421:
        return "Misdirected Request";
    case 422:
        return "Unprocessable Content";
    case 425:
        return "Too Early";
    case 426:
        return "Upgrade Required";
    case 428:
        return "Precondition Required";
    case 429:
        return "Too Many Requests";
    case 431:
        return "Request Header Fields Too Large";
    case 451:
        return "Unavailable For Legal Reasons";
    case 500:
        return "Internal Server Error";
    case 501:
        return "Not Implemented";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    case 504:
        return "Gateway Timeout";
    case 505:
        return "HTTP Version Not Supported";
    case 507:
        return "Insufficient Storage";
    case 508:
        return "Loop Detected";
    case 511:
        return "Network Authentication Required";
    default:
        return "";
    }
}

} // namespace sentorix
