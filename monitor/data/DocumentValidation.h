// Turning what a user typed for a document into a complete record: the checks of the
// properties dialog's Apply, in their order and with their messages, the stored form of web
// addresses and the test of a display name. Shared by the dialog and the command-line front
// end.
#pragma once

#include "DocumentRecord.h"

#include <string>
#include <string_view>

namespace sentorix
{

class DocumentTable;

enum class DocumentDialogMode { Add = 0, Properties = 1, Copy = 2 };
enum class MethodChoice { Simple, Count, Middle };

struct DocumentInput {
    DocumentKind kind = DocumentKind::WebPage;
    std::string displayName;
    std::string location;
    bool account = false;
    std::string userName;
    std::string password;
    MethodChoice method = MethodChoice::Simple;
    std::string countString;
    std::string middleStart;
    std::string middleEnd;
};

struct StagedRecordResult {
    bool ok = false;
    std::string message; // the refusal shown to the user when !ok
    DocumentRecord record{};
};

inline constexpr const char* kInvalidNameMessage =
    "Invalid document name. Please do not use the following characters:\n\n"
    "\\ / : * ? \" < > |";

inline constexpr const char* kControlCharacterNameMessage =
    "Invalid document name. Please do not use control characters such as line breaks or tabs.";
inline constexpr const char* kUserNameLineBreakMessage =
    "The username must not contain a line break or a NUL character.";
inline constexpr const char* kPasswordLineBreakMessage =
    "The password must not contain a line break or a NUL character.";

// The longest display name, in bytes: the name is the base of the record's files, and the
// longest name the programs make from it (".<name>.previous.XXXXXX", the temporary file beside
// a stored file while it is replaced) must stay within the file system's 255-byte limit.
inline constexpr std::size_t kDisplayNameMaxBytes = 255 - std::char_traits<char>::length(".") -
                                                    std::char_traits<char>::length(".previous") -
                                                    std::char_traits<char>::length(".XXXXXX");

// True when `name` holds a control character (0x01..0x1F, 0x7F) or a NUL.
bool holdsControlCharacter(std::string_view name);

// "https://" when the text holds "s://" or "S://" anywhere, else "http://", followed by the
// text after its first "://" (or the whole text when it has none).
std::string normalizeWebAddress(std::string_view text);

// The prefix and the rest of normalizeWebAddress, for callers that put an account between
// them.
std::string webAddressPrefix(std::string_view text);
std::string_view webAddressRest(std::string_view text);

// A name is usable when it holds none of \ / : * ? " < > |, no control character, and the record's
// files can be created under it: a scratch file of that name (with the longest extension the
// record's files get) is created exclusively in a private scratch folder inside `folder` and
// removed again, so an existing file of that name is never touched.
bool isUsableDocumentName(const std::string& name, const std::string& folder);

// Validates `input` as Apply does and builds the staged record (status Waiting). In Properties
// mode the record at `sourceIndex` does not count as a duplicate of itself. Texts that would not
// fit their fields are refused with a message of their own, never cut.
StagedRecordResult buildStagedRecord(const DocumentInput& input, const DocumentTable& table,
                                     DocumentDialogMode mode, int sourceIndex,
                                     const std::string& dataFolder);

} // namespace sentorix
