#include "monitor/data/DocumentRecord.h"

#include "common/FixedText.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <random>

namespace sentorix
{

static_assert(sizeof(DocumentRecord::userName) == 512 && sizeof(DocumentRecord::password) == 512);
// The last stored character of the longest credential must stay inside its field.
static_assert(1 + 4 * (kCredentialMaxChars - 1) < sizeof(DocumentRecord::userName));

std::string_view kindText(int32_t kind)
{
    switch (kind) {
    case 0:
        return "Web Page";
    case 1:
        return "Web File";
    case 2:
        return "FTP File";
    case 3:
        return "Local File";
    default:
        return "Unknown";
    }
}

std::string_view statusText(int32_t status)
{
    switch (status) {
    case 0:
        return "Checked";
    case 1:
        return "Retrieving...";
    case 2:
        return "** Changed";
    case 3:
        return "** Unable to retrieve";
    case 4:
        return "Waiting to retrieve...";
    case 5:
        return "Ready";
    default:
        return "Unknown";
    }
}

bool holdsLineBreakOrNul(std::string_view text)
{
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

bool loginUsable(const DocumentRecord& record)
{
    if (record.useAccount != 1)
        return true;
    return !holdsLineBreakOrNul(fieldText(record.userName)) &&
           !holdsLineBreakOrNul(fieldText(record.password));
}

namespace
{

constexpr std::size_t kCredentialWidth = sizeof(DocumentRecord::userName);

// The stored form: a count byte, then the characters in reverse order at bytes 1, 5, 9, ...,
// every other byte filler in 32..125 that carries nothing. A value longer than the form can
// carry is cut at a UTF-8 character boundary, so nothing is ever written past the field.
void scrambleField(char (&field)[kCredentialWidth], std::minstd_rand& filler)
{
    const std::string_view plain = fieldText(field);
    const std::size_t n = utf8PrefixLength(plain, kCredentialMaxChars);
    char saved[kCredentialMaxChars];
    std::copy_n(plain.data(), n, saved);

    for (char& byte : field) {
        unsigned r = static_cast<unsigned>(filler() % 126);
        if (r < 32)
            r += 32;
        byte = static_cast<char>(r);
    }
    field[0] = static_cast<char>(n);
    for (std::size_t j = 0; j < n; ++j)
        field[1 + 4 * j] = saved[n - 1 - j];
}

// Reverses scrambleField. The count byte is signed: a negative count gives an empty text, and
// no count can reach past byte 1 + 4 * 126 = 505. A stored character that is NUL ends the
// text, as it would for any reader of the field.
void unscrambleField(char (&field)[kCredentialWidth])
{
    char copy[kCredentialWidth];
    std::memcpy(copy, field, kCredentialWidth);
    std::memset(field, 0, kCredentialWidth);

    const int n = static_cast<signed char>(copy[0]);
    std::size_t length = 0;
    for (int j = 0; j < n; ++j) {
        const char c = copy[1 + 4 * j];
        if (c == '\0')
            break;
        field[length++] = c;
    }
    std::reverse(field, field + length);
}

} // namespace

bool credentialsFit(const DocumentRecord& record)
{
    return fieldText(record.userName).size() <= kCredentialMaxChars &&
           fieldText(record.password).size() <= kCredentialMaxChars;
}

void scrambleCredentials(DocumentRecord& record)
{
    // A generator of our own, seeded with the time, so no other thread's rand() state is
    // touched; the filler is never read back.
    std::minstd_rand filler(static_cast<std::minstd_rand::result_type>(std::time(nullptr)));
    scrambleField(record.userName, filler);
    scrambleField(record.password, filler);
}

void unscrambleCredentials(DocumentRecord& record)
{
    unscrambleField(record.userName);
    unscrambleField(record.password);
}

} // namespace sentorix
