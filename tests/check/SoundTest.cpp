// The desktop sound service on a machine that may have no sound device: playing returns at
// once and never fails, whether the file exists or not.

#include "tests/support/TestSupport.h"

#include "platform/Sound.h"

#include <gtest/gtest.h>

namespace sentorix::test
{
namespace
{

TEST(CanberraSound, PlayingNeverFailsWithOrWithoutFileOrDevice)
{
    TempDir folder;
    const std::string wave = folder.file("Sentorix.sound");
    // A valid, silent 8-bit mono wave of 100 samples.
    std::string bytes = "RIFF";
    auto le32 = [&bytes](uint32_t v) {
        for (int i = 0; i < 4; ++i)
            bytes.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    auto le16 = [&bytes](uint16_t v) {
        bytes.push_back(static_cast<char>(v & 0xFF));
        bytes.push_back(static_cast<char>(v >> 8));
    };
    le32(36 + 100);
    bytes += "WAVEfmt ";
    le32(16);
    le16(1);
    le16(1);
    le32(8000);
    le32(8000);
    le16(1);
    le16(8);
    bytes += "data";
    le32(100);
    bytes += std::string(100, '\x80');
    writeFile(wave, bytes);

    ASSERT_TRUE(CanberraSoundPlayer::libraryLoads());
    CanberraSoundPlayer player;
    player.play(wave);
    player.play(wave);                          // cuts off the first
    player.play(folder.file("Sentorix.alert")); // missing: the default event sound
    SUCCEED();
}

} // namespace
} // namespace sentorix::test
