#include "common/FixedText.h"

#include <algorithm>

namespace sentorix
{

namespace
{

bool isContinuation(unsigned char byte)
{
    return (byte & 0xC0) == 0x80;
}

// Length of the well-formed UTF-8 sequence starting at `pos`, or 1 when the bytes there are not
// one (a stray continuation byte, an overlong form, a surrogate, a cut sequence).
std::size_t sequenceLength(std::string_view text, std::size_t pos)
{
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = at(pos);
    std::size_t length = 0;
    unsigned char secondLow = 0x80;
    unsigned char secondHigh = 0xBF;
    if (lead < 0x80) {
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            secondLow = 0xA0; // no overlong forms
        if (lead == 0xED)
            secondHigh = 0x9F; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            secondLow = 0x90;
        if (lead == 0xF4)
            secondHigh = 0x8F; // nothing above U+10FFFF
    } else {
        return 1;
    }
    if (pos + length > text.size())
        return 1;
    if (at(pos + 1) < secondLow || at(pos + 1) > secondHigh)
        return 1;
    for (std::size_t i = 2; i < length; ++i) {
        if (!isContinuation(at(pos + i)))
            return 1;
    }
    return length;
}

} // namespace

std::size_t utf8PrefixLength(std::string_view text, std::size_t maxBytes)
{
    if (text.size() <= maxBytes)
        return text.size();
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t length = sequenceLength(text, pos);
        if (pos + length > maxBytes)
            break;
        pos += length;
    }
    return pos;
}

bool setFieldText(char* field, std::size_t width, std::string_view text, std::size_t maxChars)
{
    if (width == 0)
        return text.empty();
    // Readers stop at the first NUL, so a text with one inside is stored up to it.
    const std::string_view stored = text.substr(0, std::min(text.size(), text.find('\0')));
    const std::size_t limit = std::min(maxChars, width - 1);
    const std::size_t length = utf8PrefixLength(stored, limit);
    std::copy_n(stored.data(), length, field);
    std::fill(field + length, field + width, '\0');
    return length == text.size();
}

} // namespace sentorix
