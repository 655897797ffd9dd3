// The small modal windows of the monitor: the data view (the first bytes of a stored file as
// hexadecimal numbers beside the characters), the count view (what a count-method document
// counts and its last count) and the start-up prompt that offers to add the first document.
#pragma once

#include "monitor/data/DocumentRecord.h"

#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;
class QPlainTextEdit;

namespace sentorix::ui
{

class DataView : public QDialog
{
    Q_OBJECT

public:
    // At most this many bytes of a file are shown.
    static constexpr int kMaxBytes = 2052;
    static constexpr int kBytesPerLine = 6;

    explicit DataView(QWidget* parent = nullptr);
    // Reads the file once; false when it cannot be opened.
    bool load(const QString& path);

    QString numbersText() const;
    QString charactersText() const;

private:
    QPlainTextEdit* m_characters = nullptr; // the wide box on the left
    QPlainTextEdit* m_numbers = nullptr;    // the narrow box on the right
};

// The texts of the data view's two boxes for the given bytes (at most kMaxBytes are used).
struct DataViewTexts {
    QString numbers;
    QString characters;
};
DataViewTexts dataViewTexts(const QByteArray& bytes);

class CountView : public QDialog
{
    Q_OBJECT

public:
    explicit CountView(const DocumentRecord& record, QWidget* parent = nullptr);
};

class StartupPrompt : public QDialog
{
    Q_OBJECT

public:
    explicit StartupPrompt(QWidget* parent = nullptr);
};

// 0 when the file cannot be opened (the view is then never shown), else 1 after the view was
// closed.
int showDataView(QWidget* parent, const QString& path);
void showCountView(QWidget* parent, const DocumentRecord& record);
// 1 for "Add Document >", 0 for "Cancel", Esc or the close box.
int showStartupPrompt(QWidget* parent);

} // namespace sentorix::ui
