// Web pages and web files fetched from a real HTTP(S) server on 127.0.0.1: every outcome of a
// check, what the stored files become, and what is announced.

#include "CheckHarness.h"

#include "common/FixedText.h"
#include "common/TextFile.h"
#include "monitor/check/WebAddress.h"
#include "monitor/data/ContentDigests.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <memory>

namespace sentorix::test
{
namespace
{

const std::string kUser = "us@er/%41";
const std::string kPassword = "p@ss:w/rd%";

class WebRetrieval : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_server = std::make_unique<HttpPeer>(kUser, kPassword);
        ASSERT_TRUE(s_server->start());
    }
    static void TearDownTestSuite() { s_server.reset(); }

    // A page or file served under a name of this test's own.
    std::string serve(const std::string& bytes)
    {
        const std::string name =
            std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + ".bin";
        s_server->put(name, bytes);
        return name;
    }

    int addWeb(const std::string& path, DocumentKind kind = DocumentKind::WebPage)
    {
        DocumentSpec spec;
        spec.kind = kind;
        spec.name = "doc";
        spec.location = s_server->url(path);
        return h.add(spec);
    }

    int addCount(const std::string& path, const std::string& needle)
    {
        DocumentSpec spec;
        spec.name = "counted";
        spec.location = s_server->url(path);
        spec.countMode = 1;
        spec.countString = needle;
        return h.add(spec);
    }

    int addMiddle(const std::string& path, const std::string& start, const std::string& end)
    {
        DocumentSpec spec;
        spec.name = "middle";
        spec.location = s_server->url(path);
        spec.middleMode = 1;
        spec.middleStart = start;
        spec.middleEnd = end;
        return h.add(spec);
    }

    std::vector<std::string> played() const { return h.sound.played(); }

    static std::unique_ptr<HttpPeer> s_server;
    EngineHarness h;
};

std::unique_ptr<HttpPeer> WebRetrieval::s_server;

const std::vector<std::string> kNothing;
const std::vector<std::string> kAlert{"Sentorix.alert"};
const std::vector<std::string> kChange{"Sentorix.sound"};

// --- first fetch ---------------------------------------------------------------------------

TEST_F(WebRetrieval, FirstFetchStoresPageInTextModeAndFileAsReceived)
{
    const std::string body = "line one\nline two\r\nbinary \x01\xff end";
    const std::string path = serve(body);
    const int page = addWeb(path);
    EXPECT_EQ(h.check(page), DocumentStatus::Ready);
    EXPECT_EQ(h.content(page), "line one\r\nline two\r\r\nbinary \x01\xff end");

    h.table.clear(page);
    const int file = addWeb(path, DocumentKind::WebFile);
    removeFile(h.contentPath(file));
    EXPECT_EQ(h.check(file), DocumentStatus::Ready);
    EXPECT_EQ(h.content(file), body);
    EXPECT_EQ(played(), kNothing) << "a first fetch is never announced";
    EXPECT_TRUE(h.tempFiles().empty());
}

TEST_F(WebRetrieval, FirstFetchOfCountPageRecordsTheCountAndSavesTheRecord)
{
    const int doc = addCount(serve("aaaa b aa"), "aa");
    EXPECT_EQ(h.check(doc), DocumentStatus::Ready);
    EXPECT_EQ(h.table.get(doc).lastCount, 4);
    const std::string saved = readFile(h.dataFolder + "/counted.data");
    ASSERT_EQ(saved.size(), sizeof(DocumentRecord));
    DocumentRecord stored{};
    std::memcpy(&stored, saved.data(), sizeof stored);
    EXPECT_EQ(stored.lastCount, 4);
}

TEST_F(WebRetrieval, FirstFetchOfMiddlePageStoresTheMiddle)
{
    const int doc = addMiddle(serve("head <b>price 10</b> tail"), "<b>", "</b>");
    EXPECT_EQ(h.check(doc), DocumentStatus::Ready);
    EXPECT_EQ(readFile(h.middlePath(doc)), "price 10");
    EXPECT_TRUE(h.view.messages().empty());
}

