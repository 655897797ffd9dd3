#include "common/DataFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace sentorix
{

namespace
{

constexpr const char* kDataSubfolder = "/Tarnwick/Sentorix";

std::string environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

bool isDirectory(const std::string& path)
{
    struct stat st {
    };
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Creates `path` and every missing parent with mode 0700; true when the folder exists
// afterwards (created now or before).
bool makeFolders(const std::string& path)
{
    if (path.empty())
        return false;
    for (std::size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos != path.size() && path[pos] != '/')
            continue;
        const std::string prefix = path.substr(0, pos);
        // An existing parent may refuse mkdir with another error than EEXIST (a folder of
        // someone else's, a read-only mount): only a missing one stops the walk.
        if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST && !isDirectory(prefix))
            return false;
    }
    return isDirectory(path);
}

} // namespace

std::string joinPath(const std::string& folder, const std::string& name)
{
    if (folder.empty())
        return name;
    if (folder.back() == '/')
        return folder + name;
    return folder + "/" + name;
}

std::string findInstallFolder()
{
    std::string configured = environment("SENTORIX_INSTALL_DIR");
    if (!configured.empty())
        return configured;

    std::vector<char> buffer(4096);
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length > 0 && static_cast<std::size_t>(length) < buffer.size()) {
        const std::string exe(buffer.data(), static_cast<std::size_t>(length));
        const std::size_t slash = exe.rfind('/');
        if (slash == 0)
            return "/";
        if (slash != std::string::npos)
            return exe.substr(0, slash);
    }
    return ".";
}

std::string userDataFolderPath()
{
    // Only absolute values count: a relative one would put the data wherever the program
    // happens to be started.
    const std::string dataHome = environment("XDG_DATA_HOME");
    if (!dataHome.empty() && dataHome.front() == '/')
        return dataHome + kDataSubfolder;
    const std::string home = environment("HOME");
    if (!home.empty() && home.front() == '/')
        return home + "/.local/share" + kDataSubfolder;
    return {};
}

std::string monitorDataFolder(const std::string& installFolder)
{
    const std::string path = userDataFolderPath();
    if (makeFolders(path))
        return path;
    return installFolder;
}

std::string mailerDataFolder()
{
    const std::string path = userDataFolderPath();
    if (!path.empty() && isDirectory(path))
        return path;
    return ".";
}

} // namespace sentorix
