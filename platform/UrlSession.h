// One HTTP, HTTPS or FTP transfer over libcurl, its body handed to the caller piece by piece.
//
// A session owns one curl easy handle and runs one transfer at a time on the calling thread.
// It may serve many transfers one after another (a check worker keeps one for its whole
// life): the handle keeps its live connections (HTTP keep-alive, HTTP/2 where the server
// offers it), its TLS session cache and its DNS cache between transfers, so the documents of
// one server are fetched over one connection. A ConnectionShare given to several sessions
// shares the DNS cache and the TLS sessions between them as well. The body is never collected in
// memory: every piece (at most kBodyPieceSize bytes) goes to the caller's sink as it arrives, and
// the sink may stop the transfer by refusing a piece.
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
// Bounds: a connection that cannot be made within the connect bound, a transfer that moves
// fewer than lowSpeedBytesPerSecond for stallSeconds on end (a silent server, one that sends a
// byte a minute), a transfer still running after maxTransferSeconds (a body trickling just
// above the stall limit) and a body larger than maxBodyBytes (an endless body) end with a
// failure.
//
// HTTP: a final response (after redirects) with a status of 400 or more is a failure; its
// body is not handed to the sink. Every failure carries a short reason for the user.
#pragma once

#include <atomic>
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
    // The whole transfer, connection included: two hours, room for a file of a few hundred
    // MiB on a slow line; 0 for no bound.
    long maxTransferSeconds = 7200;
    // The largest body taken: 2 GiB; 0 for no bound.
    long long maxBodyBytes = 2LL << 30;
    // The free space a body being stored must leave on the disk of the folder it goes to:
    // 100 MiB, so a large body never fills the disk the user works on; 0 for no margin. Kept
    // by the caller that stores the body.
    long long minFreeDiskBytes = 100LL << 20;
};

struct SessionSettings {
    TransferBounds bounds;
    // A PEM file of certificate authorities to trust instead of the system's store; empty
    // for the system's store.
    std::string caBundle;
    // When set: a transfer ends with FetchStatus::Stopped soon after the flag turns true
    // (libcurl asks at least about once a second, also while nothing arrives).
    const std::atomic<bool>* stop = nullptr;
};

enum class FetchStatus {
    Complete,  // the whole body arrived and was taken by the sink
    Failed,    // no connection, no response, refused login, missing file, an HTTP status of
               // 400 or more, a bound passed, or the body ended early: the transfer did not
               // complete
    Refused,   // the sink refused a piece; the transfer was stopped
    NoSession, // the session could not be set up (no curl handle, bad request)
    Stopped,   // the settings' stop flag was raised; the transfer was ended
};

struct FetchResult {
    FetchStatus status = FetchStatus::NoSession;
    int curlCode = 0;    // CURLcode of the transfer, for diagnostics
    std::string error;   // curl's error text, for diagnostics
    long httpStatus = 0; // the final response's status (or FTP reply code), 0 for none
    // Why the transfer failed, short and for the user: "HTTP 404 Not Found", "connection
    // refused", "could not resolve host example.org", "timed out after 20 s", "FTP 550 No such
    // file", "TLS certificate problem: ...". Empty when the transfer completed.
    std::string reason;
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

// The DNS cache and TLS sessions shared by several sessions on different threads (curl's
// share interface, each kind of data behind its own lock). Live connections stay with each
// session. Outlives every session given it.
class ConnectionShare
{
public:
    ConnectionShare();
    ~ConnectionShare();
    ConnectionShare(const ConnectionShare&) = delete;
    ConnectionShare& operator=(const ConnectionShare&) = delete;

    void* handle() const { return m_share; } // CURLSH*, null when it could not be made

    struct Locks; // one mutex per kind of shared data

private:
    void* m_share = nullptr;
    Locks* m_locks = nullptr;
};

class UrlSession
{
public:
    explicit UrlSession(const SessionSettings& settings, ConnectionShare* share = nullptr);
    ~UrlSession();
    UrlSession(const UrlSession&) = delete;
    UrlSession& operator=(const UrlSession&) = delete;

    bool isOpen() const { return m_curl != nullptr; }
    // Bounds and trust for the transfers from now on; the live connections are kept.
    void setSettings(const SessionSettings& settings) { m_settings = settings; }
    const SessionSettings& settings() const { return m_settings; }

    // GET of an http:// or https:// URL; the body goes to `sink`.
    FetchResult fetchWeb(const std::string& url, const Credentials& credentials,
                         const BodySink& sink);

    // RETR of an FTP file in active mode; the file's bytes go to `sink`.
    FetchResult fetchFtp(const FtpTarget& target, const Credentials& credentials,
                         const BodySink& sink);

    // The first steps of fetchFtp on their own, for a connection test that reports each:
    // connect and log in, then change to the target's directory. The session keeps the
    // connection between the steps, so fetchFtp afterwards goes on where they stopped.
    FetchResult connectFtp(const FtpTarget& target, const Credentials& credentials);
    FetchResult changeFtpDirectory(const FtpTarget& target, const Credentials& credentials);

private:
    FetchResult perform(const BodySink& sink, bool web);
    void applyCommonOptions(const Credentials& credentials);
    void applyFtpOptions(const Credentials& credentials);
    FetchResult performFtpStep(const std::string& url);

    void* m_curl = nullptr; // CURL*, kept opaque so no curl header leaks to callers
    SessionSettings m_settings;
    ConnectionShare* m_share = nullptr;
};

// The reason phrase of an HTTP status ("Not Found" for 404), empty for an unknown status.
const char* httpStatusText(long status);

} // namespace sentorix