TEST_F(WebRetrieval, FirstFetchWithoutTheMiddleStringsShowsOnlyTheMessage)
{
    const std::string body = "no markers here";
    const int doc = addMiddle(serve(body), "<b>", "</b>");
    EXPECT_EQ(h.check(doc), DocumentStatus::Unavailable);
    EXPECT_EQ(h.view.messages(), std::vector<std::string>{kMiddleNotFoundText});
    EXPECT_EQ(h.content(doc), body);
    EXPECT_FALSE(exists(h.middlePath(doc)));
    EXPECT_EQ(played(), kNothing);

    // With no MiddleFile every later check fails, now announced.
    EXPECT_EQ(h.check(doc), DocumentStatus::Unavailable);
    EXPECT_EQ(played(), kAlert);
}

// --- later fetches -------------------------------------------------------------------------

TEST_F(WebRetrieval, UnchangedPageIsCheckedAndLeavesNoTempFile)
{
    const int doc = addWeb(serve("same\r\nbody\n"));
    ASSERT_EQ(h.check(doc), DocumentStatus::Ready);
    const std::string stored = h.content(doc);
    EXPECT_EQ(h.check(doc), DocumentStatus::Checked);
    EXPECT_EQ(h.content(doc), stored);
    EXPECT_TRUE(h.tempFiles().empty());
    EXPECT_EQ(played(), kNothing);
}

TEST_F(WebRetrieval, ChangedPageReplacesTheContentAndIsAnnounced)
{
    const std::string path = serve("old");
    const int doc = addWeb(path);
    ASSERT_EQ(h.check(doc), DocumentStatus::Ready);
    OptionsRecord options = h.options.get();
    options.openChangedPage = 1;
    h.options.set(options);

    serve("new\n");
    EXPECT_EQ(h.check(doc), DocumentStatus::Changed);
    EXPECT_EQ(h.content(doc), "new\r\n");
    EXPECT_EQ(played(), kChange);
    EXPECT_EQ(h.selected(), std::vector<int>{doc});
    const auto opened = std::vector<std::pair<int, bool>>{{doc, false}};
    EXPECT_EQ(h.view.openRequests(), opened) << "opened with its messages off";
    EXPECT_TRUE(h.tempFiles().empty());
}

TEST_F(WebRetrieval, WebFileCutShortIsChanged)
{
    const int doc = addWeb(serve("abcdef"), DocumentKind::WebFile);
    ASSERT_EQ(h.check(doc), DocumentStatus::Ready);
    serve("abc");
    EXPECT_EQ(h.check(doc), DocumentStatus::Changed);
    EXPECT_EQ(h.content(doc), "abc");
}

// Wherever the difference lies (in the first piece, many pieces in, in the last byte, or in
// the length), the ContentFile afterwards holds exactly the new body in its stored form.
TEST_F(WebRetrieval, ChangedBodyIsStoredWholeWhereverItDiffers)
{
    std::string base(200000, 'x');
    for (std::size_t i = 0; i < base.size(); i += 61)
        base[i] = '\n';
    for (std::size_t i = 30; i < base.size(); i += 97)
        base[i] = '\r';
    auto textForm = [](const std::string& body) {
        std::string stored;
        for (char c : body) {
            if (c == '\n')
                stored += '\r';
            stored += c;
        }
        return stored;
    };
    struct Case {
        const char* what;
        std::function<void(std::string&)> change;
    };
    const Case cases[] = {
        {"first piece", [](std::string& b) { b[10] = '#'; }},
        {"many pieces in", [](std::string& b) { b[150001] = '#'; }},
        {"last byte", [](std::string& b) { b.back() = '#'; }},
        {"longer", [](std::string& b) { b += "tail\n"; }},
        {"shorter", [](std::string& b) { b.resize(b.size() - 1); }},
        {"empty", [](std::string& b) { b.clear(); }},
    };
    for (const Case& c : cases) {
        for (const DocumentKind kind : {DocumentKind::WebPage, DocumentKind::WebFile}) {
            EngineHarness e;
            const std::string path = serve(base);
            DocumentSpec spec;
            spec.kind = kind;
            spec.name = "doc";
            spec.location = s_server->url(path);
            const int doc = e.add(spec);
            ASSERT_EQ(e.check(doc), DocumentStatus::Ready);
            std::string body = base;
            c.change(body);
            serve(body);
            EXPECT_EQ(e.check(doc), DocumentStatus::Changed) << c.what;
            const std::string expected = kind == DocumentKind::WebPage ? textForm(body) : body;
            EXPECT_TRUE(e.content(doc) == expected) << c.what;
            EXPECT_TRUE(e.tempFiles().empty()) << c.what;
            serve(base);
        }
    }
}

