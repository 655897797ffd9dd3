// Reads a little-endian binary layout out of bytes that came from a file: every step says
// whether the bytes held what it asked for, and nothing is read past their end. The cache and
// journal formats of the DataFolder are parsed with it, so a cut, damaged or hostile file is
// found out at the first field that does not fit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace sentorix
{

class ByteReader
{
public:
    ByteReader(const void* data, std::size_t size)
        : m_data(static_cast<const unsigned char*>(data)), m_size(size)
    {
    }
    explicit ByteReader(std::string_view bytes) : ByteReader(bytes.data(), bytes.size()) {}

    // The next `count` bytes; false, and nothing taken, when fewer are left.
    bool take(std::size_t count, const unsigned char*& at)
    {
        if (count > m_size - m_pos)
            return false;
        at = m_data + m_pos;
        m_pos += count;
        return true;
    }
    bool take(std::size_t count, std::string_view& out)
    {
        const unsigned char* at = nullptr;
        if (!take(count, at))
            return false;
        out = std::string_view(reinterpret_cast<const char*>(at), count);
        return true;
    }

    // The next `bytes` bytes (1 to 8) as an unsigned little-endian number.
    bool le(int bytes, uint64_t& value)
    {
        const unsigned char* at = nullptr;
        if (bytes < 1 || bytes > 8 || !take(static_cast<std::size_t>(bytes), at))
            return false;
        value = 0;
        for (int i = bytes - 1; i >= 0; --i)
            value = (value << 8) | at[i];
        return true;
    }

    bool atEnd() const { return m_pos == m_size; }

private:
    const unsigned char* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

} // namespace sentorix
