#include "mailer/smtp/MailMessage.h"

#include "mailer/smtp/MimeTypes.h"
#include "mailer/smtp/TransferEncoding.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace sentorix
{

namespace
{

constexpr const char* kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

constexpr const char* kDefaultAttachmentType = "application/octet-stream";

bool startsWithTextType(std::string_view type)
{
    constexpr std::string_view prefix = "text/";
    if (type.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        const char c = type[i];
        const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        if (lower != prefix[i])
            return false;
    }
    return true;
}

// "\"name\" " when there is a name, then always "<address>".
void appendAddress(std::string& out, const MailAddress& address)
{
    if (!address.name.empty())
        out.append("\"").append(address.name).append("\" ");
    out.append("<").append(address.address).append(">");
}

// The whole content of a regular file, or nothing when it cannot be opened or read.
std::optional<std::string> readWholeFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return std::nullopt;
    struct stat info {
    };
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    std::string data;
    data.reserve(static_cast<std::size_t>(info.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            ::close(fd);
            return std::nullopt;
        }
        if (got == 0)
            break;
        data.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return data;
}

// The name shown for an attachment: its fileName, else the path after its last "/".
std::string shownName(const Attachment& attachment)
{
    if (!attachment.fileName.empty())
        return attachment.fileName;
    const std::size_t slash = attachment.text.rfind('/');
    return slash == std::string::npos ? attachment.text : attachment.text.substr(slash + 1);
}

std::string attachmentType(const Attachment& attachment, const std::string& name)
{
    if (!attachment.contentType.empty())
        return attachment.contentType;
    const std::size_t dot = name.find('.');
    if (dot != std::string::npos) {
        std::string type = systemMimeType(std::string_view(name).substr(dot));
        if (!type.empty())
            return type;
    }
    return kDefaultAttachmentType;
}

uint32_t millisecondTicks()
{
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

std::string boundaryText(int index, uint32_t tickCount)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "CSmtpMsgPart123X456_%03d_%8.8X", index, tickCount);
    return buffer;
}

} // namespace

// ---------------------------------------------------------------------------------------
// HeaderList

int HeaderList::find(std::string_view name) const
{
    for (std::size_t i = 0; i < m_pairs.size(); ++i) {
        if (m_pairs[i].first == name)
            return static_cast<int>(i);
    }
    return -1;
}

void HeaderList::removeAt(int index)
{
    if (index < 0 || static_cast<std::size_t>(index) >= m_pairs.size())
        return;
    m_pairs.erase(m_pairs.begin() + index);
}

void HeaderList::append(std::string name, std::string value)
{
    m_pairs.emplace_back(std::move(name), std::move(value));
}

void HeaderList::addIfAbsent(std::string name, std::string value)
{
    if (find(name) == -1)
        append(std::move(name), std::move(value));
}

void HeaderList::replace(std::string name, std::string value)
{
    remove(name);
    append(std::move(name), std::move(value));
}

void HeaderList::remove(std::string_view name)
{
    removeAt(find(name));
}

// ---------------------------------------------------------------------------------------
// Time

LocalTime currentLocalTime()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    std::tm parts{};
    localtime_r(&now.tv_sec, &parts);
    LocalTime t;
    t.year = parts.tm_year + 1900;
    t.month = parts.tm_mon + 1;
    t.dayOfWeek = parts.tm_wday;
    t.day = parts.tm_mday;
    t.hour = parts.tm_hour;
    t.minute = parts.tm_min;
    t.second = parts.tm_sec;
    t.millisecond = static_cast<int32_t>(now.tv_nsec / 1000000);
    return t;
}

int32_t zoneOffsetFromMinutes(int32_t minutesEast)
{
    // Division truncates towards zero, so -210 minutes gives -210 + (-3 * 40) = -330.
    return minutesEast + (minutesEast / 60) * 40;
}

int32_t currentZoneOffset()
{
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    if (localtime_r(&now, &parts) == nullptr)
        return 0;
    // tm_gmtoff: seconds east of UTC, daylight saving time included.
    return zoneOffsetFromMinutes(static_cast<int32_t>(parts.tm_gmtoff / 60));
}

std::string formatMailDate(const LocalTime& time, int32_t zoneOffset)
{
    const char* day =
        (time.dayOfWeek >= 0 && time.dayOfWeek <= 6) ? kDayNames[time.dayOfWeek] : "???";
    const char* month = (time.month >= 1 && time.month <= 12) ? kMonthNames[time.month - 1] : "???";
    const char sign = zoneOffset > 0 ? '+' : '-';
    const long magnitude = std::labs(static_cast<long>(zoneOffset));
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, "%s, %d %s %04d %02d:%02d:%02d %c%4.4ld", day, time.day,
                  month, time.year, time.hour, time.minute, time.second, sign, magnitude);
    return buffer;
}

// ---------------------------------------------------------------------------------------
// Message

MailMessage::MailMessage() : created(currentLocalTime()), zoneOffset(currentZoneOffset()) {}