// The digests of the stored contents outlive the session, and serve only the ContentFile they
// were made for: one replaced in between is compared by reading it again.
TEST_F(WebRetrieval, StoredDigestsServeOnlyTheContentFileTheyWereMadeFor)
{
    std::string page;
    while (page.size() < 150000)
        page += "<li>row " + std::to_string(page.size()) + "</li>\n";
    const std::string path = serve(page);
    TempDir folder;
    const std::string digestsFile = folder.file(kContentDigestsFile);
    std::string contentPath;
    {
        EngineHarness first(16, folder.path());
        DocumentSpec spec;
        spec.name = "doc";
        spec.location = s_server->url(path);
        const int doc = first.add(spec);
        ASSERT_EQ(first.check(doc), DocumentStatus::Ready);
        contentPath = first.contentPath(doc);
        first.engine->saveOnExit();
    }
    ASSERT_TRUE(fileExists(digestsFile));
    const auto digestsStamp = fileStamp(digestsFile);

    auto nextSession = [&](DocumentStatus expected, const char* what) {
        EngineHarness next(16, folder.path());
        DocumentSpec spec;
        spec.name = "doc";
        spec.location = s_server->url(path);
        const int doc = next.add(spec);
        EXPECT_EQ(next.check(doc), expected) << what;
        next.engine->saveOnExit();
        return next.content(doc);
    };
    // Unchanged, found so by the stored digest: nothing new to keep, so the file stays as it
    // was written.
    EXPECT_TRUE(nextSession(DocumentStatus::Checked, "unchanged") == readFile(contentPath));
    EXPECT_EQ(fileStamp(digestsFile), digestsStamp);

    // Another content put in place of the ContentFile (as a crashed session may have left it):
    // the digest is not that file's, so the page is compared with what the file holds.
    std::string other = page;
    other[100000] = '#';
    writeFileReplacing(contentPath, other.data(), other.size(), FileMode::Text);
    std::string stored;
    for (char c : page) {
        if (c == '\n')
            stored += '\r';
        stored += c;
    }
    EXPECT_TRUE(nextSession(DocumentStatus::Changed, "replaced") == stored);
    EXPECT_TRUE(nextSession(DocumentStatus::Checked, "after the change") == stored);
}

TEST_F(WebRetrieval, CountMethodSeesOnlyTheCount)
{
    const int doc = addCount(serve("aa here"), "aa");
    ASSERT_EQ(h.check(doc), DocumentStatus::Ready);

    serve("other text, aa still once");
    EXPECT_EQ(h.check(doc), DocumentStatus::Checked);
    EXPECT_EQ(h.content(doc), "aa here") << "the earlier body is kept";

    serve("no longer");
    EXPECT_EQ(h.check(doc), DocumentStatus::Changed);
    EXPECT_EQ(h.table.get(doc).lastCount, 0);
    EXPECT_EQ(h.content(doc), "no longer");
    DocumentRecord stored{};
    const std::string saved = readFile(h.dataFolder + "/counted.data");
    ASSERT_EQ(saved.size(), sizeof stored);
    std::memcpy(&stored, saved.data(), sizeof stored);
    EXPECT_EQ(stored.lastCount, 0);
    EXPECT_EQ(played(), kChange);
}

TEST_F(WebRetrieval, MiddleMethodSeesOnlyTheMiddle)
{
    const int doc = addMiddle(serve("a [10] b"), "[", "]");
    ASSERT_EQ(h.check(doc), DocumentStatus::Ready);
    serve("changed outside [10] too");
    EXPECT_EQ(h.check(doc), DocumentStatus::Checked);
    serve("a [11] b");
    EXPECT_EQ(h.check(doc), DocumentStatus::Changed);
    EXPECT_EQ(readFile(h.middlePath(doc)), "11");
    EXPECT_EQ(h.content(doc), "a [11] b");
}

TEST_F(WebRetrieval, MiddleThatCannotBeComparedKeepsTheStoredFiles)
{
    const int doc = addMiddle(serve("a [10] b"), "[", "]");
    ASSERT_EQ(h.check(doc), DocumentStatus::Ready);
    serve("markers gone");
    EXPECT_EQ(h.check(doc), DocumentStatus::Unavailable);
    EXPECT_EQ(played(), kAlert);
    EXPECT_EQ(h.content(doc), "a [10] b");
    EXPECT_EQ(readFile(h.middlePath(doc)), "10");
}

