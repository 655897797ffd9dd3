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
#include "platform/TempFile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

namespace sentorix
{
namespace
{

// One body on its way to disk. The target is prepared when the first piece arrives (or when
// an empty body completes), so nothing is opened or created for a URL that cannot be opened;
// preparing learns whether this is a first fetch (no readable ContentFile).
//
// A first fetch, and a later fetch compared by count or middle, write the whole body to a
// TempFile. A later fetch compared whole reads the ContentFile along with the body, piece by
// piece (one read of the piece's size, and one more byte at the end, so a longer ContentFile
// differs too), and creates the TempFile only at the first difference: it then writes the
// part found equal from the ContentFile (read and written in the same mode, which gives back
// the bytes the body had) and goes on with the body. An unchanged document thus costs no file
// creation, no write and no deletion, while a changed one ends with the same TempFile as if
// every piece had been written as it came.
class BodyTarget
{
public:
    BodyTarget(std::string dataFolder, std::string contentPath, FileMode mode, bool compareWhole)
        : m_dataFolder(std::move(dataFolder)), m_contentPath(std::move(contentPath)), m_mode(mode),
          m_compareWhole(compareWhole)
    {
    }
    BodyTarget(const BodyTarget&) = delete;
    BodyTarget& operator=(const BodyTarget&) = delete;
    ~BodyTarget() { discard(); }

    bool prepare()
    {
        m_prepared = true;
        m_firstFetch = !m_content.open(m_contentPath, m_mode);
        m_comparing = !m_firstFetch && m_compareWhole;
        return m_comparing || openTemp();
    }

    // The body sink: false stops the transfer (the TempFile could not be had or written).
    bool write(const char* data, std::size_t size)
    {
        if (!m_prepared && !prepare())
            return false;
        if (m_comparing && !m_different) {
            if (sameAsStored(data, size)) {
                m_equalBytes += size;
                return true;
            }
            m_different = true;
            if (!startTempFromStored())
                return false;
        }
        if (!m_temp.write(data, size)) {
            m_writeFailed = true;
            return false;
        }
        return true;
    }

    // The body is complete: the end-of-body comparison read, then the TempFile is closed.
    // False when the TempFile could not be had or written whole.
    bool finish()
    {
        if (!m_prepared && !prepare())
            return false;
        if (m_comparing && !m_different) {
            char extra;
            if (m_content.read(&extra, 1) != 0) {
                m_different = true;
                if (!startTempFromStored())
                    return false;
            }
        }
        m_content.close();
        if (m_temp.isOpen() && !m_temp.close()) {
            m_writeFailed = true;
            return false;
        }
        return true;
    }

    // Moves the complete TempFile over the ContentFile.
    bool replaceContent()
    {
        if (m_tempPath.empty() || std::rename(m_tempPath.c_str(), m_contentPath.c_str()) != 0)
            return false;
        m_tempPath.clear();
        return true;
    }

    // Closes and deletes the TempFile, when there is one.
    void discard()
    {
        if (m_temp.isOpen())
            m_temp.close();
        m_content.close();
        if (!m_tempPath.empty())
            removeFile(m_tempPath);
        m_tempPath.clear();
    }

    bool firstFetch() const { return m_firstFetch; }
    bool tempMissing() const { return m_tempMissing; }
    bool storageFailed() const { return m_tempMissing || m_writeFailed; }
    bool different() const { return m_different; }
    const std::string& tempPath() const { return m_tempPath; }

private:
    bool openTemp()
    {
        m_tempPath = createTempFile(m_dataFolder);
        if (m_tempPath.empty() || !m_temp.open(m_tempPath, m_mode, OpenForWrite::Existing)) {
            m_tempMissing = true;
            return false;
        }
        return true;
    }

    bool sameAsStored(const char* data, std::size_t size)
    {
        if (m_scratch.size() < size)
            m_scratch.resize(size);
        const long got = m_content.read(m_scratch.data(), size);
        return got >= 0 && static_cast<std::size_t>(got) == size &&
               std::memcmp(m_scratch.data(), data, size) == 0;
    }

