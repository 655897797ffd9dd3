// The base64 codec: encoding of every group length, decoding of login prompts with white
// space, and the buffer rules that make both results readable as terminated text.
#include "mailer/smtp/Base64.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace sentorix;

namespace
{

std::string encoded(const std::string& plain)
{
    CBase64 codec;
    codec.encode(reinterpret_cast<const unsigned char*>(plain.data()), plain.size());
    EXPECT_EQ(std::strlen(codec.encodedData()), codec.encodedLength());
    return codec.encodedData();
}

std::string decodedText(const char* text)
{
    CBase64 codec;
    codec.decodeText(text);
    return reinterpret_cast<const char*>(codec.plainData());
}

} // namespace

TEST(Base64, EncodesGroupsAndPadding)
{
    struct Case {
        std::string plain, expected;
    };
    const std::vector<Case> cases = {
        {"", ""},
        {"M", "TQ=="},
        {"Ma", "TWE="},
        {"Man", "TWFu"},
        {"Username:", "VXNlcm5hbWU6"},
        {std::string("\0\xFF\xFE", 3), "AP/+"},
        {"\xFB\xFF", "+/8="},
    };
    for (const Case& c : cases)
        EXPECT_EQ(encoded(c.plain), c.expected) << c.plain;
}

TEST(Base64, HundredBytesGive136Characters)
{
    EXPECT_EQ(encoded(std::string(100, 'q')).size(), 136u);
}

TEST(Base64, DecodesPromptsIgnoringWhiteSpace)
{
    EXPECT_EQ(decodedText("VXNlcm5hbWU6"), "Username:");
    EXPECT_EQ(decodedText("UGFzc3dvcmQ6"), "Password:");
    EXPECT_EQ(decodedText("UGFz c3dv\r\ncmQ6\t"), "Password:");
    EXPECT_EQ(decodedText("TWE="), "Ma");
    EXPECT_EQ(decodedText("TQ=="), "M");
}

TEST(Base64, DecodeLengthFollowsGroupsAndRemainder)
{
    CBase64 codec;
    codec.decodeText("TWE=");
    EXPECT_EQ(codec.plainLength(), 3u); // a full group counts three, padding or not
    codec.decodeText("TWFuTQ");
    EXPECT_EQ(codec.plainLength(), 5u); // two characters left over count two
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(codec.plainData()), 4), "ManM");
}

TEST(Base64, RoundTripsEveryByteValue)
{
    std::string all;
    for (int i = 0; i < 256; ++i)
        all.push_back(static_cast<char>(i));
    const std::string text = encoded(all);
    CBase64 codec;
    codec.decodeText(text.c_str());
    ASSERT_GE(codec.plainLength(), all.size());
    EXPECT_EQ(std::memcmp(codec.plainData(), all.data(), all.size()), 0);
}

TEST(Base64, BuffersGrowInStepsOf4096AndAreReused)
{
    CBase64 codec;
    EXPECT_EQ(codec.plainCapacity(), 0u);
    EXPECT_STREQ(codec.encodedData(), ""); // readable before any use
    codec.preparePlain(4096);
    EXPECT_EQ(codec.plainCapacity(), 8192u);
    codec.preparePlain(10);
    EXPECT_EQ(codec.plainCapacity(), 8192u);
    codec.prepareEncoded(4095);
    EXPECT_EQ(codec.encodedCapacity(), 4096u);

    // A shorter result after a longer one leaves no old bytes behind the terminator.
    codec.encodeText("a much longer text than the next one");
    codec.encodeText("ab");
    EXPECT_STREQ(codec.encodedData(), "YWI=");
}

TEST(Base64, NullTextChangesNothing)
{
    CBase64 codec;
    codec.encodeText("abc");
    codec.encodeText(nullptr);
    codec.decodeText(nullptr);
    EXPECT_STREQ(codec.encodedData(), "YWJj");
}
