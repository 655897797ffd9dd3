// Transfer encodings: the automatic choice, line wrapping, quoted-printable, period doubling
// and encodePartBody as a whole.
#include "mailer/smtp/TransferEncoding.h"

#include "mailer/smtp/Base64.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace sentorix;

namespace
{

std::string repeat(char c, std::size_t n)
{
    return std::string(n, c);
}

TransferEncoding choose(const std::string& s)
{
    return chooseEncoding(reinterpret_cast<const unsigned char*>(s.data()), s.size());
}

// 100 bytes without long lines, `high` of them above 0x7F.
std::string withHighBytes(int high)
{
    std::string s = repeat('a', 100 - static_cast<std::size_t>(high));
    s.append(static_cast<std::size_t>(high), '\xE9');
    return s;
}

} // namespace

TEST(ChooseEncoding, PicksFromContent)
{
    struct Case {
        const char* what;
        std::string content;
        TransferEncoding expected;
    };
    const std::vector<Case> cases = {
        {"plain short lines", "Hello\r\nWorld\r\n", TransferEncoding::SevenBit},
        {"ratio 90 stays text", withHighBytes(10), TransferEncoding::EightBit},
        {"ratio 89 goes base64", withHighBytes(11), TransferEncoding::Base64},
        {"later line of 76", "a\r\n" + repeat('x', 76) + "\r\n", TransferEncoding::SevenBit},
        {"later line of 77", "a\r\n" + repeat('x', 77) + "\r\n", TransferEncoding::QuotedPrintable},
        {"first line of 77", repeat('x', 77) + "\r\nb\r\n", TransferEncoding::SevenBit},
        {"first line of 78", repeat('x', 78) + "\r\nb\r\n", TransferEncoding::QuotedPrintable},
        {"text after the last CR is not measured", "a\r\n" + repeat('x', 200),
         TransferEncoding::SevenBit},
        {"long line beats 8bit", "\xE9\r\n" + repeat('x', 80) + "\r\n",
         TransferEncoding::QuotedPrintable},
        {"control byte", std::string("a\x01") + "bcdefghijklmnopqrstuvwxyz",
         TransferEncoding::EightBit},
        {"tabs and LF are printable", "a\tb\nc\r\n", TransferEncoding::SevenBit},
        {"empty content", "", TransferEncoding::SevenBit},
    };
    for (const Case& c : cases)
        EXPECT_EQ(choose(c.content), c.expected) << c.what;
}

TEST(To7Bit, ReplacesHighBytesOnly)
{
    std::string out;
    to7Bit(out, std::string("caf\xE9\x7F\x01\t~"));
    EXPECT_EQ(out, std::string("caf??\x01\t~"));
}

TEST(WrapLines, BreaksAtBreakCharsOrWidth)
{
    struct Case {
        const char* what;
        std::string in;
        std::size_t width;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"break after the space", "hello world", 8, "hello \r\nworld"},
        {"no break char: cut at width", repeat('a', 80), 76,
         repeat('a', 76) + "\r\n" + repeat('a', 4)},
        {"last break in the window", repeat('a', 60) + " " + repeat('b', 30), 76,
         repeat('a', 60) + " \r\n" + repeat('b', 30)},
        {"each break char counts", "aaaa-bbbb;cccc", 6, "aaaa-\r\nbbbb;\r\ncccc"},
        {"CR LF and lone CR end lines", "ab\r\ncd\ref", 76, "ab\r\ncd\r\nef"},
        {"lone LF is an ordinary character", "abc\ndef", 4, "abc\n\r\ndef"},
        {"ends with CR LF exactly when the input does", "ab\r\n", 76, "ab\r\n"},
        {"empty lines kept", "\r\n\r\nx", 76, "\r\n\r\nx"},
        {"exact width is not broken", repeat('a', 76), 76, repeat('a', 76)},
        {"empty", "", 76, ""},
    };
    for (const Case& c : cases) {
        std::string out = "junk";
        wrapLines(out, c.in, c.width);
        EXPECT_EQ(out, c.expected) << c.what;
    }
}

TEST(QuotedPrintable, EscapesAndSoftBreaks)
{
    struct Case {
        const char* what;
        std::string in;
        std::string expected;
    };
    const std::string seventyThree = repeat('a', 73);
    const std::vector<Case> cases = {
        {"equals sign", "a=b", "a=3Db"},
        {"high and control bytes", std::string("\xE9\x01\x7F"), "=E9=01=7F"},
        {"trailing space of a line", "ab \r\ncd\t", "ab=20\r\ncd=09"},
        {"inner blanks stay", "a b\tc", "a b\tc"},
        {"100 letters", repeat('x', 100), repeat('x', 75) + "=\r\n" + repeat('x', 25)},
        // The escape of 0xE9 lands at indexes 73 to 75: the cut moves before it.
        {"escape at 73..75", seventyThree + "\xE9" + "bbbb", seventyThree + "=\r\n=E9bbbb"},
        {"escape at 74..76", repeat('a', 74) + "\xE9" + "bbbb", repeat('a', 74) + "=\r\n=E9bbbb"},
        {"escape at 72..74 fits", repeat('a', 72) + "\xE9" + "bbbb",
         repeat('a', 72) + "=E9=\r\nbbbb"},
        // Escaping the trailing space makes the line too long again.
        {"trailing space at width", repeat('a', 75) + " ", repeat('a', 75) + "=\r\n=20"},
        {"exactly 76 stays", repeat('a', 76), repeat('a', 76)},
        {"empty", "", ""},
    };
    for (const Case& c : cases) {
        std::string out;
        encodeQuotedPrintable(out, c.in);
        EXPECT_EQ(out, c.expected) << c.what;
        // Every line, soft break included, stays within 76 characters.
        std::size_t start = 0;
        while (start <= out.size()) {
            std::size_t end = out.find("\r\n", start);
            if (end == std::string::npos)
                end = out.size();
            EXPECT_LE(end - start, 76u) << c.what;
            start = end + 2;
        }
    }
}