// --- what the server sends -----------------------------------------------------------------

// An HTTP error is a failure to retrieve, not a new content: the stored files and the count
// stay, the failure is announced with its reason, and the page that comes back unchanged is
// Checked, not Changed.
TEST_F(WebRetrieval, HttpErrorsAreFailuresThatKeepTheStoredContent)
{
    const std::string page = serve("a [7] b 7 7");
    const int simple = addWeb("flaky/" + page);
    const int counted = addCount("flaky/" + page, "7");
    const int middle = addMiddle("flaky/" + page, "[", "]");
    for (int doc : {simple, counted, middle})
        ASSERT_EQ(h.check(doc), DocumentStatus::Ready);
    const int32_t count = h.table.get(counted).lastCount;
    ASSERT_EQ(count, 3);

    const struct {
        const char* status;
        const char* reason;
    } errors[] = {{"404", "HTTP 404 Not Found"},
                  {"500", "HTTP 500 Internal Server Error"},
                  {"503", "HTTP 503 Service Unavailable"}};
    for (const auto& error : errors) {
        s_server->put(page + ".status", error.status);
        for (int doc : {simple, counted, middle}) {
            h.sound.clear();
            EXPECT_EQ(h.check(doc), DocumentStatus::Unavailable) << error.status;
            EXPECT_EQ(h.engine->unavailableReason(doc), error.reason);
            EXPECT_EQ(played(), kAlert) << error.status;
            EXPECT_EQ(h.content(doc), "a [7] b 7 7") << error.status;
        }
        EXPECT_EQ(h.table.get(counted).lastCount, count);
        EXPECT_EQ(readFile(h.middlePath(middle)), "7");
        EXPECT_TRUE(h.tempFiles().empty());
    }
    s_server->remove(page + ".status");
    for (int doc : {simple, counted, middle}) {
        h.sound.clear();
        EXPECT_EQ(h.check(doc), DocumentStatus::Checked);
        EXPECT_EQ(played(), kNothing);
        EXPECT_EQ(h.engine->unavailableReason(doc), "");
    }
}

TEST_F(WebRetrieval, FirstFetchOfAnErrorStoresNothingAndRedirectsAreFollowed)
{
    const int missing = addWeb("no-such-page");
    EXPECT_EQ(h.check(missing), DocumentStatus::Unavailable);
    EXPECT_EQ(h.engine->unavailableReason(missing), "HTTP 404 Not Found");
    EXPECT_FALSE(h.hasContent(missing));
    h.table.clear(missing);

    const int toMissing = addWeb("redirect/no-such-page");
    EXPECT_EQ(h.check(toMissing), DocumentStatus::Unavailable);
    EXPECT_EQ(h.engine->unavailableReason(toMissing), "HTTP 404 Not Found");
    EXPECT_FALSE(h.hasContent(toMissing));
    h.table.clear(toMissing);

    const int moved = addWeb("redirect/" + serve("arrived"));
    EXPECT_EQ(h.check(moved), DocumentStatus::Ready);
    EXPECT_EQ(h.content(moved), "arrived");
}

TEST_F(WebRetrieval, BlankInTheLocationIsSentPercentEncoded)
{
    s_server->put("with blank.html", "found");
    const int doc = addWeb("with blank.html");
    EXPECT_EQ(h.check(doc), DocumentStatus::Ready);
    EXPECT_EQ(h.content(doc), "found");
}

// One worker checking ten documents of one server uses one connection for all of them.
TEST(WebConnections, OneWorkerKeepsOneConnectionForOneServer)
{
    HttpPeer server;
    ASSERT_TRUE(server.start());
    EngineHarness h(32);
    std::vector<int> docs;
    for (int i = 0; i < 10; ++i) {
        const std::string name = "page" + std::to_string(i);
        server.put(name, "body " + name);
        DocumentSpec spec;
        spec.name = name;
        spec.location = server.url(name);
        docs.push_back(h.add(spec));
    }
    OptionsRecord options = h.options.get();
    options.workerThreads = 1;
    h.options.set(options);
    h.engine->checkAll();
    h.engine->waitForWorkers();
    for (int doc : docs)
        EXPECT_EQ(h.table.status(doc), DocumentStatus::Ready);
    EXPECT_EQ(server.connections(), 1);
}

