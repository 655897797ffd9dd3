// Base64 codec (RFC 4648 standard alphabet, '=' padding, no line breaks) over two owned
// buffers that are reused while large enough. Used for base64 parts and for the AUTH LOGIN
// prompts and answers.
//
// Both buffers are zero-filled whenever they are prepared and always hold at least one byte
// more than their content, so plainData() and encodedData() can be read as NUL-terminated
// text. A codec is a short-lived local object; each call replaces the previous result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace sentorix
{

// The 64 characters of the standard alphabet, in value order.
inline constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
static_assert(sizeof(kBase64Alphabet) == 65);

// Passed between the encode and decode loops and the group operations: four bytes and how
// many of them are real (1 to 3 input bytes when encoding, 1 to 4 characters when decoding).
struct Base64Group {
    unsigned char bytes[4];
    unsigned char count;
};
static_assert(sizeof(Base64Group) == 5);

class CBase64
{
public:
    CBase64() = default;
    CBase64(const CBase64&) = delete;
    CBase64& operator=(const CBase64&) = delete;
    virtual ~CBase64();

    // No effect for nullptr; otherwise encode() of the text's bytes.
    virtual void encodeText(const char* text);
    // Result in the encoded buffer. Inputs too large for the 32-bit buffer sizes give an
    // empty result.
    virtual void encode(const unsigned char* data, std::size_t length);
    // No effect for nullptr; otherwise decode() of the text's bytes.
    virtual void decodeText(const char* text);
    // White space (bytes 7 to 13 and 32) is skipped; nothing else is validated. Result in the
    // plain buffer.
    virtual void decode(const unsigned char* data, std::size_t length);

    // Never nullptr: an empty text before the first use.
    virtual const unsigned char* plainData() const;
    virtual const char* encodedData() const;

    virtual void prepareEncoded(uint32_t size);
    virtual void preparePlain(uint32_t size);
    virtual void loadEncoded(const unsigned char* data, uint32_t length);
    virtual void loadPlain(const unsigned char* data, uint32_t length);

    // Writes the four characters of `group` at `position` of the encoded buffer.
    virtual void encodeGroup(const Base64Group& group, uint32_t position);
    // Writes the three bytes of the four 6-bit values in `group` at `position` of the plain
    // buffer; returns how many of them differ from 0xFF.
    virtual int decodeGroup(const Base64Group& group, uint32_t position);
    virtual void splitGroup(const unsigned char in[3], unsigned char out[4]) const;
    virtual void joinGroup(const unsigned char in[4], unsigned char out[3]) const;
    virtual bool isSkippedChar(unsigned char c) const;

    uint32_t plainLength() const { return m_plainLength; }
    uint32_t encodedLength() const { return m_encodedLength; }
    uint32_t plainCapacity() const { return m_plainCapacity; }
    uint32_t encodedCapacity() const { return m_encodedCapacity; }
    std::string_view plainView() const;
    std::string_view encodedView() const;

protected:
    std::unique_ptr<unsigned char[]> m_plain;
    std::unique_ptr<unsigned char[]> m_encoded;
    uint32_t m_plainCapacity = 0;
    uint32_t m_encodedCapacity = 0;
    uint32_t m_plainLength = 0;
    uint32_t m_encodedLength = 0;
};

} // namespace sentorix
