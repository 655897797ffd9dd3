// The message composer: header order and values, the date with its zone offset, the
// recipient text, and the single-part, multipart, nested and attachment layouts.
#include "mailer/smtp/MailMessage.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

using namespace sentorix;

namespace
{

constexpr uint32_t kTick = 0x00ABCDEF;
const std::string kMain = "CSmtpMsgPart123X456_000_00ABCDEF";
const std::string kInner = "CSmtpMsgPart123X456_001_00ABCDEF";

// Thursday 14 June 2012, 09:05:03, one hour east of UTC.
MailMessage fixedMessage()
{
    MailMessage m;
    m.created = LocalTime{2012, 6, 4, 14, 9, 5, 3, 0};
    m.zoneOffset = 100;
    m.sender = {"Sentorix", "monitor@example.org"};
    m.mainRecipient = {"", "user@example.com"};
    m.subject = "Changes";
    return m;
}

BodyPart textPart(std::string type, std::string text, std::string charset = "iso-8859-1")
{
    BodyPart p;
    p.contentType = std::move(type);
    p.charset = std::move(charset);
    p.text = std::move(text);
    return p;
}

const std::string kStandardHeaders = "From: \"Sentorix\" <monitor@example.org>\r\n"
                                     "To: <user@example.com>\r\n"
                                     "Subject: Changes\r\n"
                                     "Date: Thu, 14 Jun 2012 09:05:03 +0100\r\n"
                                     "Importance: Normal\r\n"
                                     "X-Mailer: Postavo\r\n"
                                     "X-MSMail-Priority: Normal\r\n"
                                     "X-Priority: 3 (Normal)\r\n";

std::string compose(MailMessage& m)
{
    std::string out = "stale";
    composeMessage(m, out, kTick);
    return out;
}

} // namespace