TEST_F(WebRetrieval, AccountWithUrlCharactersLogsIn)
{
    const std::string path = serve("members only");
    for (const char* location : {"http://127.0.0.1:%d/private/%s", "127.0.0.1:%d/private/%s"}) {
        EngineHarness fresh;
        char text[512];
        std::snprintf(text, sizeof text, location, s_server->port(), path.c_str());
        DocumentSpec spec;
        spec.name = "private";
        spec.location = text;
        spec.userName = kUser;
        spec.password = kPassword;
        const int doc = fresh.add(spec);
        EXPECT_EQ(fresh.check(doc), DocumentStatus::Ready) << location;
        EXPECT_EQ(fresh.content(doc), "members only") << location;
    }
}

// --- failures ------------------------------------------------------------------------------

TEST_F(WebRetrieval, UnreachableServerIsAnnouncedAndKeepsTheContent)
{
    const int doc = addWeb(serve("kept"));
    ASSERT_EQ(h.check(doc), DocumentStatus::Ready);
    h.table.clear(doc);
    DocumentSpec spec;
    spec.name = "doc";
    spec.location = "http://127.0.0.1:" + std::to_string(closedPort()) + "/page";
    const int gone = h.add(spec);
    EXPECT_EQ(h.check(gone), DocumentStatus::Unavailable);
    EXPECT_EQ(h.engine->unavailableReason(gone), "connection refused");
    EXPECT_EQ(played(), kAlert);
    EXPECT_EQ(h.selected(), std::vector<int>{gone});
    EXPECT_EQ(h.content(gone), "kept");
    EXPECT_TRUE(h.tempFiles().empty());
}

TEST_F(WebRetrieval, UnresolvableHostIsNamedInTheReason)
{
    DocumentSpec spec;
    spec.name = "nowhere";
    spec.location = "http://no-such-host.invalid/page";
    const int doc = h.add(spec);
    EXPECT_EQ(h.check(doc), DocumentStatus::Unavailable);
    EXPECT_EQ(h.engine->unavailableReason(doc), "could not resolve host no-such-host.invalid");
    EXPECT_EQ(played(), kAlert);
}

TEST_F(WebRetrieval, UrlTooLongIsAnnouncedUnavailable)
{
    DocumentSpec spec;
    spec.name = "long";
    spec.location = s_server->url(std::string(400, 'p'));
    spec.userName = std::string(60, 'u');
    spec.password = std::string(60, 'w');
    const int doc = h.add(spec);
    EXPECT_EQ(h.check(doc), DocumentStatus::Unavailable);
    EXPECT_EQ(played(), kAlert);
    EXPECT_FALSE(h.hasContent(doc));
}

TEST_F(WebRetrieval, ContentThatCannotBeStoredIsUnavailableWithoutAnnouncement)
{
    // First fetch into a DataFolder that does not exist.
    {
        EngineHarness missing(16, "/nonexistent/sentorix-data");
        DocumentSpec spec;
        spec.name = "doc";
        spec.location = s_server->url(serve("body"));
        const int doc = missing.add(spec);
        EXPECT_EQ(missing.check(doc), DocumentStatus::Unavailable);
        EXPECT_TRUE(missing.sound.played().empty());
    }
    // Later fetch with no room for a TempFile.
    const int doc = addWeb(serve("stored"));
    ASSERT_EQ(h.check(doc), DocumentStatus::Ready);
    serve("newer");
    ImmutableFolder frozen(h.dataFolder);
    if (!frozen.ok())
        GTEST_SKIP() << "the file system cannot make a folder immutable";
    EXPECT_EQ(h.check(doc), DocumentStatus::Unavailable);
    EXPECT_EQ(played(), kNothing);
    EXPECT_EQ(h.content(doc), "stored");
}

