// The data view, the count view and the start-up prompt: what each shows and how each closes.
#include "monitor/dialogs/Viewers.h"

#include "common/FixedText.h"
#include "monitor/dialogs/ModalDialogs.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

namespace sentorix::ui
{
namespace
{

QString bytesOf(const QString& path)
{
    DataView view;
    EXPECT_TRUE(view.load(path));
    return view.numbersText();
}

TEST(DataView, ShowsSixNumbersALineBesideTheCharacters)
{
    test::TempDir dir;
    const struct {
        const char* what;
        std::string bytes;
        QString numbers;
        QString characters;
    } cases[] = {
        {"empty", "", "", ""},
        {"seven bytes", "<html>\n", "3C 68 74 6D 6C 3E \n0A ", "<html>\n"},
        {"zero bytes", std::string("a\0b\0", 4), "61 00 62 00 ", "ab"},
        {"CR LF", "a\r\nb\rc", "61 0D 0A 62 0D 63 \n", "a\nbc"},
        {"high bytes", "\xff\x80", "FF 80 ", QString(2, QChar(0xFFFD))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::writeFile(dir.file("f"), c.bytes);
        DataView view;
        ASSERT_TRUE(view.load(QString::fromStdString(dir.file("f"))));
        EXPECT_EQ(view.numbersText(), c.numbers);
        EXPECT_EQ(view.charactersText(), c.characters);
    }
}

TEST(DataView, ShowsAtMostTheFirst2052Bytes)
{
    test::TempDir dir;
    std::string bytes;
    for (int i = 0; i < 5000; ++i)
        bytes.push_back(static_cast<char>('A' + i % 26));
    test::writeFile(dir.file("big"), bytes);
    const QString numbers = bytesOf(QString::fromStdString(dir.file("big")));
    const QStringList lines = numbers.split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(lines.size(), 342);
    for (const QString& line : lines)
        EXPECT_EQ(line.size(), 18);
    EXPECT_EQ(numbers.count(' '), 2052);

    DataView view;
    ASSERT_TRUE(view.load(QString::fromStdString(dir.file("big"))));
    EXPECT_EQ(view.charactersText().toStdString(), bytes.substr(0, 2052));
    for (const char* name : {"numbers", "characters"}) {
        auto* box = view.findChild<QPlainTextEdit*>(name);
        ASSERT_NE(box, nullptr);
        EXPECT_TRUE(box->isReadOnly());
        EXPECT_TRUE(QFontInfo(box->font()).fixedPitch()) << name;
        EXPECT_EQ(box->textCursor().position(), 0);
    }
}

TEST(DataView, ReturnsZeroWithoutShowingForAFileItCannotOpen)
{
    test::TempDir dir;
    DialogRunner::clearHandlers();
    bool shown = false;
    DialogRunner::setNextHandler([&shown](QDialog&) { shown = true; });
    EXPECT_EQ(showDataView(nullptr, QString::fromStdString(dir.file("missing"))), 0);
    EXPECT_FALSE(shown);
    DialogRunner::clearHandlers();

    test::writeFile(dir.file("there"), "x");
    for (const bool viaEscape : {false, true}) {
        DialogRunner::setNextHandler([viaEscape](QDialog& d) {
            if (viaEscape)
                QTest::keyClick(&d, Qt::Key_Escape);
            else
                QTest::mouseClick(d.findChild<QPushButton*>("close"), Qt::LeftButton);
            EXPECT_FALSE(d.isVisible());
        });
        EXPECT_EQ(showDataView(nullptr, QString::fromStdString(dir.file("there"))), 1);
    }
}

TEST(CountView, ShowsTheCountingStringAndTheLastCount)
{
    const struct {
        int32_t count;
        const char* shown;
    } cases[] = {{0, "0"}, {17, "17"}, {-1, "4294967295"}};
    for (const auto& c : cases) {
        DocumentRecord record{};
        setFieldText(record.countString, "needle");
        record.lastCount = c.count;
        CountView view(record);
        EXPECT_EQ(view.findChild<QLineEdit*>("countingString")->text(), "needle");
        EXPECT_TRUE(view.findChild<QLineEdit*>("countingString")->isReadOnly());
        EXPECT_EQ(view.findChild<QLabel*>("count")->text(), c.shown);
    }
    DocumentRecord record{};
    bool closed = false;
    DialogRunner::setNextHandler([&closed](QDialog& d) {
        QTest::mouseClick(d.findChild<QPushButton*>("close"), Qt::LeftButton);
        closed = !d.isVisible();
    });
    showCountView(nullptr, record);
    EXPECT_TRUE(closed);
}

TEST(StartupPrompt, AddDocumentAnswersOneEverythingElseZero)
{
    StartupPrompt prompt;
    EXPECT_EQ(prompt.findChild<QLabel*>("text")->text(),
              "To start monitoring, you need to add a document first.");
    EXPECT_EQ(prompt.findChild<QPushButton*>("addDocument")->text(), "Add Document >");
    EXPECT_EQ(prompt.findChild<QPushButton*>("cancel")->text(), "Cancel");

    const struct {
        const char* what;
        std::function<void(QDialog&)> act;
        int result;
    } cases[] = {
        {"add",
         [](QDialog& d) {
             QTest::mouseClick(d.findChild<QPushButton*>("addDocument"), Qt::LeftButton);
         },
         1},
        {"cancel",
         [](QDialog& d) { QTest::mouseClick(d.findChild<QPushButton*>("cancel"), Qt::LeftButton); },
         0},
        {"escape", [](QDialog& d) { QTest::keyClick(&d, Qt::Key_Escape); }, 0},
        {"close box", [](QDialog& d) { d.close(); }, 0},
    };
    for (const auto& c : cases) {
        DialogRunner::setNextHandler(c.act);
        EXPECT_EQ(showStartupPrompt(nullptr), c.result) << c.what;
    }
}

} // namespace
} // namespace sentorix::ui
