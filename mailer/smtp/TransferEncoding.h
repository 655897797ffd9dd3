// Content transfer encodings of a message part: 7bit, 8bit, quoted-printable and base64,
// lines broken at 76 characters and periods at line starts doubled so that no content line
// can end the SMTP data early (RFC 2045, RFC 5321 section 4.5.2).
//
// Everything works on single-byte text and raw bytes; no character set is known or changed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace sentorix
{

enum class TransferEncoding : int32_t {
    Automatic = 0,
    SevenBit = 1,
    EightBit = 2,
    QuotedPrintable = 3,
    Base64 = 4,
};

// Line width of every encoding.
inline constexpr std::size_t kEncodedLineWidth = 76;

// The bytes after which wrapLines prefers to break a line.
inline constexpr std::string_view kLineBreakChars = " -;.,?!";

// The name written into "Content-Transfer-Encoding" ("7bit", ...); empty for Automatic and
// for values outside the enum.
std::string_view encodingName(TransferEncoding encoding);

// Picks an encoding from the content: Base64 when 11 % or more of the bytes are not
// printable, else QuotedPrintable when a line is too long, else EightBit when any byte is not
// printable, else SevenBit. Empty content gives SevenBit.
TransferEncoding chooseEncoding(const unsigned char* data, std::size_t length);

// out = in with every byte from 0x7F to 0xFF replaced by '?'.
void to7Bit(std::string& out, std::string_view in);

// out = in broken into CR LF lines of at most `width` characters, preferring to break after
// one of kLineBreakChars. Lines end at CR (an LF right after it is part of the line end).
void wrapLines(std::string& out, std::string_view in, std::size_t width = kEncodedLineWidth);

// out = the quoted-printable form of in, with soft line breaks keeping lines at 76 characters.
void encodeQuotedPrintable(std::string& out, std::string_view in);

// out = in with a second '.' in front of every line that begins with '.' (after CR LF and at
// the very start).
void doubleLeadingPeriods(std::string& out, std::string_view in);

// Encodes one part's content. Without `data` the content is `text`; with `data` the content
// is the block of `dataLength` bytes and `text` is only written. `encoding` is a
// TransferEncoding value; Automatic chooses from the content. On return `text` holds the
// encoded, wrapped and period-doubled content and `encodingName` the encoding's name. An
// encoding outside 0 to 4 gives an empty text and leaves `encodingName` as it was.
// The 7bit, 8bit and quoted-printable forms take the content up to its first NUL byte;
// base64 takes every byte.
void encodePartBody(int32_t encoding, std::string& text, std::string& encodingName,
                    const unsigned char* data = nullptr, std::size_t dataLength = 0);

} // namespace sentorix
