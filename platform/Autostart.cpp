#include "platform/Autostart.h"

#include "common/DataFolder.h"
#include "common/TextFile.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace sentorix
{

namespace
{

bool isAbsolute(const char* path)
{
    return path != nullptr && path[0] == '/';
}

// mkdir -p; the folders it makes are the user's own (0700), like the data folder.
bool makeFolders(const std::string& folder)
{
    if (folder.empty())
        return false;
    for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string part = folder.substr(0, slash);
        if (!part.empty() && ::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
        if (slash == std::string::npos)
            break;
    }
    struct stat st {
    };
    return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

std::string userAutostartFolder()
{
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (isAbsolute(config))
        return joinPath(config, "autostart");
    const char* home = std::getenv("HOME");
    if (isAbsolute(home))
        return joinPath(joinPath(home, ".config"), "autostart");
    return {};
}

std::string autostartEntryText(const std::string& program)
{
    if (program.empty() || program[0] != '/')
        return {};
    // The Exec value: the program as one quoted argument, in which ", `, $ and \ take a
    // backslash; a % is doubled so that it is not read as a field code. The value as a whole
    // is a string, whose own escapes are undone before the quoting is read, so every
    // backslash of the quoted form is written twice: a " becomes \\" and a \ four of them.
    std::string quoted = "\"";
    for (const char c : program) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            return {};
        if (c == '"' || c == '`' || c == '$')
            quoted += "\\\\";
        else if (c == '\\')
            quoted += "\\\\\\";
        else if (c == '%')
            quoted += "%";
        quoted += c;
    }
    quoted += "\"";

    std::string text = "[Desktop Entry]\n"
                       "Type=Application\n"
                       "Name=Sentorix\n"
                       "Comment=Watch documents for changes, hidden in the tray\n"
                       "Exec=";
    text += quoted;
    text += " ";
    text += kHideSwitch;
    text += "\n"
            "Terminal=false\n"
            "X-GNOME-Autostart-enabled=true\n";
    return text;
}

AutostartEntry::AutostartEntry(std::string folder) : m_folder(std::move(folder)) {}

AutostartEntry AutostartEntry::forUser()
{
    return AutostartEntry(userAutostartFolder());
}

std::string AutostartEntry::path() const
{
    return m_folder.empty() ? std::string() : joinPath(m_folder, kAutostartEntryName);
}

bool AutostartEntry::exists() const
{
    const std::string entry = path();
    struct stat st {
    };
    return !entry.empty() && ::lstat(entry.c_str(), &st) == 0;
}

bool AutostartEntry::install(const std::string& program) const
{
    const std::string text = autostartEntryText(program);
    if (text.empty() || !makeFolders(m_folder))
        return false;
    return writeFileReplacing(path(), text.data(), text.size());
}

bool AutostartEntry::remove() const
{
    const std::string entry = path();
    if (entry.empty())
        return false;
    return ::unlink(entry.c_str()) == 0 || errno == ENOENT;
}

} // namespace sentorix
