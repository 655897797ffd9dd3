// One HTTP, HTTPS or FTP transfer over libcurl, its body handed to the caller piece by piece.
//
// A session lives for one check: it owns one curl easy handle and runs one transfer at a
// time on the calling thread. The body is never collected in memory: every piece (at most
// kBodyPieceSize bytes) goes to the caller's sink as it arrives, and the sink may stop the
// transfer by refusing a piece.
//
// Web requests: user agent "Sentorix - Tarnwick Lab", redirects followed (http and https
// only), the proxy taken from the environment (http_proxy, https_proxy, no_proxy, ...), the
// body exactly as received (no content decoding), no cache anywhere on the way. Credentials go
// to curl apart from the URL, so a user name or password holding @ : / or % still logs in;
// one holding a CR, LF or NUL is refused (Failed) before anything is sent, on every protocol.
// HTTPS trusts the system's certificate store unless a CA bundle is named.
//
// FTP requests: active mode (the server connects back to us), binary, one CWD to the
// directory and one RETR of the file, anonymous unless an account is given.
//
// Bounds: a connection that cannot be made within the connect bound, and a transfer that
// moves fewer than lowSpeedBytesPerSecond for stallSeconds on end (a silent server, one that
// sends a byte a minute), end with a failure.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace sentorix
{

inline constexpr std::size_t kBodyPieceSize = 8192;
inline constexpr const char* kUserAgent = "Sentorix - Tarnwick Lab";

struct TransferBounds {
    // Name lookup, TCP connect and TLS handshake; for FTP also the wait for the server's
    // data connection in active mode.
    long connectTimeoutMs = 20000;
    // A transfer slower than lowSpeedBytesPerSecond for stallSeconds in a row is ended;
    // this also ends the wait for a reply that never comes.
    long stallSeconds = 30;
    long lowSpeedBytesPerSecond = 64;
    // The whole transfer, 0 for no bound (a large file on a slow line may take long).
    long maxTransferSeconds = 0;
};

struct SessionSettings {
    TransferBounds bounds;
    // A PEM file of certificate authorities to trust instead of the system's store; empty
    // for the system's store.
    std::string caBundle;
};

enum class FetchStatus {
    Complete,  // the whole body arrived and was taken by the sink
    Failed,    // no connection, no response, refused login, missing file, or the body
               // ended early: the transfer did not complete
    Refused,   // the sink refused a piece; the transfer was stopped
    NoSession, // the session could not be set up (no curl handle, bad request)
};

struct FetchResult {
    FetchStatus status = FetchStatus::NoSession;
    int curlCode = 0;  // CURLcode of the transfer, for diagnostics
    std::string error; // curl's error text, for diagnostics
};

// Receives one piece of the body; returns false to stop the transfer.
using BodySink = std::function<bool(const char* data, std::size_t size)>;

struct Credentials {
    bool useAccount = false;
    std::string userName;
    std::string password;
};

// The parts of an FTP location: the server (which may end in ":PORT"), the directory relative
// to the login directory (empty for none; both / and \ separate its parts) and the file name.
struct FtpTarget {
    std::string server;
    std::string directory;
    std::string fileName;
};

// The ftp:// URL of a target: each directory part and the file name percent-escaped, so no
// byte of them can act as URL syntax. Empty when the server text cannot be a host name
// (empty, or holding characters such as @ ? # or blanks) or the file name is empty.
std::string buildFtpUrl(const FtpTarget& target);

class UrlSession
{
public:
    explicit UrlSession(const SessionSettings& settings);
    ~UrlSession();
    UrlSession(const UrlSession&) = delete;
    UrlSession& operator=(const UrlSession&) = delete;

    bool isOpen() const { return m_curl != nullptr; }

    // GET of an http:// or https:// URL; the body goes to `sink`.
    FetchResult fetchWeb(const std::string& url, const Credentials& credentials,
                         const BodySink& sink);

    // RETR of an FTP file in active mode; the file's bytes go to `sink`.
    FetchResult fetchFtp(const FtpTarget& target, const Credentials& credentials,
                         const BodySink& sink);

private:
    FetchResult perform(const BodySink& sink);
    void applyCommonOptions(const Credentials& credentials);

    void* m_curl = nullptr; // CURL*, kept opaque so no curl header leaks to callers
    SessionSettings m_settings;
};

} // namespace sentorix
