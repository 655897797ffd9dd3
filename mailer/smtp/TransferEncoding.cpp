#include "mailer/smtp/TransferEncoding.h"

#include "mailer/smtp/Base64.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace sentorix
{

namespace
{

constexpr std::array<bool, 256> makeBreakTable()
{
    std::array<bool, 256> t{};
    for (char c : kLineBreakChars)
        t[static_cast<unsigned char>(c)] = true;
    return t;
}
constexpr std::array<bool, 256> kIsBreakChar = makeBreakTable();

constexpr bool isPrintable(unsigned char c)
{
    return c == '\t' || c == '\n' || c == '\r' || (c >= 0x20 && c <= 0x7E);
}

// Bytes that quoted-printable copies as they are; every other byte becomes "=XX".
constexpr bool isQuotedPrintableLiteral(unsigned char c)
{
    return isPrintable(c) && c != '=';
}

constexpr char kHexDigits[] = "0123456789ABCDEF";

// The debug channel: silent unless SENTORIX_DEBUG is set to something other than "0".
bool debugEnabled()
{
    static const bool enabled = [] {
        const char* value = std::getenv("SENTORIX_DEBUG");
        return value != nullptr && *value != '\0' && std::strcmp(value, "0") != 0;
    }();
    return enabled;
}

// Calls `line(text, endedWithCr)` for every line of `in`: a line ends at a CR, and an LF right
// after that CR belongs to the line end. The text after the last CR is the last line, with
// endedWithCr false (and it is not reported when it is empty).
template <typename LineFn> void forEachLine(std::string_view in, LineFn&& line)
{
    std::size_t pos = 0;
    const std::size_t size = in.size();
    while (pos < size) {
        const void* cr = std::memchr(in.data() + pos, '\r', size - pos);
        if (cr == nullptr) {
            line(in.substr(pos), false);
            return;
        }
        const auto end = static_cast<std::size_t>(static_cast<const char*>(cr) - in.data());
        line(in.substr(pos, end - pos), true);
        pos = end + 1;
        if (pos < size && in[pos] == '\n')
            ++pos;
    }
}

// Two base64 characters for every 12-bit value, so three bytes take two look-ups.
struct PairTable {
    char pairs[4096][2];
    constexpr PairTable() : pairs()
    {
        for (int v = 0; v < 4096; ++v) {
            pairs[v][0] = kBase64Alphabet[v >> 6];
            pairs[v][1] = kBase64Alphabet[v & 63];
        }
    }
};
constexpr PairTable kBase64Pairs;

// Length of the base64 text of `length` bytes in lines of 76 separated by CR LF.
std::size_t base64WrappedLength(std::size_t length)
{
    const std::size_t chars = (length + 2) / 3 * 4;
    const std::size_t breaks = chars == 0 ? 0 : (chars - 1) / kEncodedLineWidth;
    return chars + 2 * breaks;
}

// Writes the base64 form of `length` bytes into `out` in lines of 76 characters separated by
// CR LF, the last line shorter and without a line end: the codec's output broken by
// wrapLines (base64 holds no break character), made in one pass straight into the result.
// `out` has room for base64WrappedLength(length).
void encodeBase64Wrapped(const unsigned char* in, std::size_t length, char* out)
{
    static_assert(kEncodedLineWidth % 4 == 0);
    constexpr std::size_t kBytesPerLine = kEncodedLineWidth / 4 * 3;
    auto group = [](const unsigned char* p, char* o) {
        const uint32_t v = (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
        std::memcpy(o, kBase64Pairs.pairs[v >> 12], 2);
        std::memcpy(o + 2, kBase64Pairs.pairs[v & 0xFFF], 2);
    };
    std::size_t pos = 0;
    while (length - pos >= kBytesPerLine) {
        for (std::size_t k = 0; k < kBytesPerLine / 3; ++k)
            group(in + pos + 3 * k, out + 4 * k);
        out += kEncodedLineWidth;
        pos += kBytesPerLine;
        if (pos < length) {
            out[0] = '\r';
            out[1] = '\n';
            out += 2;
        }
    }
    for (; length - pos >= 3; pos += 3, out += 4)
        group(in + pos, out);
    if (pos < length) {
        const unsigned char last[3] = {in[pos], pos + 1 < length ? in[pos + 1] : uint8_t{0}, 0};
        group(last, out);
        out[3] = '=';
        if (pos + 1 == length)
            out[2] = '=';
    }
}

} // namespace

std::string_view encodingName(TransferEncoding encoding)
{
    switch (encoding) {
    case TransferEncoding::SevenBit:
        return "7bit";
    case TransferEncoding::EightBit:
        return "8bit";
    case TransferEncoding::QuotedPrintable:
        return "quoted-printable";
    case TransferEncoding::Base64:
        return "base64";
    case TransferEncoding::Automatic:
        break;
    }
    return {};
}

TransferEncoding chooseEncoding(const unsigned char* data, std::size_t length)
{
    if (data == nullptr || length == 0)
        return TransferEncoding::SevenBit;

    std::size_t printable = 0;
    bool nonPrintable = false;
    bool longLine = false;
    std::size_t lineStart = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned char c = data[i];
        if (isPrintable(c))
            ++printable;
        else
            nonPrintable = true;
        if (c == '\r') {
            // The measure is the bytes from the line's first byte up to the CR, minus one;
            // with CR LF line ends the LF opens the next line, so a first line is long from
            // 78 characters and every later one from 77.
            const std::size_t bytesBeforeCr = i - lineStart;
            if (bytesBeforeCr > kEncodedLineWidth + 1)
                longLine = true;
            lineStart = i + 1;
        }
    }
    // Multiplying first cannot overflow for any size a message can have (below 2^57 bytes).
    if (printable * 100 / length <= 89)
        return TransferEncoding::Base64;
    if (longLine)
        return TransferEncoding::QuotedPrintable;
    if (nonPrintable)
        return TransferEncoding::EightBit;
    return TransferEncoding::SevenBit;
}

void to7Bit(std::string& out, std::string_view in)
{
    out.assign(in);
    for (char& c : out) {
        if (static_cast<unsigned char>(c) >= 0x7F)
            c = '?';
    }
}

void wrapLines(std::string& out, std::string_view in, std::size_t width)
{
    out.clear();
    if (in.empty())
        return;
    if (width == 0)
        width = 1; // a zero width could never make progress
    out.reserve(in.size() + in.size() / 60 * 2 + 2);

    forEachLine(in, [&](std::string_view line, bool endedWithCr) {
        while (line.size() > width) {
            std::size_t piece = width;
            for (std::size_t k = width; k > 0; --k) {
                if (kIsBreakChar[static_cast<unsigned char>(line[k - 1])]) {
                    piece = k;
                    break;
                }
            }
            out.append(line.data(), piece);
            out.append("\r\n", 2);
            line.remove_prefix(piece);
        }
        out.append(line);
        if (endedWithCr)
            out.append("\r\n", 2);
    });
}

void encodeQuotedPrintable(std::string& out, std::string_view in)
{
    out.clear();
    if (in.empty())
        return;
    out.reserve(in.size() + in.size() / 8 + 16);

    // CR and LF are never escaped, so the lines of the escaped text are the escaped lines of
    // the input: each line is escaped into one reused buffer and then cut.
    constexpr std::size_t kMaxLine = kEncodedLineWidth;
    std::string escaped;
    forEachLine(in, [&](std::string_view raw, bool endedWithCr) {
        escaped.clear();
        for (char ch : raw) {
            const auto c = static_cast<unsigned char>(ch);
            if (isQuotedPrintableLiteral(c)) {
                escaped.push_back(ch);
            } else {
                escaped.push_back('=');
                escaped.push_back(kHexDigits[c >> 4]);
                escaped.push_back(kHexDigits[c & 0x0F]);
            }
        }
        // A blank at the end of a line would be lost in transit: escape it. Doing this before
        // the cuts gives the same cuts, which only look at the first 75 characters of a part
        // longer than 76.
        if (!escaped.empty() && (escaped.back() == ' ' || escaped.back() == '\t')) {
            const char blank = escaped.back();
            escaped.pop_back();
            escaped.append(blank == ' ' ? "=20" : "=09");
        }
        std::string_view line = escaped;
        while (line.size() > kMaxLine) {
            // Cut after 75 characters, or earlier so that no "=XX" is split.
            std::size_t cut = kMaxLine - 1;
            if (line[kMaxLine - 2] == '=')
                cut = kMaxLine - 2;
            else if (line[kMaxLine - 3] == '=')
                cut = kMaxLine - 3;
            out.append(line.data(), cut);
            out.append("=\r\n", 3);
            line.remove_prefix(cut);
        }
        out.append(line);
        if (endedWithCr)
            out.append("\r\n", 2);
    });
}

void doubleLeadingPeriods(std::string& out, std::string_view in)
{
    out.clear();
    out.reserve(in.size() + 16);
    std::size_t pos = 0;
    if (!in.empty() && in[0] == '.') {
        out.push_back('.');
    }
    for (;;) {
        const std::size_t hit = in.find("\r\n.", pos);
        if (hit == std::string_view::npos)
            break;
        out.append(in.data() + pos, hit + 3 - pos);
        out.push_back('.');
        pos = hit + 3;
    }
    out.append(in.data() + pos, in.size() - pos);
}

void encodePartBody(int32_t encoding, std::string& text, std::string& encodingName,
                    const unsigned char* data, std::size_t dataLength)
{
    const auto start = std::chrono::steady_clock::now();

    std::string_view input;
    std::string inputCopy;
    if (data == nullptr) {
        inputCopy = text.substr(0, std::strlen(text.c_str()));
        input = inputCopy;
    } else {
        input = std::string_view(reinterpret_cast<const char*>(data), dataLength);
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(input.data());

    if (encoding == static_cast<int32_t>(TransferEncoding::Automatic)) {
        encoding = static_cast<int32_t>(chooseEncoding(bytes, input.size()));
        // A block of raw bytes holding a NUL would be cut at that NUL by every encoding but
        // base64, losing the rest of the file: send such a block as base64.
        if (data != nullptr && encoding != static_cast<int32_t>(TransferEncoding::Base64) &&
            std::memchr(input.data(), 0, input.size()) != nullptr)
            encoding = static_cast<int32_t>(TransferEncoding::Base64);
    }
    // Every encoding but base64 takes the content as text up to its first NUL.
    const std::string_view asText = input.substr(0, strnlen(input.data(), input.size()));

    std::string result;
    switch (encoding) {
    case static_cast<int32_t>(TransferEncoding::SevenBit): {
        encodingName = "7bit";
        std::string converted;
        to7Bit(converted, asText);
        wrapLines(result, converted, kEncodedLineWidth);
        break;
    }
    case static_cast<int32_t>(TransferEncoding::EightBit):
        encodingName = "8bit";
        wrapLines(result, asText, kEncodedLineWidth);
        break;
    case static_cast<int32_t>(TransferEncoding::QuotedPrintable):
        encodingName = "quoted-printable";
        encodeQuotedPrintable(result, asText);
        break;
    case static_cast<int32_t>(TransferEncoding::Base64):
        // Straight into the result; the same text as CBase64::encode and wrapLines at 76.
        encodingName = "base64";
        {
            // The caller's buffer is reused unless the data block lives inside it.
            const auto* own = reinterpret_cast<const unsigned char*>(text.data());
            const bool inside = data != nullptr && data >= own && data < own + text.size();
            if (!inside)
                result.swap(text);
        }
        result.clear();
        result.resize(base64WrappedLength(input.size()));
        encodeBase64Wrapped(bytes, input.size(), result.data());
        break;
    default:
        break;
    }

    // Base64 text holds no period, and most text none at a line start: skip the copy then.
    if (encoding == static_cast<int32_t>(TransferEncoding::Base64) || result.empty() ||
        (result[0] != '.' && result.find("\r\n.") == std::string::npos))
        text = std::move(result);
    else
        doubleLeadingPeriods(text, result);

    if (debugEnabled()) {
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
        std::fprintf(stderr, "Encoding took %dms\n", static_cast<int>(elapsed.count()));
    }
}

} // namespace sentorix