    // The TempFile at the first difference: the part of the body found equal, taken from
    // the ContentFile.
    bool startTempFromStored()
    {
        if (!openTemp())
            return false;
        InputFile stored;
        if (!stored.open(m_contentPath, m_mode)) {
            m_writeFailed = true;
            return false;
        }
        std::vector<char> block(kBodyPieceSize);
        std::size_t left = m_equalBytes;
        while (left > 0) {
            const long got = stored.read(block.data(), std::min(left, block.size()));
            if (got <= 0 || !m_temp.write(block.data(), static_cast<std::size_t>(got))) {
                m_writeFailed = true;
                return false;
            }
            left -= static_cast<std::size_t>(got);
        }
        return true;
    }

    std::string m_dataFolder;
    std::string m_contentPath;
    FileMode m_mode;
    bool m_compareWhole;
    bool m_prepared = false;
    bool m_firstFetch = false;
    bool m_comparing = false;
    bool m_different = false;
    bool m_tempMissing = false;
    bool m_writeFailed = false;
    std::size_t m_equalBytes = 0;
    InputFile m_content;
    OutputFile m_temp;
    std::string m_tempPath;
    std::vector<char> m_scratch;
};

int32_t clampCount(int64_t count)
{
    return count > std::numeric_limits<int32_t>::max() ? std::numeric_limits<int32_t>::max()
                                                       : static_cast<int32_t>(count);
}

} // namespace

void CheckEngine::checkWebDocument(int index, bool page)
{
    DocumentTable& table = m_parts.table;
    const DocumentRecord record = table.get(index);
    const std::string name(fieldText(record.displayName));
    const std::string contentPath = recordFilePath(m_parts.dataFolder, name, kContentExtension);
    const std::string middlePath = recordFilePath(m_parts.dataFolder, name, kMiddleExtension);
    const CompareMethod method = page ? selectMethod(record) : CompareMethod::Simple;
    const std::string_view countString = fieldText(record.countString);
    const std::string_view middleStart = fieldText(record.middleStart);
    const std::string_view middleEnd = fieldText(record.middleEnd);

    // A URL that would not fit, or a session that cannot be had, is a URL that cannot be
    // opened.
    const WebRequest request = buildWebRequest(record);
    if (request.tooLong) {
        failCheck(index, true);
        return;
    }
    UrlSession session(sessionSettings());
    if (!session.isOpen()) {
        failCheck(index, true);
        return;
    }

    BodyTarget body(m_parts.dataFolder, contentPath, page ? FileMode::Text : FileMode::Binary,
                    method == CompareMethod::Simple);
    const FetchResult fetched = session.fetchWeb(
        request.url, request.credentials,
        [&body](const char* data, std::size_t size) { return body.write(data, size); });

    // A body that could not be stored is not announced (as a ContentFile or TempFile that
    // cannot be created); a URL that cannot be opened, and a body that stops half-way, are.
    if (fetched.status != FetchStatus::Complete) {
        const bool storage = body.storageFailed();
        body.discard();
        failCheck(index, !storage);
        return;
    }
    if (!body.finish()) {
        body.discard();
        failCheck(index, false);
        return;
    }

    if (body.firstFetch()) {
        if (!body.replaceContent()) {
            body.discard();
            failCheck(index, false);
            return;
        }
        switch (method) {
        case CompareMethod::Simple:
            finishCheck(index, DocumentStatus::Ready);
            break;
        case CompareMethod::Count: {
            const int64_t count = countOccurrences(contentPath, countString);
            if (count < 0) {
                failCheck(index, false);
                break;
            }
            table.setLastCount(index, clampCount(count));
            finishCheck(index, DocumentStatus::Ready);
            saveRecord(table, index, m_parts.dataFolder);
            break;
        }
        case CompareMethod::Middle:
            if (extractMiddle(contentPath, middleStart, middleEnd, middlePath) == 1) {
                finishCheck(index, DocumentStatus::Ready);
            } else {
                finishCheck(index, DocumentStatus::Unavailable);
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
        break;
    case CompareMethod::Count: {
        const int64_t count = countOccurrences(body.tempPath(), countString);
        if (count < 0) {
            body.discard();
            failCheck(index, false);
            return;
        }
        if (clampCount(count) != record.lastCount) {
            table.setLastCount(index, clampCount(count));
            saveRecord(table, index, m_parts.dataFolder);
            changed = true;
        }
        break;
    }
    case CompareMethod::Middle: {
        const int result = compareMiddle(body.tempPath(), middleStart, middleEnd, middlePath);
        if (result < 0) {
            body.discard();
            failCheck(index, true);
            return;
        }
        changed = result == 1;
        break;
    }
    }

    if (!changed) {
        body.discard();
        finishCheck(index, DocumentStatus::Checked);
        return;
    }
    if (!body.replaceContent()) {
        body.discard();
        failCheck(index, false);
        return;
    }
    finishCheck(index, DocumentStatus::Changed);
    announce(index, DocumentStatus::Changed);
    if (m_parts.options.get().openChangedPage == 1) {
        const int row = m_parts.view.recordToRow(index);
        if (row >= 0)
            m_parts.view.openDocument(row, false);
    }
}

void CheckEngine::checkFtpFile(int index)
{
    const DocumentRecord record = m_parts.table.get(index);
    const std::string name(fieldText(record.displayName));
    const std::string contentPath = recordFilePath(m_parts.dataFolder, name, kContentExtension);

    const std::optional<FtpTarget> target = splitFtpLocation(fieldText(record.location));
    if (!target) {
        failCheck(index, false);
        return;
    }
    UrlSession session(sessionSettings());
    if (!session.isOpen()) {
        failCheck(index, true);
        return;
    }
    Credentials credentials;
    if (record.useAccount == 1) {
        credentials.useAccount = true;
        credentials.userName = std::string(fieldText(record.userName));
        credentials.password = std::string(fieldText(record.password));
    }

    BodyTarget body(m_parts.dataFolder, contentPath, FileMode::Binary, false);
    const FetchResult fetched =
        session.fetchFtp(*target, credentials, [&body](const char* data, std::size_t size) {
            return body.write(data, size);
        });

    // No connection, no directory, no file, or a download that could not be written is a
    // failed download, announced; only a TempFile that cannot be created for a later fetch
    // is not.
    const bool complete = fetched.status == FetchStatus::Complete && body.finish();
    if (!complete) {
        const bool silent = body.tempMissing() && !body.firstFetch();
        body.discard();
        failCheck(index, !silent);
        return;
    }

    if (body.firstFetch()) {
        if (!body.replaceContent()) {
            body.discard();
            failCheck(index, true);
            return;
        }
        finishCheck(index, DocumentStatus::Ready);
        return;
    }

    Sameness sameness = Sameness::Failed;
    {
        InputFile fresh;
        InputFile stored;
        if (fresh.open(body.tempPath(), FileMode::Binary) &&
            stored.open(contentPath, FileMode::Binary))
            sameness = compareFileBlocks(fresh, stored);
    }
    if (sameness == Sameness::Failed) {
        body.discard();
        failCheck(index, false);
        return;
    }
    if (sameness == Sameness::Same) {
        body.discard();
        finishCheck(index, DocumentStatus::Checked);
        return;
    }
    if (!body.replaceContent()) {
        body.discard();
        failCheck(index, false);
        return;
    }
    finishCheck(index, DocumentStatus::Changed);
    announce(index, DocumentStatus::Changed);
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
            if (copyFileReplacing(location, contentPath))
                finishCheck(index, DocumentStatus::Ready);
            else
                failCheck(index, true);
            return;
        }
        InputFile source;
        if (!source.open(location, FileMode::Binary)) {
            failCheck(index, true);
            return;
        }
        sameness = compareFileBlocks(source, stored);
    }
    if (sameness == Sameness::Failed) {
        // The file opened but could not be read (a folder, an I/O error): as if it could not
        // be opened.
        failCheck(index, true);
        return;
    }
    if (sameness == Sameness::Same) {
        finishCheck(index, DocumentStatus::Checked);
        return;
    }
    // Changed. The copy replaces the ContentFile only when it is complete, so a copy that
    // fails leaves the earlier content in place and the next check finds the change again.
    if (copyFileReplacing(location, contentPath)) {
        finishCheck(index, DocumentStatus::Changed);
        announce(index, DocumentStatus::Changed);
        return;
    }
    finishCheck(index, DocumentStatus::Unavailable);
    announce(index, DocumentStatus::Changed);
    announce(index, DocumentStatus::Unavailable);
}

} // namespace sentorix