std::string recipientText(const MailMessage& message)
{
    std::string text;
    if (!message.mainRecipient.name.empty())
        text.append("\"").append(message.mainRecipient.name).append("\" ");
    if (!message.mainRecipient.address.empty())
        text.append("<").append(message.mainRecipient.address).append(">");
    for (const MailAddress& entry : message.toList) {
        if (!text.empty())
            text.append(",\r\n\t");
        appendAddress(text, entry);
    }
    return text;
}

void addStandardHeaders(MailMessage& message)
{
    HeaderList& headers = message.headers;
    headers.addIfAbsent("X-Priority", "3 (Normal)");
    headers.addIfAbsent("X-MSMail-Priority", "Normal");
    headers.addIfAbsent("X-Mailer", "Postavo");
    headers.addIfAbsent("Importance", "Normal");
    headers.replace("Date", formatMailDate(message.created, message.zoneOffset));
    headers.replace("Subject", message.subject);
    headers.replace("To", recipientText(message));
    std::string from;
    appendAddress(from, message.sender);
    headers.replace("From", std::move(from));
}

void composeMessage(MailMessage& message, std::string& out)
{
    composeMessage(message, out, millisecondTicks());
}

void composeMessage(MailMessage& message, std::string& out, uint32_t tickCount)
{
    out.clear();
    const std::size_t parts = message.bodyParts.size() + message.attachments.size();
    HeaderList& headers = message.headers;

    headers.remove("Content-Type");
    std::string mainBoundary;
    if (parts > 1) {
        mainBoundary = boundaryText(0, tickCount);
        if (message.multipartKind == 0)
            message.multipartKind = message.attachments.empty() ? 2 : 1;
        std::string value = "multipart/";
        switch (message.multipartKind) {
        case 1:
            value += "mixed";
            break;
        case 2:
            value += "alternative";
            break;
        case 3:
            value += "related";
            break;
        default:
            break;
        }
        value.append(";\r\n\tboundary=\"").append(mainBoundary).append("\"");
        headers.append("Content-Type", std::move(value));
    }
    headers.replace("MIME-Version", "1.0");
    headers.remove("Message-ID");
    if (!message.messageId.empty())
        headers.append("Message-ID", "<" + message.messageId + ">");
    addStandardHeaders(message);

    for (std::size_t i = headers.size(); i-- > 0;) {
        const auto& [name, value] = headers.at(i);
        out.append(name).append(": ").append(value).append("\r\n");
    }

    if (!mainBoundary.empty())
        out.append("\r\nThis is a multipart message in MIME format\r\n");

    std::string innerBoundary;
    if (!message.attachments.empty() && message.bodyParts.size() > 1 && !mainBoundary.empty()) {
        innerBoundary = boundaryText(1, tickCount);
        out.append("\r\n--")
            .append(mainBoundary)
            .append("\r\nContent-Type: multipart/alternative;\r\n\tboundary=\"")
            .append(innerBoundary)
            .append("\"\r\n");
    }

    std::string encoded;
    std::string encodingName;
    for (const BodyPart& part : message.bodyParts) {
        const std::string& boundary = innerBoundary.empty() ? mainBoundary : innerBoundary;
        if (!boundary.empty())
            out.append("\r\n--").append(boundary).append("\r\n");
        out.append("Content-Type: ").append(part.contentType);
        if (startsWithTextType(part.contentType))
            out.append(";\r\n\tcharset=\"").append(part.charset).append("\"");
        out.append("\r\n");
        encoded = part.text;
        encodingName.clear();
        encodePartBody(part.encoding, encoded, encodingName);
        out.append("Content-Transfer-Encoding: ").append(encodingName);
        if (!part.contentId.empty())
            out.append("\r\nContent-ID: <").append(part.contentId).append(">");
        out.append("\r\n\r\n").append(encoded);
    }

    if (!innerBoundary.empty())
        out.append("\r\n--").append(innerBoundary).append("--\r\n");

    for (const Attachment& attachment : message.attachments) {
        const std::optional<std::string> data = readWholeFile(attachment.text);
        if (!data)
            continue; // an unreadable file is left out without a word
        if (!mainBoundary.empty())
            out.append("\r\n--").append(mainBoundary).append("\r\n");
        const std::string name = shownName(attachment);
        const std::string type = attachmentType(attachment, name);
        out.append("Content-Type: ").append(type);
        if (startsWithTextType(type))
            out.append(";\r\n\tcharset=\"").append(attachment.charset).append("\"");
        out.append(";\r\n\tname=\"").append(name).append("\"\r\n");
        encodingName.clear();
        encodePartBody(attachment.encoding, encoded, encodingName,
                       reinterpret_cast<const unsigned char*>(data->data()), data->size());
        out.append("Content-Transfer-Encoding: ").append(encodingName).append("\r\n");
        out.append("Content-Disposition: ")
            .append(attachment.inlineDisposition != 0 ? "inline" : "attachment")
            .append(";\r\n\tfilename=\"")
            .append(name)
            .append("\"");
        if (!attachment.contentId.empty())
            out.append("\r\nContent-ID: <").append(attachment.contentId).append(">");
        out.append("\r\n\r\n").append(encoded);
    }

    if (!mainBoundary.empty())
        out.append("\r\n--").append(mainBoundary).append("--\r\n");
}

} // namespace sentorix
