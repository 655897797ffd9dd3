// The properties dialog's validation with hostile input: logins that hold line breaks, names
// with control characters, names too long for the record's files; and a stored record whose
// login holds a line break.

#include "DataTestHelpers.h"
#include "tests/support/TestSupport.h"

#include "common/FixedText.h"
#include "monitor/data/DocumentTable.h"
#include "monitor/data/DocumentValidation.h"

#include <gtest/gtest.h>

#include <string>

namespace sentorix::test
{
namespace
{

DocumentInput ftpInput()
{
    DocumentInput input;
    input.kind = DocumentKind::FtpFile;
    input.displayName = "Report";
    input.location = "ftp://host/pub/report.txt";
    input.account = true;
    input.userName = "ann";
    input.password = "secret";
    return input;
}

std::string tooLongNameMessage()
{
    return "The document name is too long: at most " + std::to_string(kDisplayNameMaxBytes) +
           " bytes can be stored.";
}

TEST(Validation, HostileLoginsAndNamesAreRefusedWithTheirOwnMessage)
{
    TempDir folder;
    DocumentTable table(4);
    struct Case {
        const char* what;
        void (*edit)(DocumentInput&);
        std::string message;
    };
    const Case cases[] = {
        {"CR LF in the user name",
         [](DocumentInput& in) { in.userName = "anonymous\r\nDELE important.txt"; },
         kUserNameLineBreakMessage},
        {"LF in the user name", [](DocumentInput& in) { in.userName = "ann\n"; },
         kUserNameLineBreakMessage},
        {"CR in the user name", [](DocumentInput& in) { in.userName = "a\rnn"; },
         kUserNameLineBreakMessage},
        {"NUL in the user name", [](DocumentInput& in) { in.userName = std::string("a\0b", 3); },
         kUserNameLineBreakMessage},
        {"CR LF in the password",
         [](DocumentInput& in) { in.password = "secret\r\nDELE important.txt"; },
         kPasswordLineBreakMessage},
        {"NUL in the password", [](DocumentInput& in) { in.password = std::string("s\0t", 3); },
         kPasswordLineBreakMessage},
        {"LF in the name", [](DocumentInput& in) { in.displayName = "Two\nLines"; },
         kControlCharacterNameMessage},
        {"CR in the name", [](DocumentInput& in) { in.displayName = "Report\r"; },
         kControlCharacterNameMessage},
        {"a tab in the name", [](DocumentInput& in) { in.displayName = "Re\tport"; },
         kControlCharacterNameMessage},
        {"an escape in the name", [](DocumentInput& in) { in.displayName = "\x1b[31mRed"; },
         kControlCharacterNameMessage},
        {"DEL in the name", [](DocumentInput& in) { in.displayName = "Re\x7fport"; },
         kControlCharacterNameMessage},
        {"NUL in the name", [](DocumentInput& in) { in.displayName = std::string("Re\0p", 4); },
         kControlCharacterNameMessage},
        {"a name one byte too long",
         [](DocumentInput& in) { in.displayName = std::string(kDisplayNameMaxBytes + 1, 'n'); },
         tooLongNameMessage()},
        {"a name longer than its box",
         [](DocumentInput& in) { in.displayName = std::string(600, 'n'); }, tooLongNameMessage()},
        {"a slash still gets the characters message",
         [](DocumentInput& in) { in.displayName = "a/b"; }, kInvalidNameMessage},
    };
    for (const Case& c : cases) {
        DocumentInput input = ftpInput();
        c.edit(input);
        const StagedRecordResult result =
            buildStagedRecord(input, table, DocumentDialogMode::Add, -1, folder.path());
        EXPECT_FALSE(result.ok) << c.what;
        EXPECT_EQ(result.message, c.message) << c.what;
    }
    EXPECT_EQ(listFolder(folder.path()), std::vector<std::string>{}) << "no scratch file left";
}

TEST(Validation, PlainLoginsAndNamesAtTheLimitAreAccepted)
{
    TempDir folder;
    DocumentTable table(4);
    DocumentInput input = ftpInput();
    input.userName = "ann smith@example.org";
    input.password = "p@ss: w/rd%\t"; // a tab ends no line
    input.displayName = std::string(kDisplayNameMaxBytes - 2, 'n') + "\xc3\xa9"; // UTF-8 e-acute
    const StagedRecordResult result =
        buildStagedRecord(input, table, DocumentDialogMode::Add, -1, folder.path());
    ASSERT_TRUE(result.ok) << result.message;
    EXPECT_EQ(fieldText(result.record.displayName), input.displayName);
    EXPECT_TRUE(loginUsable(result.record));
}

TEST(Validation, ALoadedRecordWithALineBreakInItsLoginLoadsButItsLoginIsUnusable)
{
    TempDir folder;
    DocumentRecord rec = makeAccountRecord("Shared", "anonymous\r\nDELE important.txt", "guest");
    rec.kind = static_cast<int32_t>(DocumentKind::FtpFile);
    scrambleCredentials(rec);
    writeFile(folder.file("Shared.data"), recordBytes(rec));

    DocumentTable table(4);
    ASSERT_EQ(loadAllRecords(table, folder.path(), nullptr), 1);
    const DocumentRecord loaded = table.get(0);
    EXPECT_EQ(fieldText(loaded.userName), "anonymous\r\nDELE important.txt");
    EXPECT_FALSE(loginUsable(loaded));

    DocumentRecord noAccount = loaded;
    noAccount.useAccount = 0;
    EXPECT_TRUE(loginUsable(noAccount)) << "credentials that are not sent do no harm";
}

} // namespace
} // namespace sentorix::test
