#include "fuzz/FuzzSupport.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

namespace sentorix::fuzz
{
namespace
{

std::string makeFolder()
{
    // A memory file system where there is one: the loaders flush what they write.
    const char* base = std::getenv("TMPDIR");
    std::string folder = base && *base ? base : "/tmp";
    if (!(base && *base) && ::access("/dev/shm", W_OK | X_OK) == 0)
        folder = "/dev/shm";
    std::string templ = folder + "/sentorix-fuzz-XXXXXX";
    std::vector<char> name(templ.begin(), templ.end());
    name.push_back('\0');
    if (!::mkdtemp(name.data())) {
        std::perror("sentorix fuzz: mkdtemp");
        std::abort();
    }
    return name.data();
}

void removeFolder()
{
    std::error_code ignored;
    std::filesystem::remove_all(scratchFolder(), ignored);
}

} // namespace

const std::string& scratchFolder()
{
    static const std::string folder = [] {
        std::string made = makeFolder();
        return made;
    }();
    static const bool registered = std::atexit(removeFolder) == 0;
    (void)registered;
    return folder;
}

std::string writeScratchFile(const std::string& name, const uint8_t* data, std::size_t size)
{
    const std::string path = scratchFolder() + "/" + name;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    require(fd >= 0, "cannot create a scratch file");
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        require(n > 0, "cannot write a scratch file");
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    return path;
}

void require(bool condition, const char* what)
{
    if (condition)
        return;
    std::fprintf(stderr, "sentorix fuzz: property failed: %s\n", what);
    std::abort();
}

} // namespace sentorix::fuzz
