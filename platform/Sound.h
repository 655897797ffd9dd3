// The event-sound service: plays a sound file without waiting for it.
//
// A new sound cuts off one still playing; a file that cannot be found gives the desktop's
// default event sound instead; no sound device, or a busy one, gives silence. Nothing is
// reported: a sound is a courtesy, never a reason to fail.
#pragma once

#include <memory>
#include <mutex>
#include <string>

namespace sentorix
{

class SoundPlayer
{
public:
    virtual ~SoundPlayer() = default;
    // Starts playing the file and returns at once.
    virtual void play(const std::string& path) = 0;
};

// Plays nothing; for tests and for programs without sound.
class NullSoundPlayer final : public SoundPlayer
{
public:
    void play(const std::string&) override {}
};

// The desktop's event-sound service through libcanberra.
class CanberraSoundPlayer final : public SoundPlayer
{
public:
    CanberraSoundPlayer();
    ~CanberraSoundPlayer() override;
    CanberraSoundPlayer(const CanberraSoundPlayer&) = delete;
    CanberraSoundPlayer& operator=(const CanberraSoundPlayer&) = delete;

    void play(const std::string& path) override;

    // Whether the sound library can be loaded (it is loaded at the first sound).
    static bool libraryLoads();

    // The event sound played for a file that cannot be found.
    static constexpr const char* kDefaultEvent = "bell";

private:
    bool ensureContext();

    std::mutex m_mutex;
    void* m_context = nullptr; // ca_context*
    bool m_unavailable = false;
};

} // namespace sentorix