TEST(ZoneOffset, MinutesBecomeHoursAndMinutes)
{
    struct Case {
        int32_t minutes, offset;
        const char* suffix;
    };
    const std::vector<Case> cases = {
        {60, 100, "+0100"}, {330, 530, "+0530"},   {-210, -330, "-0330"}, {0, 0, "-0000"},
        {90, 130, "+0130"}, {-300, -500, "-0500"}, {765, 1245, "+1245"},  {-720, -1200, "-1200"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(zoneOffsetFromMinutes(c.minutes), c.offset) << c.minutes;
        const std::string date = formatMailDate(LocalTime{2012, 6, 4, 14, 9, 5, 3, 0}, c.offset);
        EXPECT_EQ(date, std::string("Thu, 14 Jun 2012 09:05:03 ") + c.suffix);
    }
}

TEST(ZoneOffset, ComesFromTheLocalZone)
{
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    struct Case {
        const char* tz;
        int32_t offset;
    };
    for (const Case& c :
         {Case{"UTC0", 0}, Case{"IST-5:30", 530}, Case{"EST5", -500}, Case{"NPT-5:45", 545}}) {
        setenv("TZ", c.tz, 1);
        tzset();
        EXPECT_EQ(currentZoneOffset(), c.offset) << c.tz;
    }
    if (old)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

// RFC 5322 wants two-digit hours; the day of the month has no leading zero.
TEST(MailDate, DayWithoutLeadingZeroAndTwoDigitHours)
{
    EXPECT_EQ(formatMailDate(LocalTime{1999, 12, 0, 5, 23, 59, 7, 0}, -500),
              "Sun, 5 Dec 1999 23:59:07 -0500");
    EXPECT_EQ(formatMailDate(LocalTime{2024, 1, 1, 1, 0, 0, 0, 0}, 530),
              "Mon, 1 Jan 2024 00:00:00 +0530");
    EXPECT_EQ(formatMailDate(LocalTime{2026, 12, 4, 10, 5, 43, 39, 0}, 100),
              "Thu, 10 Dec 2026 05:43:39 +0100");
}

TEST(RecipientText, FoldsFurtherRecipients)
{
    MailMessage m;
    EXPECT_EQ(recipientText(m), "");
    m.mainRecipient = {"Ann", "ann@example.com"};
    EXPECT_EQ(recipientText(m), "\"Ann\" <ann@example.com>");
    m.mainRecipient = {"", "ann@example.com"};
    m.toList.push_back({"Bob", "bob@example.com"});
    m.toList.push_back({"", "cy@example.com"});
    m.bccList.push_back({"Hidden", "hidden@example.com"});
    EXPECT_EQ(recipientText(m),
              "<ann@example.com>,\r\n\t\"Bob\" <bob@example.com>,\r\n\t<cy@example.com>");
    m.mainRecipient = {};
    EXPECT_EQ(recipientText(m), "\"Bob\" <bob@example.com>,\r\n\t<cy@example.com>");
}

TEST(HeaderList, FindRemoveAppendAndReplace)
{
    HeaderList h;
    h.append("A", "1");
    h.append("B", "2");
    h.append("a", "3");
    EXPECT_EQ(h.find("A"), 0);
    EXPECT_EQ(h.find("a"), 2); // names match only with the same case
    EXPECT_EQ(h.find("AB"), -1);
    h.addIfAbsent("B", "ignored");
    h.replace("A", "4");
    ASSERT_EQ(h.size(), 3u);
    EXPECT_EQ(h.at(0), std::make_pair(std::string("B"), std::string("2")));
    EXPECT_EQ(h.at(2), std::make_pair(std::string("A"), std::string("4")));
    h.removeAt(7);
    h.removeAt(-1);
    EXPECT_EQ(h.size(), 3u);
}

TEST(Compose, MailerMessageHasOnePartAndNoBoundary)
{
    MailMessage m = fixedMessage();
    m.bodyParts.push_back(textPart("text/plain", "Line one\r\n.hidden\r\n"));
    EXPECT_EQ(compose(m), kStandardHeaders + "MIME-Version: 1.0\r\n"
                                             "Content-Type: text/plain;\r\n"
                                             "\tcharset=\"iso-8859-1\"\r\n"
                                             "Content-Transfer-Encoding: 7bit\r\n"
                                             "\r\n"
                                             "Line one\r\n..hidden\r\n");
}

TEST(Compose, ComposingAgainKeepsOneOfEachHeader)
{
    MailMessage m = fixedMessage();
    m.bodyParts.push_back(textPart("text/plain", "x"));
    m.bodyParts.push_back(textPart("text/html", "y"));
    const std::string first = compose(m);
    const std::size_t headerCount = m.headers.size();
    const std::string second = compose(m);
    EXPECT_EQ(m.headers.size(), headerCount);
    EXPECT_EQ(second.size(), first.size());
    // Pairs replaced on the second run move to the end of the list, so to the top.
    EXPECT_EQ(second.rfind("From: ", 0), 0u);
    const std::string body = "\r\nThis is a multipart";
    EXPECT_EQ(second.substr(second.find(body)), first.substr(first.find(body)));
}

TEST(Compose, CallerHeadersAndMessageId)
{
    MailMessage m = fixedMessage();
    m.headers.append("X-Priority", "1 (Highest)");
    m.headers.append("Date", "overwritten");
    m.messageId = "42@example.org";
    m.sender = {"", "monitor@example.org"};
    m.bodyParts.push_back(textPart("application/json", "{}"));
    EXPECT_EQ(compose(m), "From: <monitor@example.org>\r\n"
                          "To: <user@example.com>\r\n"
                          "Subject: Changes\r\n"
                          "Date: Thu, 14 Jun 2012 09:05:03 +0100\r\n"
                          "Importance: Normal\r\n"
                          "X-Mailer: Postavo\r\n"
                          "X-MSMail-Priority: Normal\r\n"
                          "Message-ID: <42@example.org>\r\n"
                          "MIME-Version: 1.0\r\n"
                          "X-Priority: 1 (Highest)\r\n"
                          "Content-Type: application/json\r\n" // no charset: not text/
                          "Content-Transfer-Encoding: 7bit\r\n"
                          "\r\n"
                          "{}");
}

TEST(Compose, NoPartsGiveHeadersOnly)
{
    MailMessage m = fixedMessage();
    EXPECT_EQ(compose(m), kStandardHeaders + "MIME-Version: 1.0\r\n");
}

TEST(Compose, TwoBodyPartsAreAlternatives)
{
    MailMessage m = fixedMessage();
    m.bodyParts.push_back(textPart("text/plain", "Plain\r\n", "us-ascii"));
    BodyPart html = textPart("TEXT/html", "<p>Html</p>", "");
    html.contentId = "part2";
    m.bodyParts.push_back(html);
    EXPECT_EQ(compose(m), kStandardHeaders +
                              "MIME-Version: 1.0\r\n"
                              "Content-Type: multipart/alternative;\r\n"
                              "\tboundary=\"" +
                              kMain +
                              "\"\r\n"
                              "\r\nThis is a multipart message in MIME format\r\n"
                              "\r\n--" +
                              kMain +
                              "\r\n"
                              "Content-Type: text/plain;\r\n\tcharset=\"us-ascii\"\r\n"
                              "Content-Transfer-Encoding: 7bit\r\n\r\n"
                              "Plain\r\n"
                              "\r\n--" +
                              kMain +
                              "\r\n"
                              "Content-Type: TEXT/html;\r\n\tcharset=\"\"\r\n"
                              "Content-Transfer-Encoding: 7bit\r\n"
                              "Content-ID: <part2>\r\n\r\n"
                              "<p>Html</p>"
                              "\r\n--" +
                              kMain + "--\r\n");
    EXPECT_EQ(m.multipartKind, 2);
}

TEST(Compose, PartAndAttachmentAreMixed)
{
    test::TempDir dir;
    test::writeFile(dir.file("notes.v2.xyz"), "abc");
    MailMessage m = fixedMessage();
    m.bodyParts.push_back(textPart("text/plain", "Body"));
    Attachment a;
    a.text = dir.file("notes.v2.xyz");
    m.attachments.push_back(a);
    EXPECT_EQ(compose(m),
              kStandardHeaders +
                  "MIME-Version: 1.0\r\n"
                  "Content-Type: multipart/mixed;\r\n"
                  "\tboundary=\"" +
                  kMain +
                  "\"\r\n"
                  "\r\nThis is a multipart message in MIME format\r\n"
                  "\r\n--" +
                  kMain +
                  "\r\n"
                  "Content-Type: text/plain;\r\n\tcharset=\"iso-8859-1\"\r\n"
                  "Content-Transfer-Encoding: 7bit\r\n\r\n"
                  "Body"
                  "\r\n--" +
                  kMain +
                  "\r\n"
                  // ".v2.xyz" from the first period has no registered type.
                  "Content-Type: application/octet-stream;\r\n\tname=\"notes.v2.xyz\"\r\n"
                  "Content-Transfer-Encoding: 7bit\r\n"
                  "Content-Disposition: attachment;\r\n\tfilename=\"notes.v2.xyz\"\r\n\r\n"
                  "abc"
                  "\r\n--" +
                  kMain + "--\r\n");
}

TEST(Compose, TwoPartsAndAttachmentNestAlternatives)
{
    test::TempDir dir;
    test::writeFile(dir.file("data.bin"), std::string("\x00\x01\x02", 3));
    MailMessage m = fixedMessage();
    m.bodyParts.push_back(textPart("text/plain", "P"));
    m.bodyParts.push_back(textPart("text/html", "H"));
    Attachment a;
    a.text = dir.file("data.bin");
    a.fileName = "shown.dat";
    a.contentType = "Text/X-Custom";
    a.charset = "utf-8";
    a.inlineDisposition = 1;
    a.contentId = "att1";
    a.encoding = 4;
    m.attachments.push_back(a);
    const std::string out = compose(m);
    const std::string expectedBody =
        "\r\nThis is a multipart message in MIME format\r\n"
        "\r\n--" +
        kMain + "\r\nContent-Type: multipart/alternative;\r\n\tboundary=\"" + kInner +
        "\"\r\n"
        "\r\n--" +
        kInner +
        "\r\nContent-Type: text/plain;\r\n\tcharset=\"iso-8859-1\"\r\n"
        "Content-Transfer-Encoding: 7bit\r\n\r\nP"
        "\r\n--" +
        kInner +
        "\r\nContent-Type: text/html;\r\n\tcharset=\"iso-8859-1\"\r\n"
        "Content-Transfer-Encoding: 7bit\r\n\r\nH"
        "\r\n--" +
        kInner +
        "--\r\n"
        "\r\n--" +
        kMain +
        "\r\nContent-Type: Text/X-Custom;\r\n\tcharset=\"utf-8\";\r\n\tname=\"shown.dat\"\r\n"
        "Content-Transfer-Encoding: base64\r\n"
        "Content-Disposition: inline;\r\n\tfilename=\"shown.dat\"\r\n"
        "Content-ID: <att1>\r\n\r\n"
        "AAEC"
        "\r\n--" +
        kMain + "--\r\n";
    ASSERT_GE(out.size(), expectedBody.size());
    EXPECT_EQ(out.substr(out.size() - expectedBody.size()), expectedBody);
    EXPECT_NE(out.find("Content-Type: multipart/mixed;\r\n\tboundary=\"" + kMain + "\"\r\n"),
              std::string::npos);
}

TEST(Compose, RelatedKindIsKept)
{
    MailMessage m = fixedMessage();
    m.multipartKind = 3;
    m.bodyParts.push_back(textPart("text/plain", "a"));
    m.bodyParts.push_back(textPart("text/plain", "b"));
    EXPECT_NE(compose(m).find("Content-Type: multipart/related;"), std::string::npos);
    EXPECT_EQ(m.multipartKind, 3);
}

TEST(Compose, MissingAttachmentIsLeftOutButCountsForMultipart)
{
    test::TempDir dir;
    MailMessage m = fixedMessage();
    m.bodyParts.push_back(textPart("text/plain", "Body"));
    Attachment a;
    a.text = dir.file("gone.txt");
    m.attachments.push_back(a);
    Attachment folder;
    folder.text = dir.path(); // a folder cannot be read as a file
    m.attachments.push_back(folder);
    const std::string out = compose(m);
    EXPECT_NE(out.find("multipart/mixed"), std::string::npos);
    EXPECT_EQ(out.find("gone.txt"), std::string::npos);
    EXPECT_EQ(out.find("Content-Disposition"), std::string::npos);
    // One boundary line before the body part, then the closing line.
    const std::string tail = "Body\r\n--" + kMain + "--\r\n";
    EXPECT_EQ(out.substr(out.size() - tail.size()), tail);
}

TEST(Compose, AttachmentTypeFromTheMimeDatabase)
{
    if (!test::exists("/usr/share/mime/globs2") && !test::exists("/usr/share/mime/globs"))
        GTEST_SKIP() << "no shared MIME-info database installed";
    test::TempDir dir;
    test::writeFile(dir.file("Report.TXT"), "text");
    MailMessage m = fixedMessage();
    Attachment a;
    a.text = dir.file("Report.TXT");
    a.charset = "us-ascii";
    m.attachments.push_back(a);
    const std::string out = compose(m);
    EXPECT_NE(out.find("Content-Type: text/plain;\r\n\tcharset=\"us-ascii\";\r\n"
                       "\tname=\"Report.TXT\"\r\n"),
              std::string::npos)
        << out;
}
