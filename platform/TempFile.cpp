#include "TempFile.h"

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>
#include <string_view>

namespace sentorix
{

namespace
{

constexpr unsigned kNumbers = 0xFFFF; // the names use the numbers 1..FFFF

unsigned randomStart()
{
    std::random_device device;
    return device() % kNumbers;
}

bool endsWithTmp(std::string_view name)
{
    if (name.size() < 4)
        return false;
    std::string_view ext = name.substr(name.size() - 4);
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    return ext[0] == '.' && lower(ext[1]) == 't' && lower(ext[2]) == 'm' && lower(ext[3]) == 'p';
}

} // namespace

// Tries every number once, starting at a random one so that concurrent callers rarely
// collide; O_EXCL makes the creation itself the test of uniqueness.
std::string createTempFile(const std::string& folder, const std::string& prefix)
{
    unsigned start = randomStart();
    for (unsigned i = 0; i < kNumbers; ++i) {
        unsigned number = (start + i) % kNumbers + 1;
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "%X.tmp", number);
        std::string path = folder + "/" + prefix + suffix;
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::close(fd);
            return path;
        }
        if (errno != EEXIST && errno != EINTR)
            return {}; // a missing or unwritable folder: no number will help
    }
    return {};
}

// Only regular files are removed; a directory or a symbolic link named "*.tmp" is left
// alone, so nothing outside the folder is ever touched.
void deleteTempFiles(const std::string& folder)
{
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return;
    int dirFd = ::dirfd(dir);
    while (dirent* entry = ::readdir(dir)) {
        std::string_view name(entry->d_name);
        if (!endsWithTmp(name))
            continue;
        struct stat st {
        };
        if (::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
            continue;
        ::unlinkat(dirFd, entry->d_name, 0);
    }
    ::closedir(dir);
}

} // namespace sentorix
