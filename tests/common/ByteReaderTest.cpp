// ByteReader over a fixed little-endian layout: the values read, and reads that do not fit.
#include "common/ByteReader.h"

#include <gtest/gtest.h>

#include <string_view>

using namespace sentorix;

namespace
{

constexpr unsigned char kBytes[] = {0x01, 0x34, 0x12, 0x78, 0x56, 0x34, 0x12, 0xF0,
                                    0xDE, 0xBC, 0x9A, 0x78, 0x56, 0x34, 0x12};

TEST(ByteReader, ReadsLittleEndianFieldsInOrderUpToTheEnd)
{
    ByteReader in(kBytes, sizeof kBytes);
    const struct {
        int bytes;
        uint64_t value;
    } fields[] = {{1, 0x01}, {2, 0x1234}, {4, 0x12345678}, {8, 0x123456789ABCDEF0}};
    for (const auto& field : fields) {
        uint64_t value = 0;
        ASSERT_TRUE(in.le(field.bytes, value)) << field.bytes;
        EXPECT_EQ(value, field.value) << field.bytes;
    }
    EXPECT_TRUE(in.atEnd());
    uint64_t value = 7;
    EXPECT_FALSE(in.le(1, value));
    EXPECT_EQ(value, 7u);
}

TEST(ByteReader, ARefusedReadTakesNothing)
{
    ByteReader in(kBytes, 3);
    uint64_t value = 0;
    EXPECT_FALSE(in.le(4, value)); // only three bytes are there
    std::string_view taken;
    EXPECT_FALSE(in.take(4, taken));
    EXPECT_FALSE(in.le(0, value));
    EXPECT_FALSE(in.le(9, value));
    ASSERT_TRUE(in.take(3, taken)); // still all three, from the start
    EXPECT_EQ(taken, std::string_view("\x01\x34\x12", 3));
    EXPECT_TRUE(in.take(0, taken));
    EXPECT_TRUE(in.atEnd());
}

TEST(ByteReader, AHugeCountCannotWrapPastTheEnd)
{
    ByteReader in(kBytes, sizeof kBytes);
    uint64_t value = 0;
    ASSERT_TRUE(in.le(2, value));
    const unsigned char* at = nullptr;
    EXPECT_FALSE(in.take(static_cast<std::size_t>(-1), at));
    EXPECT_FALSE(in.take(sizeof kBytes - 1, at));
    EXPECT_TRUE(in.take(sizeof kBytes - 2, at));
    EXPECT_EQ(at, kBytes + 2);
}

} // namespace
