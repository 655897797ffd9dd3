#pragma once
// Controls that the settings dialogs build alike.
#include <QCheckBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QString>

#include <cstdint>

namespace sentorix::ui
{

// A check box showing a stored 0/1 field, named for screen readers by its text.
inline QCheckBox* fieldCheckBox(const char* text, std::int32_t field, QWidget* parent)
{
    auto* box = new QCheckBox(QString::fromUtf8(text), parent);
    box->setChecked(field == 1);
    box->setAccessibleName(box->text());
    return box;
}

// The right-aligned Apply (the default button) and Cancel row.
inline QHBoxLayout* applyCancelRow(QWidget* parent, QPushButton*& apply, QPushButton*& cancel)
{
    apply = new QPushButton(QStringLiteral("Apply"), parent);
    apply->setDefault(true);
    cancel = new QPushButton(QStringLiteral("Cancel"), parent);
    cancel->setAutoDefault(false);
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(apply);
    row->addWidget(cancel);
    return row;
}

} // namespace sentorix::ui