// Corners only a misbehaving server produces: the check ends within the test's bounds
// (a one-second stall), Unavailable and announced, and the stored content is untouched.
TEST_F(WebRetrieval, DeadOrCrawlingServersEndTheCheck)
{
    const struct {
        ScriptedServer::Behaviour behaviour;
        const char* reason;
    } cases[] = {{ScriptedServer::Behaviour::Silent, "timed out after "},
                 {ScriptedServer::Behaviour::Trickle, "timed out after "},
                 {ScriptedServer::Behaviour::CutOff, "the transfer broke off"}};
    for (const auto& [behaviour, reason] : cases) {
        ScriptedServer server(behaviour);
        ASSERT_TRUE(server.start());
        EngineHarness e;
        DocumentSpec spec;
        spec.kind = DocumentKind::WebFile;
        spec.name = "doc";
        spec.location = "http://127.0.0.1:" + std::to_string(server.port()) + "/page";
        const int doc = e.add(spec);
        EXPECT_EQ(e.check(doc), DocumentStatus::Unavailable);
        EXPECT_FALSE(e.hasContent(doc)) << "no partly written first fetch";
        writeFile(e.contentPath(doc), "earlier");
        EXPECT_EQ(e.check(doc), DocumentStatus::Unavailable);
        EXPECT_EQ(e.engine->unavailableReason(doc).rfind(reason, 0), 0u)
            << e.engine->unavailableReason(doc);
        EXPECT_EQ(e.content(doc), "earlier");
        EXPECT_EQ(e.sound.played(), (std::vector<std::string>{"Sentorix.alert", "Sentorix.alert"}));
        EXPECT_TRUE(e.tempFiles().empty());
    }
}

// An endless body, one trickling above the stall limit, and a body that would eat the disk's
// last free space each end the check within its bounds: Unavailable, announced with the bound
// that was met, the stored content kept, no TempFile left.
TEST_F(WebRetrieval, BoundlessBodiesEndWithinTheBounds)
{
    const struct {
        ScriptedServer::Behaviour behaviour;
        long maxSeconds;
        long long maxBytes;
        long long minFree;
        const char* reason;
    } cases[] = {
        {ScriptedServer::Behaviour::Endless, 20, 1LL << 20, 0, "larger than 1 MiB"},
        {ScriptedServer::Behaviour::SteadyTrickle, 2, 1LL << 20, 0, "timed out after 2 s"},
        {ScriptedServer::Behaviour::Endless, 20, 0, 1LL << 60,
         "the disk of the data folder is nearly full"},
    };
    for (const auto& c : cases) {
        ScriptedServer server(c.behaviour);
        ASSERT_TRUE(server.start());
        EngineHarness e;
        SessionSettings settings = testSessionSettings();
        settings.bounds.maxTransferSeconds = c.maxSeconds;
        settings.bounds.maxBodyBytes = c.maxBytes;
        settings.bounds.minFreeDiskBytes = c.minFree;
        e.engine->setSessionSettings(settings);
        DocumentSpec spec;
        spec.kind = DocumentKind::WebFile;
        spec.name = "doc";
        spec.location = "http://127.0.0.1:" + std::to_string(server.port()) + "/page";
        const int doc = e.add(spec);
        writeFile(e.contentPath(doc), "earlier");
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(e.check(doc), DocumentStatus::Unavailable) << c.reason;
        EXPECT_LT(std::chrono::steady_clock::now() - started,
                  std::chrono::seconds(c.maxSeconds + 3));
        EXPECT_EQ(e.engine->unavailableReason(doc), c.reason);
        EXPECT_EQ(e.content(doc), "earlier");
        EXPECT_EQ(e.sound.played(), std::vector<std::string>{"Sentorix.alert"});
        EXPECT_TRUE(e.tempFiles().empty());
    }
}

// The disk's margin guards what is stored: an unchanged page is still checked on a nearly full
// disk, while a changed one, which would be stored, is refused and its content kept.
TEST_F(WebRetrieval, NearlyFullDiskRefusesOnlyWhatWouldBeStored)
{
    std::string page;
    while (page.size() < 200000)
        page += "<li>row " + std::to_string(page.size()) + "</li>\n";
    const std::string path = serve(page);
    const int doc = addWeb(path);
    ASSERT_EQ(h.check(doc), DocumentStatus::Ready);
    const std::string stored = h.content(doc);
    SessionSettings settings = testSessionSettings();
    settings.bounds.minFreeDiskBytes = 1LL << 60;
    h.engine->setSessionSettings(settings);

    // Twice: by reading the ContentFile, then by the digest the first comparison gave it.
    for (const char* how : {"by reading", "by digest"}) {
        EXPECT_EQ(h.check(doc), DocumentStatus::Checked) << how;
        EXPECT_EQ(h.engine->unavailableReason(doc), "") << how;
    }
    // Found different as the body arrives, or only at its end.
    const struct {
        const char* change;
        std::string body;
    } changes[] = {{"an early change", "<ul>" + page},
                   {"a late change", page + "<li>new</li>\n"},
                   {"a shorter page", page.substr(0, 150000)}};
    for (const auto& [change, body] : changes) {
        serve(body);
        EXPECT_EQ(h.check(doc), DocumentStatus::Unavailable) << change;
        EXPECT_EQ(h.engine->unavailableReason(doc), "the disk of the data folder is nearly full")
            << change;
        EXPECT_EQ(h.content(doc), stored) << change;
        EXPECT_TRUE(h.tempFiles().empty()) << change;
    }
}

