// The record of one monitored document, 4632 bytes, stored whole and alone in the
// "<displayName>.data" file in the DataFolder. The file layout is the in-memory layout.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace sentorix
{

static_assert(std::endian::native == std::endian::little,
              "the stored records are little-endian and are read as they lie in memory");

enum class DocumentKind : int32_t { WebPage = 0, WebFile = 1, FtpFile = 2, LocalFile = 3 };

enum class DocumentStatus : int32_t {
    Checked = 0,
    Retrieving = 1,
    Changed = 2,
    Unavailable = 3,
    Waiting = 4,
    Ready = 5,
};

struct DocumentRecord {
    int32_t kind;
    char location[512];
    char displayName[512];
    int32_t useAccount;
    char userName[512];
    char password[512];
    char lastCheck[512];
    int32_t status;
    int32_t countMode;
    int32_t lastCount;
    char countString[512];
    int32_t middleMode;
    char middleStart[1024];
    char middleEnd[512];
};

static_assert(sizeof(DocumentRecord) == 4632);
static_assert(offsetof(DocumentRecord, kind) == 0);
static_assert(offsetof(DocumentRecord, location) == 4);
static_assert(offsetof(DocumentRecord, displayName) == 516);
static_assert(offsetof(DocumentRecord, useAccount) == 1028);
static_assert(offsetof(DocumentRecord, userName) == 1032);
static_assert(offsetof(DocumentRecord, password) == 1544);
static_assert(offsetof(DocumentRecord, lastCheck) == 2056);
static_assert(offsetof(DocumentRecord, status) == 2568);
static_assert(offsetof(DocumentRecord, countMode) == 2572);
static_assert(offsetof(DocumentRecord, lastCount) == 2576);
static_assert(offsetof(DocumentRecord, countString) == 2580);
static_assert(offsetof(DocumentRecord, middleMode) == 3092);
static_assert(offsetof(DocumentRecord, middleStart) == 3096);
static_assert(offsetof(DocumentRecord, middleEnd) == 4120);

inline constexpr std::size_t kRecordTextMaxChars = 511;
inline constexpr std::size_t kCredentialMaxChars = 127; // the most the stored form carries

// The texts the document list shows for a kind and a status ("Unknown" for other values).
std::string_view kindText(int32_t kind);
std::string_view statusText(int32_t status);

// True when userName and password each hold at most kCredentialMaxChars bytes, the most the
// stored form carries. The properties dialog refuses a record for which this is false;
// scrambleCredentials cuts a longer value at a UTF-8 character boundary as the last guard, so
// nothing is ever written past a field.
bool credentialsFit(const DocumentRecord& record);

// True when `text` holds a CR, an LF or a NUL: a byte that ends or splits a line of a protocol
// (an FTP command, an HTTP header), so a login holding one could smuggle in a command of its
// own.
bool holdsLineBreakOrNul(std::string_view text);

// False when the record asks for an account (useAccount 1) whose userName or password holds a
// CR or LF; such a login is never sent, and every check of the document ends Unavailable. A
// record without an account is always usable: its credentials are not sent.
bool loginUsable(const DocumentRecord& record);

// Converts the userName and password fields between plain text and their stored form: a
// count byte, then the characters reversed at bytes 1, 5, 9, ... among filler bytes 32..125.
void scrambleCredentials(DocumentRecord& record);
void unscrambleCredentials(DocumentRecord& record);

} // namespace sentorix
