// The retrievals by document kind: web pages and files over HTTP(S), files over FTP, local
// files. Each runs on the worker that claimed the document, sets the final status and
// announces Changed and Unavailable events.
//
// A stored ContentFile is only ever replaced whole: a fetch goes to a TempFile in the
// DataFolder, first fetches included, and is renamed over the ContentFile once it arrived
// complete. A TempFile of a check that ends without replacing anything is deleted at once.

#include "common/DataFolder.h"
#include "common/FixedText.h"
#include "common/TextFile.h"
#include "monitor/check/CheckEngine.h"
#include "monitor/check/Compare.h"
#include "monitor/check/WebAddress.h"
#include "monitor/data/DocumentTable.h"
#include "monitor/data/MonitorView.h"
#include "monitor/data/Options.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <limits>
#include <optional>

namespace sentorix
{
namespace
{

int32_t clampCount(int64_t count)
{
    return count > std::numeric_limits<int32_t>::max() ? std::numeric_limits<int32_t>::max()
                                                       : static_cast<int32_t>(count);
}

constexpr const char* kCannotStore = "cannot write the content into the data folder";
constexpr const char* kNoSession = "no network session could be set up";
constexpr const char* kDiskFull = "the disk of the data folder is nearly full";

// Feeds a body to its comparison while what is stored stays within the disk's margin: the free
// space of the DataFolder's disk is looked at when the body begins to be stored (at its first
// difference, or its start for a first fetch) and after every MiB of it. A body found equal is
// never stored, so it is never refused.
class GuardedBody
{
public:
    GuardedBody(StreamComparison& body, const std::string& folder, long long minFree)
        : m_body(body), m_folder(folder), m_minFree(minFree)
    {
    }

    bool feed(const char* data, std::size_t size)
    {
        if (!m_body.feed(data, size))
            return false;
        if (m_minFree <= 0 || !m_body.storing())
            return true;
        if (m_sinceLook == 0 && !roomLeft())
            return false;
        m_sinceLook += static_cast<long long>(size);
        if (m_sinceLook >= kLookEvery)
            m_sinceLook = 0;
        return true;
    }

    // The end of the body, which may be where it begins to be stored.
    bool finish()
    {
        if (!m_body.finish())
            return false;
        return m_minFree <= 0 || !m_body.storing() || m_looked || roomLeft();
    }

    bool diskFull() const { return m_diskFull; }

private:
    static constexpr long long kLookEvery = 1LL << 20;

    bool roomLeft()
    {
        m_looked = true;
        struct statvfs fs {
        };
        if (::statvfs(m_folder.c_str(), &fs) != 0)
            return true; // the write itself reports a folder that is gone
        const long long free =
            static_cast<long long>(fs.f_bavail) * static_cast<long long>(fs.f_frsize);
        m_diskFull = free < m_minFree;
        return !m_diskFull;
    }

