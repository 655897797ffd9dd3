#include "TextFile.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace sentorix
{

namespace
{

constexpr std::size_t kBufferSize = 64 * 1024;
constexpr std::size_t kCopyBlock = 1024 * 1024;

// Opens with the given flags, retrying when a signal interrupts the call.
int openRetrying(const std::string& path, int flags, mode_t mode = 0)
{
    for (;;) {
        int fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EINTR)
            return fd;
    }
}

// Opens a regular file for reading; -1 for anything else. The open itself must not wait: a
// FIFO without a writer would block it forever, so it is made with O_NONBLOCK. A FIFO, a
// device (which may never end, or wait in its reads), a socket or a folder is then refused,
// and O_NONBLOCK is cleared so the reads of a regular file behave as usual.
int openRegularFile(const std::string& path)
{
    int fd = openRetrying(path, O_RDONLY | O_NONBLOCK);
    if (fd < 0)
        return -1;
    struct stat st {
    };
    int flags = -1;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || (flags = ::fcntl(fd, F_GETFL)) < 0 ||
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Reads up to `size` bytes once; -1 on an error (EINTR retried).
ssize_t readOnce(int fd, void* buffer, std::size_t size)
{
    for (;;) {
        ssize_t n = ::read(fd, buffer, size);
        if (n >= 0 || errno != EINTR)
            return n;
    }
}

// Writes all `size` bytes, going on after short writes; false on any error.
bool writeAll(int fd, const unsigned char* data, std::size_t size)
{
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Appends `size` bytes to `buffer` (LF as CR LF in text mode), writing the buffer to `fd`
// whenever it fills up. Large binary writes skip the buffer.
bool bufferedWrite(int fd, std::vector<unsigned char>& buffer, FileMode mode, const void* data,
                   std::size_t size)
{
    const auto* in = static_cast<const unsigned char*>(data);
    if (buffer.capacity() < kBufferSize)
        buffer.reserve(kBufferSize);

    if (mode == FileMode::Binary) {
        if (buffer.size() + size <= kBufferSize) {
            buffer.insert(buffer.end(), in, in + size);
            return true;
        }
        if (!writeAll(fd, buffer.data(), buffer.size()))
            return false;
        buffer.clear();
        if (size >= kBufferSize)
            return writeAll(fd, in, size);
        buffer.insert(buffer.end(), in, in + size);
        return true;
    }

    while (size > 0) {
        // Room for at least one CR LF pair.
        if (kBufferSize - buffer.size() < 2) {
            if (!writeAll(fd, buffer.data(), buffer.size()))
                return false;
            buffer.clear();
        }
        std::size_t room = kBufferSize - buffer.size();
        const void* lf = std::memchr(in, '\n', size);
        std::size_t run =
            lf ? static_cast<std::size_t>(static_cast<const unsigned char*>(lf) - in) : size;
        if (run > 0) {
            std::size_t take = std::min(run, room);
            buffer.insert(buffer.end(), in, in + take);
            in += take;
            size -= take;
            continue;
        }
        // `in` points at an LF and there is room for the pair.
        buffer.push_back('\r');
        buffer.push_back('\n');
        ++in;
        --size;
    }
    return true;
}

std::string folderOf(const std::string& path)
{
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string baseOf(const std::string& path)
{
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A temporary file beside `target`, created exclusively, with the target's permission bits
// (0644 for a new target). The name is hidden and does not end in any extension the
// programs look for, so a file left by a crash is never taken for one of theirs.
int createSibling(const std::string& target, std::string& tempPath)
{
    // Keep the name within NAME_MAX, so any target name that is valid has a sibling.
    std::string base = baseOf(target).substr(0, NAME_MAX - std::strlen("..XXXXXX"));
    std::string templ = folderOf(target) + "/." + base + ".XXXXXX";
    std::vector<char> name(templ.begin(), templ.end());
    name.push_back('\0');
    int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0)
        return -1;
    tempPath = name.data();

    mode_t mode = 0644;
    struct stat st {
    };
    if (::stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        mode = st.st_mode & 07777;
    if (::fchmod(fd, mode) != 0) {
        ::close(fd);
        ::unlink(tempPath.c_str());
        return -1;
    }
    return fd;
}

// Makes the temporary file's content durable, closes it and renames it over the target;
// on any failure the temporary file is removed and the target is untouched.
bool finishSibling(int fd, const std::string& tempPath, const std::string& target, bool ok)
{
    if (ok && ::fsync(fd) != 0)
        ok = false;
    if (::close(fd) != 0)
        ok = false;
    if (ok && ::rename(tempPath.c_str(), target.c_str()) != 0)
        ok = false;
    if (!ok)
        ::unlink(tempPath.c_str());
    return ok;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// InputFile

InputFile::~InputFile()
{
    close();
}

bool InputFile::open(const std::string& path, FileMode mode)
{
    close();
    int fd = openRegularFile(path);
    if (fd < 0)
        return false;
    m_fd = fd;
    m_mode = mode;
    m_pos = m_end = 0;
    m_eof = m_failed = m_heldCr = false;
    return true;
}

bool InputFile::rewind()
{
    if (m_fd < 0 || ::lseek(m_fd, 0, SEEK_SET) != 0)
        return false;
    m_pos = m_end = 0;
    m_eof = m_failed = m_heldCr = false;
    return true;
}

void InputFile::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_pos = m_end = 0;
    m_eof = m_heldCr = false;
}

// Refills the buffer from the file; false at the end of the file or on an error. In text
// mode CR LF pairs become LF; a CR that ends a raw block is held back until the next byte
// is known, and a CR that ends the file is delivered as it is.
bool InputFile::fill()
{
    m_pos = m_end = 0;
    if (m_fd < 0 || m_failed)
        return false;
    // Made at the first read: a file opened only to be looked at costs no buffer.
    if (m_buffer.size() < kBufferSize)
        m_buffer.resize(kBufferSize);
    for (;;) {
        if (m_eof)
            return false;
        std::size_t start = 0;
        if (m_heldCr) {
            m_buffer[0] = '\r';
            start = 1;
            m_heldCr = false;
        }
        ssize_t n = readOnce(m_fd, m_buffer.data() + start, m_buffer.size() - start);
        if (n <= 0) {
            if (n < 0)
                m_failed = true;
            else
                m_eof = true;
            m_end = start; // a held CR is the last byte there is
            return m_end > 0;
        }
        std::size_t raw = start + static_cast<std::size_t>(n);
        if (m_mode == FileMode::Binary) {
            m_end = raw;
            return true;
        }

        unsigned char* data = m_buffer.data();
        std::size_t out = 0;
        std::size_t i = 0;
        while (i < raw) {
            void* cr = std::memchr(data + i, '\r', raw - i);
            std::size_t at =
                cr ? static_cast<std::size_t>(static_cast<unsigned char*>(cr) - data) : raw;
            if (at > i) {
                if (out != i)
                    std::memmove(data + out, data + i, at - i);
                out += at - i;
            }
            if (at == raw)
                break;
            if (at + 1 == raw) {
                m_heldCr = true;
                break;
            }
            if (data[at + 1] == '\n') {
                data[out++] = '\n';
                i = at + 2;
            } else {
                data[out++] = '\r';
                i = at + 1;
            }
        }
        m_end = out;
        if (m_end > 0)
            return true;
        // The block was a lone held CR: read on to learn what follows it.
    }
}

long InputFile::read(void* buffer, std::size_t size)
{
    if (m_fd < 0)
        return -1;
    size = std::min<std::size_t>(size, LONG_MAX);
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < size) {
        if (m_pos == m_end) {
            // Large binary reads go straight into the caller's buffer.
            if (m_mode == FileMode::Binary && size - done >= kBufferSize && !m_eof && !m_failed) {
                ssize_t n = readOnce(m_fd, out + done, size - done);
                if (n < 0) {
                    m_failed = true;
                    break;
                }
                if (n == 0) {
                    m_eof = true;
                    break;
                }
                done += static_cast<std::size_t>(n);
                continue;
            }
            if (!fill())
                break;
        }
        std::size_t n = std::min(m_end - m_pos, size - done);
        std::memcpy(out + done, m_buffer.data() + m_pos, n);
        m_pos += n;
        done += n;
    }
    if (done == 0 && m_failed)
        return -1;
    return static_cast<long>(done);
}

int InputFile::getByte()
{
    if (m_pos == m_end && !fill())
        return -1;
    return m_buffer[m_pos++];
}

std::size_t InputFile::readLine(std::string& line, std::size_t maxBytes)
{
    std::size_t appended = 0;
    while (appended < maxBytes) {
        if (m_pos == m_end && !fill())
            break;
        std::size_t avail = std::min(m_end - m_pos, maxBytes - appended);
        const unsigned char* from = m_buffer.data() + m_pos;
        const void* lf = std::memchr(from, '\n', avail);
        std::size_t take =
            lf ? static_cast<std::size_t>(static_cast<const unsigned char*>(lf) - from) + 1 : avail;
        line.append(reinterpret_cast<const char*>(from), take);
        m_pos += take;
        appended += take;
        if (lf)
            break;
    }
    return appended;
}

// ---------------------------------------------------------------------------------------------
// OutputFile

OutputFile::~OutputFile()
{
    close();
}

bool OutputFile::open(const std::string& path, FileMode mode, OpenForWrite how)
{
    close();
    int flags = O_WRONLY;
    switch (how) {
    case OpenForWrite::Truncate:
        flags |= O_CREAT | O_TRUNC;
        break;
    case OpenForWrite::Append:
        flags |= O_CREAT | O_APPEND;
        break;
    case OpenForWrite::Existing:
        flags |= O_TRUNC;
        break;
    }
    int fd = openRetrying(path, flags, 0666);
    if (fd < 0)
        return false;
    m_fd = fd;
    m_mode = mode;
    m_failed = false;
    m_buffer.clear();
    return true;
}

bool OutputFile::write(const void* data, std::size_t size)
{
    if (m_fd < 0 || m_failed)
        return false;
    if (!bufferedWrite(m_fd, m_buffer, m_mode, data, size))
        m_failed = true;
    return !m_failed;
}

bool OutputFile::flush()
{
    if (m_fd < 0)
        return false;
    if (!m_failed && !m_buffer.empty() && !writeAll(m_fd, m_buffer.data(), m_buffer.size()))
        m_failed = true;
    m_buffer.clear();
    return !m_failed;
}

bool OutputFile::close()
{
    if (m_fd < 0)
        return false;
    bool ok = flush();
    if (::close(m_fd) != 0)
        ok = false;
    m_fd = -1;
    m_failed = false;
    m_buffer.clear();
    return ok;
}

// ---------------------------------------------------------------------------------------------
// Whole files

bool writeFileReplacing(const std::string& path, const void* data, std::size_t size, FileMode mode)
{
    std::string tempPath;
    int fd = createSibling(path, tempPath);
    if (fd < 0)
        return false;
    std::vector<unsigned char> buffer;
    bool ok =
        bufferedWrite(fd, buffer, mode, data, size) && writeAll(fd, buffer.data(), buffer.size());
    return finishSibling(fd, tempPath, path, ok);
}

long readFilePrefix(const std::string& path, void* buffer, std::size_t size)
{
    int fd = openRegularFile(path);
    if (fd < 0)
        return -1;
    size = std::min<std::size_t>(size, LONG_MAX);
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < size) {
        ssize_t n = readOnce(fd, out + done, size - done);
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    return static_cast<long>(done);
}

bool flushToDisk(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

bool copyFileReplacing(const std::string& from, const std::string& to,
                       const std::atomic<bool>* stop)
{
    int in = openRegularFile(from);
    if (in < 0)
        return false;
    std::string tempPath;
    int out = createSibling(to, tempPath);
    if (out < 0) {
        ::close(in);
        return false;
    }
    std::vector<unsigned char> block(kCopyBlock);
    bool ok = true;
    for (;;) {
        if (stop && stop->load()) {
            ok = false;
            break;
        }
        ssize_t n = readOnce(in, block.data(), block.size());
        if (n < 0) {
            ok = false;
            break;
        }
        if (n == 0)
            break;
        if (!writeAll(out, block.data(), static_cast<std::size_t>(n))) {
            ok = false;
            break;
        }
    }
    ::close(in);
    return finishSibling(out, tempPath, to, ok);
}

bool keepFileAs(const std::string& from, const std::string& to)
{
    struct stat source {
    };
    if (::stat(from.c_str(), &source) != 0 || !S_ISREG(source.st_mode))
        return false;
    // A hidden sibling name is reserved and given up again just before the link takes it, so
    // an interrupted keep leaves only a sibling that the start-up clean-up knows.
    for (int attempt = 0; attempt < 8; ++attempt) {
        std::string tempPath;
        const int fd = createSibling(to, tempPath);
        if (fd < 0)
            return false;
        ::close(fd);
        ::unlink(tempPath.c_str());
        if (::link(from.c_str(), tempPath.c_str()) == 0) {
            if (::rename(tempPath.c_str(), to.c_str()) == 0)
                return true;
            ::unlink(tempPath.c_str());
            return false;
        }
        if (errno == EEXIST)
            continue;
        if (errno != EPERM && errno != EOPNOTSUPP && errno != EXDEV && errno != EMLINK)
            return false;
        // No hard links here: a copy, carrying the source's times.
        if (!copyFileReplacing(from, to))
            return false;
        const struct timespec times[2] = {source.st_atim, source.st_mtim};
        ::utimensat(AT_FDCWD, to.c_str(), times, 0);
        return true;
    }
    return false;
}

void removeFile(const std::string& path)
{
    ::unlink(path.c_str());
}

bool fileExists(const std::string& path)
{
    struct stat st {
    };
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

} // namespace sentorix
