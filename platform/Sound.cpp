#include "platform/Sound.h"

#include <canberra.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace sentorix
{
namespace
{

// Every sound of the program is played under one id, so cancelling it cuts off the last one.
constexpr uint32_t kSoundId = 1;

// Whether there is anything to play on: a sound server's socket or a sound card. Without
// either, opening a context only makes the sound libraries print their failures on the
// standard error of a headless program.
bool soundOutputPresent()
{
    if (const char* server = std::getenv("PULSE_SERVER"); server && *server)
        return true;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
        const std::string socket = std::string(runtime) + "/pulse/native";
        if (::access(socket.c_str(), F_OK) == 0)
            return true;
    }
    return ::access("/dev/snd", F_OK) == 0;
}

} // namespace

CanberraSoundPlayer::CanberraSoundPlayer() = default;

CanberraSoundPlayer::~CanberraSoundPlayer()
{
    if (m_context)
        ca_context_destroy(static_cast<ca_context*>(m_context));
}

// The context is made at the first sound, so a program that never plays one never talks to
// the sound server. When it cannot be opened (no device, no server) every later sound is
// silence without trying again.
bool CanberraSoundPlayer::ensureContext()
{
    if (m_context)
        return true;
    if (m_unavailable)
        return false;
    if (!soundOutputPresent()) {
        m_unavailable = true;
        return false;
    }
    ca_context* context = nullptr;
    if (ca_context_create(&context) != CA_SUCCESS) {
        m_unavailable = true;
        return false;
    }
    ca_context_change_props(context, CA_PROP_APPLICATION_NAME, "Sentorix",
                            static_cast<const char*>(nullptr));
    if (ca_context_open(context) != CA_SUCCESS) {
        ca_context_destroy(context);
        m_unavailable = true;
        return false;
    }
    m_context = context;
    return true;
}

void CanberraSoundPlayer::play(const std::string& path)
{
    std::lock_guard lock(m_mutex);
    if (!ensureContext())
        return;
    auto* context = static_cast<ca_context*>(m_context);
    ca_context_cancel(context, kSoundId);
    if (::access(path.c_str(), R_OK) == 0 &&
        ca_context_play(context, kSoundId, CA_PROP_MEDIA_FILENAME, path.c_str(),
                        CA_PROP_CANBERRA_CACHE_CONTROL, "never",
                        static_cast<const char*>(nullptr)) == CA_SUCCESS)
        return;
    ca_context_play(context, kSoundId, CA_PROP_EVENT_ID, kDefaultEvent,
                    static_cast<const char*>(nullptr));
}

} // namespace sentorix
