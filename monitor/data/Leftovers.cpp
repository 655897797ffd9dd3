#include "monitor/data/Leftovers.h"

#include "common/MailHandoff.h"
#include "monitor/data/ContentDigests.h"
#include "monitor/data/DocumentTable.h"
#include "monitor/data/Options.h"
#include "monitor/data/RecordJournal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string_view>

namespace sentorix
{
namespace
{

// The six characters mkstemp puts in place of XXXXXX.
constexpr std::size_t kRandomChars = 6;

bool isRandomChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool endsWith(std::string_view text, std::string_view end)
{
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

// The targets whose replacement goes through a hidden sibling: a record's files (with a name
// in front of the extension) and the fixed files of the DataFolder.
bool isReplacedTarget(std::string_view base)
{
    for (const char* extension : {kDataExtension, kContentExtension, kMiddleExtension,
                                  kPreviousExtension, kPreviousMiddleExtension})
        if (base.size() > std::strlen(extension) && endsWith(base, extension))
            return true;
    for (const char* fixed :
         {kOptionsFile, kMailSettingsFile, kTestMailSettingsFile, kContentDigestsFile})
        if (base == fixed)
            return true;
    return false;
}

// "." + target + "." + six random characters.
bool isSiblingTemp(std::string_view name)
{
    if (name.size() < 1 + 1 + 1 + kRandomChars || name.front() != '.')
        return false;
    const std::size_t dot = name.size() - kRandomChars - 1;
    if (name[dot] != '.')
        return false;
    for (char c : name.substr(dot + 1))
        if (!isRandomChar(c))
            return false;
    return isReplacedTarget(name.substr(1, dot - 1));
}

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// "KTP" + 1 to 4 hex digits + ".tmp".
bool isCheckTemp(std::string_view name)
{
    if (name.size() < 3 + 1 + 4 || name.substr(0, 3) != "KTP" || !endsWith(name, ".tmp"))
        return false;
    const std::string_view digits = name.substr(3, name.size() - 3 - 4);
    if (digits.empty() || digits.size() > 4)
        return false;
    for (char c : digits)
        if (!isHexDigit(c))
            return false;
    return true;
}

// ".name-test-" + six random characters.
bool isNameTestFolder(std::string_view name)
{
    constexpr std::string_view prefix = ".name-test-";
    if (name.size() != prefix.size() + kRandomChars || name.substr(0, prefix.size()) != prefix)
        return false;
    for (char c : name.substr(prefix.size()))
        if (!isRandomChar(c))
            return false;
    return true;
}

// The scratch folder holds nothing but, at most, the probe file "<name>.content" the test
// created; anything else keeps the folder (rmdir refuses a folder that is not empty).
bool removeNameTestFolder(int dirFd, const char* name)
{
    const int fd = ::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    DIR* inner = ::fdopendir(fd);
    if (!inner) {
        ::close(fd);
        return false;
    }
    int files = 0;
    while (dirent* entry = ::readdir(inner)) {
        const std::string_view probe(entry->d_name);
        if (probe == "." || probe == "..")
            continue;
        struct stat st {
        };
        if (++files > 1 || !endsWith(probe, kContentExtension) ||
            ::fstatat(::dirfd(inner), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(st.st_mode))
            break;
        ::unlinkat(::dirfd(inner), entry->d_name, 0);
    }
    ::closedir(inner);
    return ::unlinkat(dirFd, name, AT_REMOVEDIR) == 0;
}

} // namespace

int removeInterruptedWrites(const std::string& dataFolder)
{
    // The records an interrupted save at exit was changing in place are finished first.
    int removed = finishRecordJournal(dataFolder);
    DIR* dir = ::opendir(dataFolder.c_str());
    if (!dir)
        return removed;
    const int dirFd = ::dirfd(dir);
    while (dirent* entry = ::readdir(dir)) {
        const std::string_view name(entry->d_name);
        // Only a name of one of the forms above is looked at further: the folder holds a few
        // files per document, and most are the documents' own.
        const bool folderForm = isNameTestFolder(name);
        if (!folderForm && !isSiblingTemp(name) && !isCheckTemp(name))
            continue;
        struct stat st {
        };
        if (::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISDIR(st.st_mode)) {
            if (folderForm && removeNameTestFolder(dirFd, entry->d_name))
                ++removed;
            continue;
        }
        if (!S_ISREG(st.st_mode) || folderForm)
            continue;
        if (::unlinkat(dirFd, entry->d_name, 0) == 0)
            ++removed;
    }
    ::closedir(dir);
    return removed;
}

} // namespace sentorix
