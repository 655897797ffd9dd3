// Reaching a dialog's controls by their control id, and using them as a user would: typing
// into a box, clicking a button.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QLineEdit>
#include <QString>
#include <QTest>
#include <QVariant>
#include <QWidget>

namespace sentorix::test
{

// Clicks as the mouse does; a check box toggles only on its indicator and text, which a wide
// box has at its left.
inline void click(QAbstractButton* button)
{
    ASSERT_TRUE(button->isEnabled()) << button->text().toStdString();
    const QPoint at = qobject_cast<QCheckBox*>(button) != nullptr ? QPoint(8, button->height() / 2)
                                                                  : button->rect().center();
    QTest::mouseClick(button, Qt::LeftButton, {}, at);
}

inline QWidget* controlOf(const QWidget& dialog, int id)
{
    for (QWidget* child : dialog.findChildren<QWidget*>())
        if (child->property("controlId").toInt() == id)
            return child;
    return nullptr;
}

inline void typeInto(const QWidget& dialog, int id, const QString& text)
{
    auto* box = qobject_cast<QLineEdit*>(controlOf(dialog, id));
    ASSERT_NE(box, nullptr) << "box " << id;
    box->clear();
    QTest::keyClicks(box, text);
}

inline void clickOn(const QWidget& dialog, int id)
{
    auto* button = qobject_cast<QAbstractButton*>(controlOf(dialog, id));
    ASSERT_NE(button, nullptr) << "button " << id;
    QTest::mouseClick(button, Qt::LeftButton);
}

} // namespace sentorix::test
