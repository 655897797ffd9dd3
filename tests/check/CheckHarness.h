// What the checking engine's tests share: an engine over a small table in a temporary
// DataFolder with a headless list, recording stand-ins for the timers, the sound service and
// the program start, the real HTTP/HTTPS and FTP peers, and a scripted server for the corners
// no real server produces (a silent server, a byte now and then, a body cut off).
#pragma once

#include "tests/support/TestSupport.h"

#include "common/Clock.h"

#include "monitor/check/CheckEngine.h"
#include "monitor/data/DocumentList.h"
#include "monitor/data/DocumentTable.h"
#include "monitor/data/MailSettingsStore.h"
#include "monitor/data/NotifiedList.h"
#include "monitor/data/Options.h"
#include "platform/ProgramLauncher.h"
#include "platform/Sound.h"
#include "tools/HeadlessView.h"

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sentorix::test
{

class RecordingTimers final : public TimerHost
{
public:
    void armTimer(int id, long long periodMs) override;
    void stopTimer(int id) override;
    // The period of a running timer, or -1.
    long long period(int id) const;
    int stops(int id) const;

private:
    mutable std::mutex m_mutex;
    std::map<int, long long> m_running;
    std::map<int, int> m_stops;
};

class RecordingSound final : public SoundPlayer
{
public:
    void play(const std::string& path) override;
    // The file names (without folder) played so far, in order.
    std::vector<std::string> played() const;
    void clear();

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_played;
};

class RecordingLauncher final : public ProgramLauncher
{
public:
    bool launchDetached(const std::string& program,
                        const std::vector<std::string>& arguments) override;
    std::atomic<bool> succeed{true};
    std::vector<std::vector<std::string>> calls() const;

private:
    mutable std::mutex m_mutex;
    std::vector<std::vector<std::string>> m_calls;
};

// The harness's view as the engine sees it: the HeadlessView, and a hook that runs on the
// worker itself when it starts the blink, right after an event was announced, so a test can
// look at the files at that moment. Set the hook before checks start.
class HookedView final : public MonitorView
{
public:
    explicit HookedView(HeadlessView& inner) : m_inner(inner) {}
    std::function<void()> onStartBlink;
    // Runs on the reporting thread before the row's redraw is queued (a worker reports the
    // claim of a document before it reads anything).
    std::function<void(int)> onRecordChanged;
    // Runs on the asking thread before the message box is queued.
    std::function<void(const std::string&)> onShowMessage;

    void recordChanged(int record) override
    {
        if (onRecordChanged)
            onRecordChanged(record);
        m_inner.recordChanged(record);
    }
    void selectRecord(int record) override { m_inner.selectRecord(record); }
    void startBlink() override
    {
        if (onStartBlink)
            onStartBlink();
        m_inner.startBlink();
    }
    void openDocument(int record, bool showMessages) override
    {
        m_inner.openDocument(record, showMessages);
    }
    MessageAnswer showMessage(const std::string& text, MessageIcon icon,
                              MessageButtons buttons) override
    {
        if (onShowMessage)
            onShowMessage(text);
        return m_inner.showMessage(text, icon, buttons);
    }
    void cancelPrompts() override { m_inner.cancelPrompts(); }

private:
    HeadlessView& m_inner;
};

// A clock that stands at kHarnessTimeText.
inline constexpr const char* kHarnessTimeText = "2011/05/07 [09:03:00]";
class FixedClock final : public Clock
{
public:
    std::tm localNow() const override;
};

// Short bounds, so the tests of dead servers end in a second or two.
SessionSettings testSessionSettings();

struct DocumentSpec {
    DocumentKind kind = DocumentKind::WebPage;
    std::string name;
    std::string location;
    std::string userName; // an account is used when either is non-empty
    std::string password;
    int countMode = 0;
    std::string countString;
    int middleMode = 0;
    std::string middleStart;
    std::string middleEnd;
    DocumentStatus status = DocumentStatus::Checked;
};

// A web page compared by the portion between "<b>" and "</b>".
DocumentSpec middleSpec(const std::string& name, const std::string& location);

class EngineHarness
{
public:
    explicit EngineHarness(int capacity = 16, std::string dataFolder = {});
    ~EngineHarness();

    // Puts a record into the first free slot and gives it a row; returns its index.
    int add(const DocumentSpec& spec);
    // Marks one document Waiting, starts workers and waits until they are done.
    DocumentStatus check(int index);
    // Waits for the workers as a UI thread does (delivering the view's reports meanwhile),
    // then delivers what is left.
    void settle();
    // After settle(): the list's selected records, and the redraws a record's row got (a claim
    // and the end of a check each redraw it once).
    std::vector<int> selected();
    int redraws(int record);

    std::string contentPath(int index) const;
    std::string middlePath(int index) const;
    std::string content(int index) const;
    bool hasContent(int index) const;
    // The .tmp files left in the DataFolder.
    std::vector<std::string> tempFiles() const;

    TempDir dataDir;
    TempDir installDir;
    std::string dataFolder;
    DocumentTable table;
    OptionsStore options;
    MailSettingsStore mail;
    NotifiedList notified;
    DocumentList list{table};
    HeadlessView view;
    HookedView hooks{view};
    RecordingTimers timers;
    RecordingSound sound;
    RecordingLauncher launcher;
    FixedClock clock;
    std::unique_ptr<CheckEngine> engine;
};

// The real HTTP(S) server of tests/peers serving the files of its own folder.
class HttpPeer
{
public:
    // With `certFile` and `keyFile` the server speaks HTTPS.
    explicit HttpPeer(std::string user = "", std::string password = "", std::string certFile = "",
                      std::string keyFile = "");
    bool start() { return m_process.start(); }
    void put(const std::string& name, const std::string& bytes) const;
    void remove(const std::string& name) const;
    std::string url(const std::string& path) const;
    int port() const { return m_process.port(); }
    // The connections the server accepted so far.
    int connections() const;

private:
    TempDir m_root;
    bool m_tls;
    PeerProcess m_process;
};

// The real FTP server of tests/peers: one account and anonymous access, both on its folder.
class FtpPeer
{
public:
    FtpPeer(std::string user, std::string password);
    bool start() { return m_process.start(); }
    void put(const std::string& relativePath, const std::string& bytes) const;
    int port() const { return m_process.port(); }
    // "127.0.0.1:<port>" followed by `path`.
    std::string location(const std::string& path) const;

private:
    TempDir m_root;
    PeerProcess m_process;
};

// A certificate authority and a server certificate for 127.0.0.1, made with openssl.
struct TestCertificates {
    bool make(const std::string& folder);
    std::string caFile;
    std::string certFile;
    std::string keyFile;
};

// A TCP server on 127.0.0.1 that answers every connection with a fixed misbehaviour.
class ScriptedServer
{
public:
    enum class Behaviour {
        Silent,        // reads the request and never answers
        Trickle,       // sends the headers, then one byte of the body every two seconds
        CutOff,        // promises 100000 bytes, sends 5000 and closes
        Endless,       // sends a body without end, as fast as it is taken
        SteadyTrickle, // sends 50 bytes every 100 ms without end (above the stall limit)
        HugeDeclared,  // declares a body of 3 GiB, then sends one without end
    };
    explicit ScriptedServer(Behaviour behaviour);
    ~ScriptedServer();
    bool start();
    int port() const { return m_port; }

private:
    void serve();
    void handle(int fd);

    Behaviour m_behaviour;
    int m_listen = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    std::mutex m_mutex;
    std::vector<std::thread> m_connections;
};

// A port on 127.0.0.1 where nothing listens.
int closedPort();

// Makes a folder immutable (not even root may create a file in it) for the life of the
// object; ok() is false where the file system does not allow it.
class ImmutableFolder
{
public:
    explicit ImmutableFolder(const std::string& path);
    ~ImmutableFolder();
    bool ok() const { return m_ok; }

private:
    std::string m_path;
    bool m_ok = false;
};

// Runs a program with arguments (no shell) and returns its exit status, -1 when it could not
// run.
int runProgram(const std::vector<std::string>& argv);

} // namespace sentorix::test
