// The modal wrappers answer from the queue a test filled, in order, and record every box.
#include "monitor/dialogs/ModalDialogs.h"

#include <gtest/gtest.h>

#include <QApplication>

namespace sentorix::ui
{
namespace
{

TEST(ModalDialogs, AnswersComeFromTheQueueInOrderAndEveryBoxIsRecorded)
{
    int argc = 1;
    char name[] = "test";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);

    MessageBox::clearAsked();
    MessageBox::setNextAnswer(QMessageBox::Yes);
    MessageBox::setNextAnswer(QMessageBox::No);
    EXPECT_EQ(MessageBox::show(nullptr, "first?", QMessageBox::Question,
                               QMessageBox::Yes | QMessageBox::No),
              QMessageBox::Yes);
    EXPECT_EQ(MessageBox::show(nullptr, "second?", QMessageBox::Warning), QMessageBox::No);
    ASSERT_EQ(MessageBox::asked().size(), 2u);
    EXPECT_EQ(MessageBox::asked()[0].text, "first?");
    EXPECT_EQ(MessageBox::asked()[1].icon, QMessageBox::Warning);

    FileDialog::setNextFileName("/tmp/chosen");
    FileDialog::setNextFileName("");
    EXPECT_EQ(FileDialog::getSaveFileName(nullptr, "Save", "/home/u/a.txt"), "/tmp/chosen");
    EXPECT_EQ(FileDialog::lastStartPath(), "/home/u/a.txt");
    EXPECT_EQ(FileDialog::getOpenFileName(nullptr, "Open", "/home/u"), "");
}

} // namespace
} // namespace sentorix::ui