    StreamComparison& m_body;
    const std::string& m_folder;
    long long m_minFree;
    long long m_sinceLook = 0;
    bool m_looked = false;
    bool m_diskFull = false;
};

// Why a local file could not be read or copied.
std::string localFileReason(const std::string& location)
{
    struct stat st {
    };
    if (::stat(location.c_str(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return "no such file";
        if (errno == EACCES)
            return "permission denied";
        return "cannot open the file";
    }
    if (S_ISDIR(st.st_mode))
        return "a folder, not a file";
    if (!S_ISREG(st.st_mode))
        return "not a regular file";
    if (::access(location.c_str(), R_OK) != 0)
        return "permission denied";
    return "cannot read or copy the file";
}

} // namespace

void CheckEngine::checkWebDocument(int index, bool page)
{
    DocumentTable& table = m_parts.table;
    const DocumentRecord record = table.get(index);
    const std::string name(fieldText(record.displayName));
    const std::string contentPath = recordFilePath(m_parts.dataFolder, name, kContentExtension);
    const std::string middlePath = recordFilePath(m_parts.dataFolder, name, kMiddleExtension);
    const std::string previousMiddlePath =
        recordFilePath(m_parts.dataFolder, name, kPreviousMiddleExtension);
    const CompareMethod method = page ? selectMethod(record) : CompareMethod::Simple;
    const std::string_view countString = fieldText(record.countString);
    const std::string_view middleStart = fieldText(record.middleStart);
    const std::string_view middleEnd = fieldText(record.middleEnd);

    if (!loginUsable(record)) {
        failUnusableLogin(index);
        return;
    }
    // A URL that would not fit, or a session that cannot be had, is a URL that cannot be
    // opened.
    const WebRequest request = buildWebRequest(record);
    if (request.tooLong) {
        failCheck(index, true, "the address with its login is longer than 511 characters");
        return;
    }
    std::unique_ptr<UrlSession> ownSession;
    UrlSession* session = sessionForCheck(ownSession);
    if (!session) {
        failCheck(index, true, kNoSession);
        return;
    }

    // A later fetch compared whole is compared as it arrives; any other fetch is stored whole
    // in a TempFile for its method to read. A ContentFile with a digest is found by its stamp
    // and opened only if the body differs (see StreamComparison); any other is opened now.
    const FileMode mode = page ? FileMode::Text : FileMode::Binary;
    const bool simple = method == CompareMethod::Simple;
    std::optional<FileStamp> storedStamp = simple ? fileStamp(contentPath) : std::nullopt;
    const std::optional<ContentDigest> storedDigest =
        storedStamp ? m_digests.find(name, *storedStamp, mode) : std::nullopt;
    InputFile stored;
    const bool firstFetch = !storedDigest && !stored.open(contentPath, mode);
    const bool comparedWhole = !firstFetch && simple;
    if (comparedWhole && !storedDigest)
        storedStamp = fileStamp(stored.descriptor()); // the file read is the one stamped
    std::optional<StreamComparison> comparison;
    if (storedDigest)
        comparison.emplace(m_parts.dataFolder, mode, contentPath, *storedDigest);
    else
        comparison.emplace(m_parts.dataFolder, mode, comparedWhole ? &stored : nullptr);
    StreamComparison& body = *comparison;
    GuardedBody guarded(body, m_parts.dataFolder, session->settings().bounds.minFreeDiskBytes);
    const FetchResult fetched = session->fetchWeb(
        request.url, request.credentials,
        [&guarded](const char* data, std::size_t size) { return guarded.feed(data, size); });
    if (fetched.status == FetchStatus::Stopped) {
        interruptCheck(index, body);
        return;
    }

    // A body that could not be stored is not announced (as a ContentFile or TempFile that
    // cannot be created); a URL that cannot be opened, an HTTP error, a body that stops
    // half-way or passes a bound, are. The stored files stay as they were.
    if (fetched.status != FetchStatus::Complete) {
        const bool storage = body.storageFailed();
        body.discard();
        if (guarded.diskFull())
            failCheck(index, true, kDiskFull);
        else
            failCheck(index, !storage, storage ? kCannotStore : fetched.reason);
        return;
    }
    if (!guarded.finish()) {
        body.discard();
        if (guarded.diskFull())
            failCheck(index, true, kDiskFull);
        else
            failCheck(index, false, kCannotStore);
        return;
    }
    stored.close();

    if (firstFetch) {
        // The count method's first count is saved with the record before the content is in
        // place: a crash between the two finds no ContentFile and fetches afresh, never a
        // ContentFile without its count.
        bool counted = false;
        if (method == CompareMethod::Count) {
            const int64_t count = countOccurrences(body.tempPath(), countString);
            counted = count >= 0;
            if (counted) {
                table.setLastCount(index, clampCount(count));
                holdStatus(index, DocumentStatus::Ready);
                saveRecord(table, index, m_parts.dataFolder);
            }
        }
        if (!body.moveTempOver(contentPath)) {
            body.discard();
            failCheck(index, false, kCannotStore);
            return;
        }
        if (method == CompareMethod::Simple)
            rememberDigest(name, contentPath, body);
        switch (method) {
        case CompareMethod::Simple:
            finishCheck(index, DocumentStatus::Ready);
            break;
        case CompareMethod::Count:
            if (counted)
                finishCheck(index, DocumentStatus::Ready);
            else
                failCheck(index, false, "cannot read the content to count");
            break;
        case CompareMethod::Middle:
            if (extractMiddle(contentPath, middleStart, middleEnd, middlePath) == 1) {
                finishCheck(index, DocumentStatus::Ready);
            } else {
                finishCheck(index, DocumentStatus::Unavailable,
                            "the start and end strings were not found");
                m_parts.view.showMessage(kMiddleNotFoundText, MessageIcon::Information);
            }
            break;
        }
        return;
    }

    bool changed = false;
    switch (method) {
    case CompareMethod::Simple:
        changed = body.different();
        // Found equal by reading: the stored content gets the body's digest.
        if (!changed && !storedDigest && storedStamp) {
            if (std::optional<ContentDigest> digest = body.bodyDigest()) {
                digest->stamp = *storedStamp;
                m_digests.put(name, std::move(*digest));
            }
        }
        break;
    case CompareMethod::Count: {
        const int64_t count = countOccurrences(body.tempPath(), countString);
        if (count < 0) {
            body.discard();
            failCheck(index, false, "cannot read the content to count");
            return;
        }
        // The new count is saved together with the Changed status (endLaterFetch), in one
        // write of the record: a crash can never keep the count but lose the change.
        if (clampCount(count) != record.lastCount) {
            table.setLastCount(index, clampCount(count));
            changed = true;
        }
        break;
    }
    case CompareMethod::Middle: {
        const int result =
            compareMiddle(body.tempPath(), middleStart, middleEnd, middlePath, previousMiddlePath);
        if (result < 0) {
            body.discard();
            failCheck(index, true, "the start and end strings were not found");
            return;
        }
        changed = result == 1;
        break;
    }
    }

    if (!endLaterFetch(index, changed, body, contentPath))
        return;
    // Only a body compared whole has its digest looked up at the next check.
    if (method == CompareMethod::Simple)
        rememberDigest(name, contentPath, body);
    if (m_parts.options.get().openChangedPage == 1)
        m_parts.view.openDocument(index, false);
}

void CheckEngine::checkFtpFile(int index)
{
    const DocumentRecord record = m_parts.table.get(index);
    const std::string name(fieldText(record.displayName));
    const std::string contentPath = recordFilePath(m_parts.dataFolder, name, kContentExtension);

    if (!loginUsable(record)) {
        failUnusableLogin(index);
        return;
    }
    const std::optional<FtpTarget> target = splitFtpLocation(fieldText(record.location));
    if (!target) {
        failCheck(index, false, "not a usable FTP location");
        return;
    }
    std::unique_ptr<UrlSession> ownSession;
    UrlSession* session = sessionForCheck(ownSession);
    if (!session) {
        failCheck(index, true, kNoSession);
        return;
    }
    Credentials credentials;
    if (record.useAccount == 1) {
        credentials.useAccount = true;
        credentials.userName = std::string(fieldText(record.userName));
        credentials.password = std::string(fieldText(record.password));
    }

    // The download is stored whole and compared afterwards block by block, driven by the new
    // file (a file cut back to the beginning of the stored one is the same).
    InputFile stored;
    const bool firstFetch = !stored.open(contentPath, FileMode::Binary);
    StreamComparison body(m_parts.dataFolder, FileMode::Binary, nullptr);
    GuardedBody guarded(body, m_parts.dataFolder, session->settings().bounds.minFreeDiskBytes);
    const FetchResult fetched =
        session->fetchFtp(*target, credentials, [&guarded](const char* data, std::size_t size) {
            return guarded.feed(data, size);
        });
    if (fetched.status == FetchStatus::Stopped) {
        interruptCheck(index, body);
        return;
    }

    // No connection, no directory, no file, or a download that could not be written is a
    // failed download, announced; only a TempFile that cannot be created for a later fetch
    // is not.
    const bool transferred = fetched.status == FetchStatus::Complete;
    const bool complete = transferred && guarded.finish();
    if (!complete) {
        const bool silent = body.tempMissing() && !firstFetch;
        const bool storage = body.storageFailed() || transferred;
        body.discard();
        if (guarded.diskFull())
            failCheck(index, true, kDiskFull);
        else
            failCheck(index, !silent, storage ? kCannotStore : fetched.reason);
        return;
    }

    if (firstFetch) {
        if (!body.moveTempOver(contentPath)) {
            body.discard();
            failCheck(index, true, kCannotStore);
            return;
        }
        finishCheck(index, DocumentStatus::Ready);
        return;
    }

    Sameness sameness = Sameness::Failed;
    {
        InputFile fresh;
        if (fresh.open(body.tempPath(), FileMode::Binary))
            sameness = compareFileBlocks(fresh, stored, &m_stop);
        stored.close();
    }
    if (sameness == Sameness::Stopped) {
        interruptCheck(index, body);
        return;
    }
    if (sameness == Sameness::Failed) {
        body.discard();
        failCheck(index, false, "cannot read the downloaded file");
        return;
    }
    endLaterFetch(index, sameness == Sameness::Different, body, contentPath);
}

// A login holding a line break is never sent (it would end the login command on the wire and
// start another): the check ends Unavailable, announced, and every later check does too until
// the user edits the account.
void CheckEngine::failUnusableLogin(int index)
{
    failCheck(index, true, "the user name or password holds a line break");
}

// A detected change is told before its new content replaces the old: the Changed status (with
// a new lastCount) is saved in the record, the change is announced (its MessageLog entry written
// and flushed) and the DataFolder's entries flushed. A crash before this point finds the old
// content and detects the change again; a crash after it finds the change told, so a change may
// be told twice but never not at all. The document stays held by its worker meanwhile.
void CheckEngine::recordChange(int index)
{
    keepPreviousVersion(index);
    holdStatus(index, DocumentStatus::Changed);
    saveRecord(m_parts.table, index, m_parts.dataFolder);
    announce(index, DocumentStatus::Changed);
    flushToDisk(m_parts.dataFolder);
}

// The content a change is about to replace is kept as the previous version (a second name of
// the same file, so nothing is copied and its time stays that of the check that fetched it).
// It is done before the change is made durable: the DataFolder's flush covers it too, and a
// crash before the replacement only finds the same previous version kept again.
void CheckEngine::keepPreviousVersion(int index)
{
    const std::string name(fieldText(m_parts.table.get(index).displayName));
    keepFileAs(recordFilePath(m_parts.dataFolder, name, kContentExtension),
               recordFilePath(m_parts.dataFolder, name, kPreviousExtension));
}

void CheckEngine::holdStatus(int index, DocumentStatus status)
{
    std::lock_guard lock(m_claimMutex);
    if (slotReplaced(index))
        return;
    m_parts.table.setStatus(index, status);
}

void CheckEngine::interruptCheck(int index, StreamComparison& body)
{
    body.discard();
    finishCheck(index, DocumentStatus::Waiting);
}

// The end of a later fetch whose comparison is done: Checked when nothing changed; else the
// change is recorded and told, then the TempFile replaces the ContentFile. A TempFile that
// cannot be moved is a storage failure: the change was told, and as the old content stays the
// next check finds it again.
bool CheckEngine::endLaterFetch(int index, bool changed, StreamComparison& body,
                                const std::string& contentPath)
{
    if (!changed) {
        body.discard();
        finishCheck(index, DocumentStatus::Checked);
        return false;
    }
    recordChange(index);
    if (!body.moveTempOver(contentPath)) {
        body.discard();
        failCheck(index, false, kCannotStore);
        return false;
    }
    finishCheck(index, DocumentStatus::Changed);
    return true;
}

void CheckEngine::rememberDigest(const std::string& name, const std::string& contentPath,
                                 const StreamComparison& body)
{
    std::optional<ContentDigest> digest = body.bodyDigest();
    const std::optional<FileStamp> stamp = digest ? fileStamp(contentPath) : std::nullopt;
    if (!stamp) {
        m_digests.forget(name);
        return;
    }
    digest->stamp = *stamp;
    m_digests.put(name, std::move(*digest));
}

void CheckEngine::checkLocalFile(int index)
{
    const DocumentRecord record = m_parts.table.get(index);
    const std::string name(fieldText(record.displayName));
    const std::string contentPath = recordFilePath(m_parts.dataFolder, name, kContentExtension);
    const std::string location(fieldText(record.location));

    Sameness sameness = Sameness::Failed;
    {
        InputFile stored;
        if (!stored.open(contentPath, FileMode::Binary)) {
            // First fetch: the copy becomes the ContentFile.
            if (copyFileReplacing(location, contentPath, &m_stop))
                finishCheck(index, DocumentStatus::Ready);
            else if (m_stop)
                finishCheck(index, DocumentStatus::Waiting);
            else
                failCheck(index, true, localFileReason(location));
            return;
        }
        InputFile source;
        if (!source.open(location, FileMode::Binary)) {
            failCheck(index, true, localFileReason(location));
            return;
        }
        sameness = compareFileBlocks(source, stored, &m_stop);
    }
    if (sameness == Sameness::Stopped) {
        finishCheck(index, DocumentStatus::Waiting);
        return;
    }
    if (sameness == Sameness::Failed) {
        // The file opened but could not be read (a folder, an I/O error): as if it could not
        // be opened.
        failCheck(index, true, localFileReason(location));
        return;
    }
    if (sameness == Sameness::Same) {
        finishCheck(index, DocumentStatus::Checked);
        return;
    }
    // Changed: told before the copy replaces the ContentFile. The copy replaces it only when
    // complete, so a copy that fails leaves the earlier content in place and the next check
    // finds the change again. Once told, the copy is not cut short by stop(): the document is
    // Changed and its ContentFile should be the content that was announced.
    recordChange(index);
    if (copyFileReplacing(location, contentPath)) {
        finishCheck(index, DocumentStatus::Changed);
        return;
    }
    finishCheck(index, DocumentStatus::Unavailable, localFileReason(location));
    announce(index, DocumentStatus::Unavailable);
}

} // namespace sentorix