// The bounds every check runs with unless a test narrows them: no transfer goes on for more
// than two hours, no body is taken past 2 GiB, and no body is stored while the DataFolder's disk
// has less than 100 MiB left.
TEST(TransferBoundsDefaults, EveryCheckRunsWithTheNoHangBounds)
{
    const TransferBounds b = defaultSessionSettings().bounds;
    EXPECT_EQ(b.connectTimeoutMs, 20000);
    EXPECT_EQ(b.stallSeconds, 30);
    EXPECT_EQ(b.lowSpeedBytesPerSecond, 64);
    EXPECT_EQ(b.maxTransferSeconds, 7200);
    EXPECT_EQ(b.maxBodyBytes, 2LL << 30);
    EXPECT_EQ(b.minFreeDiskBytes, 100LL << 20);
}

// A server that declares a body larger than the default bound is refused before any of it is
// taken, not after the whole transfer bound.
TEST_F(WebRetrieval, DeclaredBodyPastTheDefaultBoundIsRefusedAtOnce)
{
    ScriptedServer server(ScriptedServer::Behaviour::HugeDeclared);
    ASSERT_TRUE(server.start());
    EngineHarness e;
    SessionSettings settings = testSessionSettings();
    settings.bounds.maxBodyBytes = defaultSessionSettings().bounds.maxBodyBytes;
    settings.bounds.maxTransferSeconds = 10;
    e.engine->setSessionSettings(settings);
    DocumentSpec spec;
    spec.kind = DocumentKind::WebFile;
    spec.name = "huge";
    spec.location = "http://127.0.0.1:" + std::to_string(server.port()) + "/iso";
    const int doc = e.add(spec);
    writeFile(e.contentPath(doc), "earlier");
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(e.check(doc), DocumentStatus::Unavailable);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_EQ(e.engine->unavailableReason(doc), "larger than 2048 MiB");
    EXPECT_EQ(e.content(doc), "earlier");
    EXPECT_TRUE(e.tempFiles().empty());
}

TEST(WebRetrievalTls, HttpsTrustsTheGivenAuthorityAndNotAnUnknownOne)
{
    TempDir certs;
    TestCertificates tls;
    ASSERT_TRUE(tls.make(certs.path()));
    HttpPeer server("", "", tls.certFile, tls.keyFile);
    ASSERT_TRUE(server.start());
    server.put("secure.html", "over tls");

    EngineHarness h;
    DocumentSpec spec;
    spec.name = "secure";
    spec.location = server.url("secure.html");
    const int doc = h.add(spec);
    // The system's store does not know the test authority.
    EXPECT_EQ(h.check(doc), DocumentStatus::Unavailable);
    EXPECT_EQ(h.engine->unavailableReason(doc).rfind("TLS certificate problem: ", 0), 0u)
        << h.engine->unavailableReason(doc);

    SessionSettings settings = testSessionSettings();
    settings.caBundle = tls.caFile;
    h.engine->setSessionSettings(settings);
    EXPECT_EQ(h.check(doc), DocumentStatus::Ready);
    EXPECT_EQ(h.content(doc), "over tls");
}

TEST(UrlSessionPieces, BodyArrivesInPiecesOfAtMost8192Bytes)
{
    HttpPeer server;
    ASSERT_TRUE(server.start());
    server.put("big", std::string(300000, 'z'));
    UrlSession session(testSessionSettings());
    std::size_t largest = 0;
    std::size_t total = 0;
    const FetchResult result =
        session.fetchWeb(server.url("big"), {}, [&](const char*, std::size_t n) {
            largest = std::max(largest, n);
            total += n;
            return true;
        });
    EXPECT_EQ(result.status, FetchStatus::Complete);
    EXPECT_EQ(total, 300000u);
    EXPECT_LE(largest, kBodyPieceSize);
}

} // namespace
} // namespace sentorix::test
