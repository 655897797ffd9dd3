// The addresses a check opens: the web URL with its account, and the FTP location's parts.

#include "common/FixedText.h"
#include "monitor/check/WebAddress.h"

#include <gtest/gtest.h>

#include <cstring>

namespace sentorix
{
namespace
{

DocumentRecord webRecord(const std::string& location, const std::string& user = "",
                         const std::string& password = "", bool account = true)
{
    DocumentRecord record{};
    setFieldText(record.location, location);
    record.useAccount = account ? 1 : 0;
    setFieldText(record.userName, user);
    setFieldText(record.password, password);
    return record;
}

struct UrlCase {
    const char* location;
    bool account;
    const char* url;
};

TEST(WebRequest, PrefixAndRestFollowTheLocation)
{
    const UrlCase cases[] = {
        {"https://myhost/path", true, "https://myhost/path"},
        {"http://myhost/index.html", true, "http://myhost/index.html"},
        {"HTTPS://myhost/x", true, "https://myhost/x"},
        {"myhost/x", true, "http://myhost/x"},
        // Any "s://" makes the prefix https, wherever it stands.
        {"http://myhost/go?to=https://other", true, "https://myhost/go?to=https://other"},
        // Without an account the location is opened as it stands.
        {"HTTP://myhost/x", false, "HTTP://myhost/x"},
    };
    for (const UrlCase& c : cases) {
        const WebRequest request = buildWebRequest(webRecord(c.location, "u", "p", c.account));
        EXPECT_EQ(request.url, c.url) << c.location;
        EXPECT_EQ(request.credentials.useAccount, c.account) << c.location;
        EXPECT_FALSE(request.tooLong);
    }
}

TEST(WebRequest, CredentialsStayOutOfTheUrl)
{
    const WebRequest request =
        buildWebRequest(webRecord("http://myhost/a", "us@er/%41", "p@ss:w/rd%"));
    EXPECT_EQ(request.url, "http://myhost/a");
    EXPECT_EQ(request.credentials.userName, "us@er/%41");
    EXPECT_EQ(request.credentials.password, "p@ss:w/rd%");
}

TEST(WebRequest, LengthCountsTheCredentialsAsIfWrittenIn)
{
    // "http://" + user + ":" + password + "@" + rest: 7 + 100 + 1 + 100 + 1 + rest.
    const std::string user(100, 'u');
    const std::string password(100, 'p');
    const std::string restFitting(511 - 209, 'r');
    EXPECT_FALSE(buildWebRequest(webRecord("http://" + restFitting, user, password)).tooLong);
    EXPECT_TRUE(buildWebRequest(webRecord("http://" + restFitting + "r", user, password)).tooLong);
}

TEST(WebRequest, UnterminatedLocationFieldIsTooLong)
{
    DocumentRecord record{};
    std::memset(record.location, 'a', sizeof record.location); // as read from a damaged file
    EXPECT_TRUE(buildWebRequest(record).tooLong);
}

struct SplitCase {
    const char* location;
    bool ok;
    const char* server;
    const char* directory;
    const char* file;
};

TEST(FtpLocation, SplitsIntoServerDirectoryAndFile)
{
    const SplitCase cases[] = {
        {"ftp://myserver/pub/data/report.txt", true, "myserver", "pub/data", "report.txt"},
        {"myserver/pub/data/report.txt", true, "myserver", "pub/data", "report.txt"},
        {"myserver/report.txt", true, "myserver", "", "report.txt"},
        {"myserver\\pub\\data\\report.txt", true, "myserver", "pub\\data", "report.txt"},
        {"myserver/pub\\data/report.txt", true, "myserver", "pub\\data", "report.txt"},
        {"host:2121/a/b", true, "host:2121", "a", "b"},
        {"myserver/dir/", true, "myserver", "dir", ""},
        {"myserver", false, "", "", ""},
        {"ftp://myserver", false, "", "", ""},
        {"/report.txt", false, "", "", ""},
        {"my\r\nserver/report.txt", false, "", "", ""},
        {"myserver/pub\r\nDELE x/report.txt", false, "", "", ""},
    };
    for (const SplitCase& c : cases) {
        const auto target = splitFtpLocation(c.location);
        ASSERT_EQ(target.has_value(), c.ok) << c.location;
        if (!c.ok)
            continue;
        EXPECT_EQ(target->server, c.server) << c.location;
        EXPECT_EQ(target->directory, c.directory) << c.location;
        EXPECT_EQ(target->fileName, c.file) << c.location;
    }
}

TEST(FtpLocation, UrlEscapesEveryPartAndRefusesOddServers)
{
    EXPECT_EQ(buildFtpUrl({"h:21", "pub/da ta", "re%port#1.txt"}),
              "ftp://h:21/pub/da%20ta/re%25port%231.txt");
    EXPECT_EQ(buildFtpUrl({"h", "pub\\data", "f?.txt"}), "ftp://h/pub/data/f%3F.txt");
    EXPECT_EQ(buildFtpUrl({"h", "", "f"}), "ftp://h/f");
    EXPECT_EQ(buildFtpUrl({"user@h", "", "f"}), "");
    EXPECT_EQ(buildFtpUrl({"h x", "", "f"}), "");
    EXPECT_EQ(buildFtpUrl({"", "", "f"}), "");
    // An empty file name would make curl list the folder instead of fetching a file.
    EXPECT_EQ(buildFtpUrl({"h", "dir", ""}), "");
}

} // namespace
} // namespace sentorix
