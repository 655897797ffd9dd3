// The transfer encodings over any content: base64 decodes back to what it encoded (padded with
// NUL bytes to whole groups), and never
// reads or writes outside its buffers on any text it is asked to decode; quoted-printable and
// the other forms stay within 7-bit text where they promise it.
#include "fuzz/FuzzSupport.h"

#include "mailer/smtp/Base64.h"
#include "mailer/smtp/TransferEncoding.h"

#include <string>
#include <string_view>

using namespace sentorix;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    {
        CBase64 codec;
        codec.encode(data, size);
        const std::string encoded(codec.encodedView());
        for (char c : encoded)
            fuzz::require(c == '=' ||
                              std::string_view(kBase64Alphabet).find(c) != std::string_view::npos,
                          "base64 wrote a byte outside its alphabet");
        CBase64 back;
        back.decode(reinterpret_cast<const unsigned char*>(encoded.data()), encoded.size());
        // Padding decodes to NUL bytes: whole groups of three come back.
        const std::string_view plain = back.plainView();
        fuzz::require(plain.size() == (size + 2) / 3 * 3 && plain.substr(0, size) == input &&
                          plain.substr(size).find_first_not_of('\0') == std::string_view::npos,
                      "base64 did not decode to what it encoded");
    }
    {
        // Any text at all handed to the decoder.
        CBase64 codec;
        codec.decode(data, size);
        (void)codec.plainView();
        std::string text(input);
        codec.decodeText(text.c_str());
    }
    {
        std::string out;
        encodeQuotedPrintable(out, input);
        for (unsigned char c : out)
            fuzz::require(c < 0x80, "quoted-printable wrote a byte above 0x7F");
    }
    {
        std::string out;
        to7Bit(out, input);
        for (unsigned char c : out)
            fuzz::require(c < 0x7F, "to7Bit kept a byte from 0x7F up");
        wrapLines(out, input);
        doubleLeadingPeriods(out, input);
        (void)chooseEncoding(data, size);
    }
    for (int32_t encoding = 0; encoding <= 5; ++encoding) {
        std::string text(input);
        std::string name;
        encodePartBody(encoding, text, name);
        std::string blockText;
        encodePartBody(encoding, blockText, name, data, size);
    }
    return 0;
}