TEST(PeriodDoubling, DoublesAtEveryLineStart)
{
    struct Case {
        std::string in, expected;
    };
    const std::vector<Case> cases = {
        {".\r\n.", "..\r\n.."},
        {"a.b\r\n.c", "a.b\r\n..c"},
        {"\r\n.\r\n", "\r\n..\r\n"},
        {"no periods", "no periods"},
        {"a\n.b", "a\n.b"}, // only CR LF starts a line of the SMTP data
        {"", ""},
    };
    for (const Case& c : cases) {
        std::string out;
        doubleLeadingPeriods(out, c.in);
        EXPECT_EQ(out, c.expected) << c.in;
    }
}

TEST(EncodePartBody, EncodesNamesAndDoublesPeriods)
{
    struct Case {
        const char* what;
        int32_t encoding;
        std::string text;
        std::string expectedText;
        std::string expectedName;
    };
    const std::vector<Case> cases = {
        {"7bit replaces high bytes", 1, "caf\xE9", "caf?", "7bit"},
        {"8bit keeps them", 2, "caf\xE9", "caf\xE9", "8bit"},
        {"qp", 3, "a=b", "a=3Db", "quoted-printable"},
        {"base64", 4, "abc", "YWJj", "base64"},
        {"automatic 7bit", 0, "Hi there\r\n", "Hi there\r\n", "7bit"},
        {"automatic qp for a long later line", 0, "x\r\n" + repeat('y', 80) + "\r\n",
         "x\r\n" + repeat('y', 75) + "=\r\n" + repeat('y', 5) + "\r\n", "quoted-printable"},
        {"periods doubled after encoding", 1, ".\r\n.", "..\r\n..", "7bit"},
        {"text ends at its first NUL", 2, std::string("ab\0cd", 5), "ab", "8bit"},
        {"base64 of 100 bytes in two lines", 4, repeat('z', 100), "", "base64"},
    };
    for (const Case& c : cases) {
        std::string text = c.text;
        std::string name = "unset";
        encodePartBody(c.encoding, text, name);
        EXPECT_EQ(name, c.expectedName) << c.what;
        if (c.encoding == 4 && c.text.size() == 100) {
            ASSERT_EQ(text.size(), 136u + 2u) << c.what;
            EXPECT_EQ(text.find("\r\n"), 76u);
            EXPECT_EQ(text.substr(78).size(), 60u);
        } else {
            EXPECT_EQ(text, c.expectedText) << c.what;
        }
    }
}

TEST(EncodePartBody, UnknownEncodingGivesEmptyTextAndKeepsName)
{
    for (int32_t bad : {-1, 5, 99}) {
        std::string text = "content";
        std::string name = "previous";
        encodePartBody(bad, text, name);
        EXPECT_EQ(text, "");
        EXPECT_EQ(name, "previous");
    }
}

TEST(EncodePartBody, DataBlockIsTheContent)
{
    const unsigned char bytes[] = {'h', 'i', '\r', '\n'};
    std::string text = "ignored";
    std::string name;
    encodePartBody(0, text, name, bytes, sizeof bytes);
    EXPECT_EQ(name, "7bit");
    EXPECT_EQ(text, "hi\r\n");

    // Base64 takes every byte, NULs included.
    const unsigned char binary[] = {0, 1, 2, 0, 0xFF};
    encodePartBody(4, text, name, binary, sizeof binary);
    EXPECT_EQ(name, "base64");
    EXPECT_EQ(text, "AAECAP8=");
}

TEST(EncodePartBody, AutomaticSendsABlockWithANulAsBase64)
{
    // Mostly text, so the ratio alone would choose 8bit and the text form would stop at the
    // NUL, losing the rest of the file.
    std::string file = repeat('a', 200);
    file[10] = '\0';
    std::string text;
    std::string name;
    encodePartBody(0, text, name, reinterpret_cast<const unsigned char*>(file.data()), file.size());
    EXPECT_EQ(name, "base64");
    std::string joined;
    for (char c : text) {
        if (c != '\r' && c != '\n')
            joined.push_back(c);
    }
    EXPECT_EQ(joined.size(), (200u + 2) / 3 * 4);
}

TEST(EncodePartBody, Base64MatchesTheCodecWrappedAt76)
{
    // encodePartBody writes base64 lines in one pass; they must equal CBase64 output broken
    // by wrapLines, for every remainder and around whole lines (57 bytes per line).
    std::string data;
    for (int i = 0; i < 400; ++i)
        data.push_back(static_cast<char>((i * 131 + 7) & 0xFF));
    for (std::size_t n : {0u, 1u, 2u, 3u, 56u, 57u, 58u, 113u, 114u, 115u, 171u, 399u, 400u}) {
        CBase64 codec;
        codec.encode(reinterpret_cast<const unsigned char*>(data.data()), n);
        std::string expected;
        wrapLines(expected, codec.encodedView(), 76);
        std::string text = "previous content of the caller's buffer";
        std::string name;
        encodePartBody(4, text, name, reinterpret_cast<const unsigned char*>(data.data()), n);
        EXPECT_EQ(text, expected) << n;
    }
}
