#include "DocumentValidation.h"

#include "DocumentTable.h"
#include "common/DataFolder.h"
#include "common/FixedText.h"

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace sentorix
{

namespace
{

bool holdsSchemeWithS(std::string_view text)
{
    return text.find("s://") != std::string_view::npos ||
           text.find("S://") != std::string_view::npos;
}

// Letter case is ignored for ASCII letters; other bytes must match exactly.
bool sameNameIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    return strncasecmp(a.data(), b.data(), a.size()) == 0;
}

bool tooLong(const std::string& text, std::size_t maxChars)
{
    return text.size() > maxChars;
}

std::string tooLongMessage(const char* what, std::size_t maxChars)
{
    return std::string("The ") + what + " is too long: at most " + std::to_string(maxChars) +
           " bytes can be stored.";
}

} // namespace

std::string webAddressPrefix(std::string_view text)
{
    return holdsSchemeWithS(text) ? "https://" : "http://";
}

std::string_view webAddressRest(std::string_view text)
{
    std::size_t scheme = text.find("://");
    return scheme == std::string_view::npos ? text : text.substr(scheme + 3);
}

std::string normalizeWebAddress(std::string_view text)
{
    return webAddressPrefix(text) + std::string(webAddressRest(text));
}

bool holdsControlCharacter(std::string_view name)
{
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7F)
            return true;
    }
    return false;
}

bool isUsableDocumentName(const std::string& name, const std::string& folder)
{
    if (name.find_first_of("\\/:*?\"<>|") != std::string::npos)
        return false;
    if (holdsControlCharacter(name))
        return false;
    std::string templ = joinPath(folder, ".name-test-XXXXXX");
    std::vector<char> scratch(templ.begin(), templ.end());
    scratch.push_back('\0');
    if (!mkdtemp(scratch.data()))
        return false;
    std::string probe = joinPath(scratch.data(), name + kContentExtension);
    int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    bool usable = fd >= 0;
    if (usable) {
        ::close(fd);
        ::unlink(probe.c_str());
    }
    ::rmdir(scratch.data());
    return usable;
}

StagedRecordResult buildStagedRecord(const DocumentInput& input, const DocumentTable& table,
                                     DocumentDialogMode mode, int sourceIndex,
                                     const std::string& dataFolder)
{
    StagedRecordResult result;
    auto refuse = [&result](std::string message) {
        result.message = std::move(message);
        return result;
    };

    // The method boxes take 510 characters (511-byte boxes).
    constexpr std::size_t kMethodBoxChars = 510;

    // 1. Kind and method.
    bool countMode = false;
    bool middleMode = false;
    if (input.kind == DocumentKind::WebPage) {
        if (input.method == MethodChoice::Count) {
            countMode = true;
            if (input.countString.empty())
                return refuse("Please enter the string for count.");
            if (tooLong(input.countString, kMethodBoxChars))
                return refuse(tooLongMessage("string for count", kMethodBoxChars));
        } else if (input.method == MethodChoice::Middle) {
            middleMode = true;
            if (input.middleStart.empty() || input.middleEnd.empty())
                return refuse("Please enter the string.");
            if (tooLong(input.middleStart, kMethodBoxChars) ||
                tooLong(input.middleEnd, kMethodBoxChars))
                return refuse(tooLongMessage("string", kMethodBoxChars));
        }
    }

    // 2. Account. The stored form of a credential carries at most 127 bytes.
    if (input.account) {
        if (input.userName.empty())
            return refuse("Please enter the username.");
        if (input.password.empty())
            return refuse("Please enter the password.");
        if (tooLong(input.userName, kCredentialMaxChars))
            return refuse(tooLongMessage("username", kCredentialMaxChars));
        if (tooLong(input.password, kCredentialMaxChars))
            return refuse(tooLongMessage("password", kCredentialMaxChars));
        // A line break would end the login command on the wire and start another.
        if (holdsLineBreakOrNul(input.userName))
            return refuse(kUserNameLineBreakMessage);
        if (holdsLineBreakOrNul(input.password))
            return refuse(kPasswordLineBreakMessage);
    }

    // 3. Location.
    std::string location;
    if (input.kind == DocumentKind::FtpFile || input.kind == DocumentKind::LocalFile) {
        if (input.location.empty())
            return refuse("Please enter the file path.");
        location = input.location;
    } else {
        if (input.location.empty())
            return refuse("Please enter the URL or server address of the document.");
        location = normalizeWebAddress(input.location);
    }
    if (tooLong(location, kRecordTextMaxChars))
        return refuse(tooLongMessage("location", kRecordTextMaxChars));

    // 4. Display name.
    if (input.displayName.empty())
        return refuse("Please enter the document name.");
    for (int i = 0; i < table.capacity(); ++i) {
        if (mode == DocumentDialogMode::Properties && i == sourceIndex)
            continue;
        if (table.isUsed(i) && sameNameIgnoringCase(table.displayName(i), input.displayName))
            return refuse("Same document name already exist. Please use another name.");
    }
    if (tooLong(input.displayName, kDisplayNameMaxBytes))
        return refuse(tooLongMessage("document name", kDisplayNameMaxBytes));
    if (holdsControlCharacter(input.displayName))
        return refuse(kControlCharacterNameMessage);
    if (!isUsableDocumentName(input.displayName, dataFolder))
        return refuse(kInvalidNameMessage);

    // 5. The staged record.
    DocumentRecord& rec = result.record;
    rec = DocumentRecord{};
    rec.kind = static_cast<int32_t>(input.kind);
    rec.useAccount = input.account ? 1 : 0;
    if (input.account) {
        setFieldText(rec.userName, input.userName);
        setFieldText(rec.password, input.password);
    }
    rec.status = static_cast<int32_t>(DocumentStatus::Waiting);
    rec.countMode = countMode ? 1 : 0;
    rec.middleMode = middleMode ? 1 : 0;
    if (countMode)
        setFieldText(rec.countString, input.countString);
    if (middleMode) {
        setFieldText(rec.middleStart, input.middleStart, kRecordTextMaxChars);
        setFieldText(rec.middleEnd, input.middleEnd);
    }
    setFieldText(rec.location, location);
    setFieldText(rec.displayName, input.displayName);
    result.ok = true;
    return result;
}

} // namespace sentorix
