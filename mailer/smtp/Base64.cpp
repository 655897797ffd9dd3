#include "mailer/smtp/Base64.h"

#include <array>
#include <cstring>
#include <new>

namespace sentorix
{

namespace
{

constexpr unsigned char kPadValue = 0xFF;

// Largest input whose encoded size (twice the input, rounded up to the next 4096 step) still
// fits the 32-bit buffer sizes.
constexpr std::size_t kMaxEncodeLength = 0x7FFF0000u;
// Largest input whose buffers fit the 32-bit sizes when decoding.
constexpr std::size_t kMaxDecodeLength = 0xFFFF0000u;

// Every byte maps to 0xFE except the alphabet (also with its high bit set) and the padding
// '=' (also 0xBD), which maps to 0xFF. Built on first use, shared by all codecs.
const std::array<unsigned char, 256>& decodeTable()
{
    static const std::array<unsigned char, 256> table = [] {
        std::array<unsigned char, 256> t{};
        t.fill(0xFE);
        for (unsigned i = 0; i < 64; ++i) {
            const auto c = static_cast<unsigned char>(kBase64Alphabet[i]);
            t[c] = static_cast<unsigned char>(i);
            t[static_cast<unsigned char>(c + 128)] = static_cast<unsigned char>(i);
        }
        t[0x3D] = kPadValue;
        t[0xBD] = kPadValue;
        return t;
    }();
    return table;
}

const unsigned char kEmptyText[1] = {0};

// Makes `buffer` hold more than `size` bytes, in steps of 4096, reusing it while large
// enough, and zero-fills it. Capacity 0 when the memory cannot be had.
void prepareBuffer(std::unique_ptr<unsigned char[]>& buffer, uint32_t& capacity, uint32_t& length,
                   uint32_t size)
{
    if (capacity < size || !buffer) {
        buffer.reset();
        capacity = 0;
        const uint64_t wanted = (static_cast<uint64_t>(size) / 4096 + 1) * 4096;
        if (wanted <= UINT32_MAX) {
            buffer.reset(new (std::nothrow) unsigned char[wanted]);
            if (buffer)
                capacity = static_cast<uint32_t>(wanted);
        }
    }
    if (buffer)
        std::memset(buffer.get(), 0, capacity);
    length = 0;
}

} // namespace

CBase64::~CBase64() = default;

void CBase64::encodeText(const char* text)
{
    if (text == nullptr)
        return;
    encode(reinterpret_cast<const unsigned char*>(text), std::strlen(text));
}

void CBase64::encode(const unsigned char* data, std::size_t length)
{
    if (length > kMaxEncodeLength || (data == nullptr && length != 0)) {
        loadPlain(nullptr, 0);
        prepareEncoded(0);
        return;
    }
    const auto size = static_cast<uint32_t>(length);
    loadPlain(data, size);
    prepareEncoded(size * 2);
    // Four characters per started group of three, plus the terminator.
    const uint64_t needed = (static_cast<uint64_t>(size) + 2) / 3 * 4 + 1;
    if (m_plainCapacity <= size || m_encodedCapacity < needed) {
        m_plainLength = 0;
        return;
    }

    Base64Group group{};
    uint32_t i = 0;
    for (; size - i >= 3; i += 3) {
        std::memcpy(group.bytes, m_plain.get() + i, 3);
        group.bytes[3] = 0;
        group.count = 3;
        encodeGroup(group, m_encodedLength);
        m_encodedLength += 4;
    }
    if (i < size) {
        group = Base64Group{};
        group.count = static_cast<unsigned char>(size - i);
        std::memcpy(group.bytes, m_plain.get() + i, group.count);
        encodeGroup(group, m_encodedLength);
        m_encodedLength += 4;
    }
}

void CBase64::decodeText(const char* text)
{
    if (text == nullptr)
        return;
    decode(reinterpret_cast<const unsigned char*>(text), std::strlen(text));
}

void CBase64::decode(const unsigned char* data, std::size_t length)
{
    const auto& table = decodeTable();
    if (length > kMaxDecodeLength || (data == nullptr && length != 0)) {
        loadEncoded(nullptr, 0);
        preparePlain(0);
        return;
    }
    const auto size = static_cast<uint32_t>(length);
    loadEncoded(data, size);
    preparePlain(size);
    // Three bytes per started group of four characters, plus the terminator.
    const uint64_t needed = (static_cast<uint64_t>(m_encodedLength) + 3) / 4 * 3 + 1;
    if (m_plainCapacity < needed)
        return;

    const unsigned char* in = m_encoded.get();
    const uint32_t count = m_encodedLength;
    Base64Group group{};
    uint32_t i = 0;
    for (; count - i >= 4; i += 4) {
        for (int k = 0; k < 4; ++k)
            group.bytes[k] = table[in[i + k]];
        if (group.bytes[2] == kPadValue)
            group.bytes[2] = 0;
        if (group.bytes[3] == kPadValue)
            group.bytes[3] = 0;
        group.count = 4;
        decodeGroup(group, m_plainLength);
        m_plainLength += 3;
    }
    if (i < count) {
        group = Base64Group{};
        group.count = static_cast<unsigned char>(count - i);
        for (unsigned k = 0; k < group.count; ++k) {
            const unsigned char v = table[in[i + k]];
            group.bytes[k] = v == kPadValue ? 0 : v;
        }
        decodeGroup(group, m_plainLength);
        m_plainLength += group.count;
    }
}

const unsigned char* CBase64::plainData() const
{
    return m_plain ? m_plain.get() : kEmptyText;
}

const char* CBase64::encodedData() const
{
    return reinterpret_cast<const char*>(m_encoded ? m_encoded.get() : kEmptyText);
}

std::string_view CBase64::plainView() const
{
    if (!m_plain)
        return {};
    return {reinterpret_cast<const char*>(m_plain.get()), m_plainLength};
}

std::string_view CBase64::encodedView() const
{
    if (!m_encoded)
        return {};
    return {reinterpret_cast<const char*>(m_encoded.get()), m_encodedLength};
}

void CBase64::prepareEncoded(uint32_t size)
{
    prepareBuffer(m_encoded, m_encodedCapacity, m_encodedLength, size);
}

void CBase64::preparePlain(uint32_t size)
{
    prepareBuffer(m_plain, m_plainCapacity, m_plainLength, size);
}

void CBase64::loadEncoded(const unsigned char* data, uint32_t length)
{
    prepareEncoded(length);
    if (!m_encoded || data == nullptr || m_encodedCapacity <= length)
        return;
    unsigned char* out = m_encoded.get();
    uint32_t n = 0;
    for (uint32_t i = 0; i < length; ++i) {
        if (!isSkippedChar(data[i]))
            out[n++] = data[i];
    }
    m_encodedLength = n;
}

void CBase64::loadPlain(const unsigned char* data, uint32_t length)
{
    preparePlain(length);
    if (!m_plain || data == nullptr || m_plainCapacity <= length)
        return;
    if (length != 0)
        std::memcpy(m_plain.get(), data, length);
    m_plainLength = length;
}

void CBase64::encodeGroup(const Base64Group& group, uint32_t position)
{
    if (!m_encoded || static_cast<uint64_t>(position) + 4 > m_encodedCapacity)
        return;
    unsigned char values[4];
    splitGroup(group.bytes, values);
    unsigned char* out = m_encoded.get() + position;
    for (int k = 0; k < 4; ++k)
        out[k] = static_cast<unsigned char>(kBase64Alphabet[values[k]]);
    if (group.count == 1) {
        out[2] = '=';
        out[3] = '=';
    } else if (group.count == 2) {
        out[3] = '=';
    }
}

int CBase64::decodeGroup(const Base64Group& group, uint32_t position)
{
    if (!m_plain || static_cast<uint64_t>(position) + 3 > m_plainCapacity)
        return 0;
    unsigned char bytes[3];
    joinGroup(group.bytes, bytes);
    std::memcpy(m_plain.get() + position, bytes, 3);
    int real = 0;
    for (unsigned char b : bytes) {
        if (b != 0xFF)
            ++real;
    }
    return real;
}

void CBase64::splitGroup(const unsigned char in[3], unsigned char out[4]) const
{
    out[0] = static_cast<unsigned char>(in[0] >> 2);
    out[1] = static_cast<unsigned char>(((in[0] << 4) | (in[1] >> 4)) & 0x3F);
    out[2] = static_cast<unsigned char>(((in[1] << 2) | (in[2] >> 6)) & 0x3F);
    out[3] = static_cast<unsigned char>(in[2] & 0x3F);
}

void CBase64::joinGroup(const unsigned char in[4], unsigned char out[3]) const
{
    out[0] = static_cast<unsigned char>((in[0] << 2) | ((in[1] >> 4) & 0x03));
    out[1] = static_cast<unsigned char>((in[1] << 4) | ((in[2] >> 2) & 0x0F));
    out[2] = static_cast<unsigned char>((in[2] << 6) | (in[3] & 0x3F));
}

bool CBase64::isSkippedChar(unsigned char c) const
{
    return (c >= 7 && c <= 13) || c == 32;
}

} // namespace sentorix
