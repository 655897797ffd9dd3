// The glob lists of the shared MIME-info database, read by our own parser.
#include "mailer/smtp/MimeTypes.h"

#include <gtest/gtest.h>

using namespace sentorix;

TEST(MimeGlobs, ReadsGlobs2WeightsAndCaseFlags)
{
    MimeGlobs globs;
    globs.parse("# comment\n"
                "50:text/plain:*.txt\n"
                "50:text/x-csrc:*.c:cs\n"
                "50:text/x-c++src:*.C:cs\n"
                "40:application/x-low:*.dup\n"
                "60:application/x-high:*.dup\n"
                "50:application/x-compressed-tar:*.tar.gz\n"
                "50:text/x-readme:README*\n"
                "50:application/x-wild:*.[ab]z\n"
                "broken line\n"
                "50:application/x-crlf:*.crlf\r\n");
    struct Case {
        const char* extension;
        const char* type;
    };
    for (const Case& c :
         {Case{".txt", "text/plain"}, Case{".TXT", "text/plain"}, Case{".c", "text/x-csrc"},
          Case{".C", "text/x-c++src"}, Case{".dup", "application/x-high"},
          Case{".tar.gz", "application/x-compressed-tar"}, Case{".gz", ""}, Case{".[ab]z", ""},
          Case{".crlf", "application/x-crlf"}, Case{"", ""}, Case{".", ""}})
        EXPECT_EQ(globs.lookup(c.extension), c.type) << c.extension;
}

TEST(MimeGlobs, ReadsTheOlderGlobsFormat)
{
    MimeGlobs globs;
    globs.parse("text/html:*.html\nimage/png:*.png\n");
    EXPECT_EQ(globs.lookup(".html"), "text/html");
    EXPECT_EQ(globs.lookup(".PNG"), "image/png");
}

TEST(MimeGlobs, MissingFileIsNotLoaded)
{
    MimeGlobs globs;
    EXPECT_FALSE(globs.load("/nonexistent/globs2"));
    EXPECT_TRUE(globs.empty());
}
