// One QApplication on the offscreen platform for every test of a windowed test program.
#include <gtest/gtest.h>

#include "monitor/dialogs/ModalDialogs.h"

#include <QApplication>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // A message box no test expected is answered, never left waiting for a user.
    sentorix::ui::MessageBox::setDefaultAnswer(QMessageBox::Ok);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
