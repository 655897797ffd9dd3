// Files opened in binary or in text mode.
//
// Text mode keeps the stored byte form the system's files have always had: writing turns
// every LF into CR LF (so a CR LF received from a server is stored as CR CR LF), and reading
// turns every CR LF pair back into LF while a CR not followed by LF is kept. A text written
// and read back in text mode yields the bytes that were written.
//
// Both classes buffer in large blocks, so byte-at-a-time callers cost no system call per
// byte. Nothing is thrown; failures are reported by the results.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sentorix
{

enum class FileMode { Binary, Text };

class InputFile
{
public:
    InputFile() = default;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    ~InputFile();

    // Opens a regular file; anything else (a folder, a FIFO, a device, a socket) is refused
    // without waiting on it.
    bool open(const std::string& path, FileMode mode);
    bool isOpen() const { return m_fd >= 0; }
    // The open file's descriptor (-1 when closed), for fstat; reading through it would leave
    // this object's buffer behind.
    int descriptor() const { return m_fd; }
    void close();
    // Goes back to the start of the file, as if it had just been opened.
    bool rewind();

    // Reads up to `size` bytes (after the text-mode conversion); returns how many were
    // read, 0 at the end of the file, -1 on a read error.
    long read(void* buffer, std::size_t size);

    // Reads one byte; returns it as 0..255, or -1 at the end of the file or on an error.
    int getByte();

    // Reads up to and including the next LF, at most `maxBytes` bytes, appending them to
    // `line`; returns the number appended (0 at the end of the file or on an error).
    std::size_t readLine(std::string& line, std::size_t maxBytes);

    bool failed() const { return m_failed; }

private:
    bool fill();

    int m_fd = -1;
    FileMode m_mode = FileMode::Binary;
    std::vector<unsigned char> m_buffer;
    std::size_t m_pos = 0;
    std::size_t m_end = 0;
    bool m_eof = false;
    bool m_failed = false;
    bool m_heldCr = false; // text mode: a CR ended the last raw block; its LF may follow
};

enum class OpenForWrite {
    Truncate, // create or truncate
    Append,   // create if absent, append at the end
    Existing, // open a file that must already exist (such as a new TempFile), truncating it
};

class OutputFile
{
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();

    bool open(const std::string& path, FileMode mode, OpenForWrite how = OpenForWrite::Truncate);
    bool isOpen() const { return m_fd >= 0; }

    // Writes `size` bytes (LF written as CR LF in text mode); false once any write failed.
    bool write(const void* data, std::size_t size);
    bool write(const std::string& text) { return write(text.data(), text.size()); }

    // Flushes and closes; false when any write, the flush or the close failed.
    bool close();

private:
    bool flush();

    int m_fd = -1;
    FileMode m_mode = FileMode::Binary;
    std::vector<unsigned char> m_buffer;
    bool m_failed = false;
};

// Writes `size` bytes as the whole new content of `path`: the bytes go to a temporary file in
// the same folder, which is then renamed over the target, so a crash or a full disk never
// leaves a short file where a complete one was. Returns false (and leaves the target as it
// was) on any failure. In text mode every LF is written as CR LF.
bool writeFileReplacing(const std::string& path, const void* data, std::size_t size,
                        FileMode mode = FileMode::Binary);

// Reads at most `size` bytes from the start of `path` into `buffer`; returns the number read,
// or -1 when the file cannot be opened or is not a regular file.
long readFilePrefix(const std::string& path, void* buffer, std::size_t size);

// Copies the regular file `from` to `to`, overwriting `to` (through a temporary name and a
// rename, so `to` is either the old or the complete new file). Returns false on any failure,
// and for a `from` that is not a regular file. When *stop turns true the copy ends between two
// blocks, as a failure that leaves `to` as it was.
bool copyFileReplacing(const std::string& from, const std::string& to,
                       const std::atomic<bool>* stop = nullptr);

// Makes `to` a second name of the file `from` (a hard link put in place by a rename, so `to`
// is either its old file or `from`'s whole content, and its modification time stays that of
// `from`). Where the file system has no hard links the content is copied instead, keeping the
// modification time. `from` itself is left as it is. False on any failure (`to` untouched).
bool keepFileAs(const std::string& from, const std::string& to);

// Flushes a file's content, or a folder's entries (names created, renamed or removed in it),
// to the disk; false when `path` cannot be opened or the flush fails.
bool flushToDisk(const std::string& path);

// Removes a file; a missing file is not an error for the callers, so nothing is reported.
void removeFile(const std::string& path);

bool fileExists(const std::string& path);

} // namespace sentorix
