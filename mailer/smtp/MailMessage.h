// The message model and its MIME text (RFC 5322, RFC 2045/2046): a sender, recipients, a
// subject, body parts, attached files and header pairs, turned by composeMessage into the
// complete text sent after the SMTP DATA command.
//
// All texts are single-byte text written into the message unchanged: no header is encoded
// and no part changes its character set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sentorix
{

struct MailAddress {
    std::string name;    // display name, may be empty
    std::string address; // e-mail address, may be empty
};

struct BodyPart {
    std::string contentType; // "text/plain"; no default
    std::string charset;     // "charset" parameter of a text/ part, written even when empty
    std::string contentId;   // empty = no "Content-ID" line
    int32_t encoding = 0;    // TransferEncoding; 0 = choose from the content
    std::string text;        // the content (for an Attachment: the path of the file)
};

struct Attachment : BodyPart {
    std::string fileName;          // shown name; empty = last component of the path
    int32_t inlineDisposition = 0; // 1 = "inline", 0 = "attachment"
};

// Ordered (name, value) pairs. Names match only when identical (case and length).
class HeaderList
{
public:
    int find(std::string_view name) const;
    void removeAt(int index);
    void append(std::string name, std::string value);
    // Appends only when no pair of that name exists.
    void addIfAbsent(std::string name, std::string value);
    // Removes the first pair of that name (if any), then appends the new pair at the end.
    void replace(std::string name, std::string value);
    // Removes the first pair of that name, if any.
    void remove(std::string_view name);

    std::size_t size() const { return m_pairs.size(); }
    bool empty() const { return m_pairs.empty(); }
    const std::pair<std::string, std::string>& at(std::size_t index) const
    {
        return m_pairs[index];
    }

private:
    std::vector<std::pair<std::string, std::string>> m_pairs;
};

// A local date and time. month 1-12, dayOfWeek 0 = Sunday to 6 = Saturday, day 1-31.
struct LocalTime {
    int32_t year = 1970;
    int32_t month = 1;
    int32_t dayOfWeek = 4;
    int32_t day = 1;
    int32_t hour = 0;
    int32_t minute = 0;
    int32_t second = 0;
    int32_t millisecond = 0;
};

// The current local time.
LocalTime currentLocalTime();

// The local time zone's offset from UTC now, as the number +-hhmm (east positive): one hour
// east is 100, 5 h 30 min east 530, 5 h west -500.
int32_t currentZoneOffset();

// Minutes east of UTC to the +-hhmm number (90 gives 130, -210 gives -330).
int32_t zoneOffsetFromMinutes(int32_t minutesEast);

// "Thu, 14 Jun 2012 09:05:03 +0100"; an offset of 0 is written -0000.
std::string formatMailDate(const LocalTime& time, int32_t zoneOffset);

class MailMessage
{
public:
    // Empty texts and lists, created = now, zoneOffset = the local offset now.
    MailMessage();

    MailAddress sender;
    MailAddress mainRecipient;
    std::string subject;
    std::vector<BodyPart> bodyParts;
    std::vector<MailAddress> toList;
    std::vector<MailAddress> bccList; // RCPT TO only, in no header
    std::vector<Attachment> attachments;
    HeaderList headers; // filled while composing; written last pair first
    LocalTime created;
    int32_t multipartKind = 0; // 0 = decide when composing, 1 mixed, 2 alternative, 3 related
    std::string messageId;     // empty = no "Message-ID"
    int32_t zoneOffset = 0;
};

// The "To" value: the main recipient, then every toList entry, folded with ",\r\n\t".
std::string recipientText(const MailMessage& message);

// Puts the default and computed header pairs into message.headers.
void addStandardHeaders(MailMessage& message);

// Replaces `out` with the complete message text, without the end-of-data sequence.
// Multipart boundaries carry the process's millisecond tick count.
void composeMessage(MailMessage& message, std::string& out);

// The same with a given tick count for the boundaries.
void composeMessage(MailMessage& message, std::string& out, uint32_t tickCount);

} // namespace sentorix
