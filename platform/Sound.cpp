#include "platform/Sound.h"

#include <canberra.h>
#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>
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

// libcanberra and the sound libraries it pulls in are loaded at the first sound, not at the
// start of every run: most runs of the command-line tool play none, and loading them would
// cost every run their mapping and relocation.
struct Canberra {
    decltype(&ca_context_create) create = nullptr;
    decltype(&ca_context_destroy) destroy = nullptr;
    decltype(&ca_context_change_props) changeProps = nullptr;
    decltype(&ca_context_open) open = nullptr;
    decltype(&ca_context_cancel) cancel = nullptr;
    decltype(&ca_context_play) play = nullptr;
};

template <typename F> bool resolve(void* library, const char* name, F& function)
{
    function = reinterpret_cast<F>(::dlsym(library, name));
    return function != nullptr;
}

// The library's functions, or null when it cannot be loaded whole.
const Canberra* canberra()
{
    static Canberra api;
    static bool loaded = false;
    static std::once_flag once;
    std::call_once(once, [] {
        void* library = ::dlopen("libcanberra.so.0", RTLD_NOW | RTLD_LOCAL);
        if (!library)
            return;
        loaded = resolve(library, "ca_context_create", api.create) &&
                 resolve(library, "ca_context_destroy", api.destroy) &&
                 resolve(library, "ca_context_change_props", api.changeProps) &&
                 resolve(library, "ca_context_open", api.open) &&
                 resolve(library, "ca_context_cancel", api.cancel) &&
                 resolve(library, "ca_context_play", api.play);
    });
    return loaded ? &api : nullptr;
}

} // namespace

CanberraSoundPlayer::CanberraSoundPlayer() = default;

CanberraSoundPlayer::~CanberraSoundPlayer()
{
    if (m_context)
        canberra()->destroy(static_cast<ca_context*>(m_context));
}

bool CanberraSoundPlayer::libraryLoads()
{
    return canberra() != nullptr;
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
    const Canberra* api = soundOutputPresent() ? canberra() : nullptr;
    if (!api) {
        m_unavailable = true;
        return false;
    }
    ca_context* context = nullptr;
    if (api->create(&context) != CA_SUCCESS) {
        m_unavailable = true;
        return false;
    }
    api->changeProps(context, CA_PROP_APPLICATION_NAME, "Sentorix",
                     static_cast<const char*>(nullptr));
    if (api->open(context) != CA_SUCCESS) {
        api->destroy(context);
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
    const Canberra* api = canberra();
    auto* context = static_cast<ca_context*>(m_context);
    api->cancel(context, kSoundId);
    if (::access(path.c_str(), R_OK) == 0 &&
        api->play(context, kSoundId, CA_PROP_MEDIA_FILENAME, path.c_str(),
                  CA_PROP_CANBERRA_CACHE_CONTROL, "never",
                  static_cast<const char*>(nullptr)) == CA_SUCCESS)
        return;
    api->play(context, kSoundId, CA_PROP_EVENT_ID, kDefaultEvent,
              static_cast<const char*>(nullptr));
}

} // namespace sentorix
