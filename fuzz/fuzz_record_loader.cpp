// Record files as a hand-made or damaged ".data" file may hold them: loaded through
// loadAllRecords (the input cut into records, one file each), then everything a check and the
// list read from a loaded record. A record's credentials survive saving and loading again.
#include "fuzz/FuzzSupport.h"

#include "common/FixedText.h"
#include "monitor/check/Compare.h"
#include "monitor/check/WebAddress.h"
#include "monitor/data/DocumentTable.h"
#include "monitor/data/DocumentValidation.h"

#include <cstring>
#include <filesystem>
#include <string>

using namespace sentorix;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string folder = fuzz::scratchFolder() + "/records";
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    std::filesystem::create_directories(folder);

    // Up to three files: whole records and a short tail (which must not load).
    constexpr std::size_t kRecord = sizeof(DocumentRecord);
    int files = 0;
    for (std::size_t at = 0; at < size && files < 3; at += kRecord, ++files) {
        const std::size_t length = std::min(kRecord, size - at);
        fuzz::writeScratchFile("records/doc" + std::to_string(files) + ".data", data + at, length);
    }

    DocumentTable table(4);
    const int loaded = loadAllRecords(table, folder, nullptr);
    fuzz::require(loaded >= 0 && loaded <= files, "more records loaded than files");
    fuzz::require(static_cast<std::size_t>(loaded) <= size / kRecord, "a short file was loaded");

    for (int i = 0; i < table.capacity(); ++i) {
        if (!table.isUsed(i))
            continue;
        const DocumentRecord record = table.get(i);
        (void)kindText(record.kind);
        (void)statusText(record.status);
        (void)loginUsable(record);
        (void)selectMethod(record);
        const WebRequest request = buildWebRequest(record);
        fuzz::require(request.tooLong || request.url.size() <= kMaxUrlLength, "URL too long");
        if (const auto target = splitFtpLocation(fieldText(record.location)))
            (void)buildFtpUrl(*target);
        const std::string name = table.displayName(i);
        (void)holdsControlCharacter(name);
        (void)recordFilePath(folder, name, kContentExtension);

        // Stored and read back, the credentials are what they were, within the stored form.
        DocumentRecord copy = record;
        if (credentialsFit(copy)) {
            const std::string user(fieldText(copy.userName));
            const std::string password(fieldText(copy.password));
            scrambleCredentials(copy);
            unscrambleCredentials(copy);
            fuzz::require(fieldText(copy.userName) == user, "user name changed in its round trip");
            fuzz::require(fieldText(copy.password) == password,
                          "password changed in its round trip");
        }
    }
    return 0;
}
