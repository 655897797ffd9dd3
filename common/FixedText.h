// Fixed-width, NUL-terminated text fields of the binary records.
//
// A field read from a file is untrusted: it may hold no terminator at all, so every read is
// bounded by the field's width. Writes never go past the field and never cut a UTF-8
// sequence in half.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace sentorix
{

// The text of a field up to its first NUL, or the whole field when it holds none.
template <std::size_t N> std::string_view fieldText(const char (&field)[N])
{
    return std::string_view(field, strnlen(field, N));
}

// Length of the longest prefix of `text` that fits in `maxBytes` bytes without ending inside a
// UTF-8 sequence. Bytes that are not valid UTF-8 count as single characters.
std::size_t utf8PrefixLength(std::string_view text, std::size_t maxBytes);

// Stores `text` in a field of `width` bytes, keeping at most `maxChars` bytes (and at most
// width - 1) so that a terminator always follows; the rest of the field is zero-filled.
// Returns false when the text had to be cut (at a UTF-8 character boundary).
bool setFieldText(char* field, std::size_t width, std::string_view text, std::size_t maxChars);

template <std::size_t N>
bool setFieldText(char (&field)[N], std::string_view text, std::size_t maxChars = N - 1)
{
    return setFieldText(field, N, text, maxChars);
}

} // namespace sentorix
