#include "monitor/dialogs/Viewers.h"

#include "common/FixedText.h"
#include "monitor/dialogs/ModalDialogs.h"

#include <QApplication>
#include <QFile>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QVBoxLayout>

namespace sentorix::ui
{

DataViewTexts dataViewTexts(const QByteArray& bytes)
{
    static const char* hex = "0123456789ABCDEF";
    const qsizetype count = std::min<qsizetype>(bytes.size(), DataView::kMaxBytes);
    QByteArray numbers;
    QByteArray characters;
    numbers.reserve(count * 3 + count / DataView::kBytesPerLine * 2);
    for (qsizetype i = 0; i < count; ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        numbers.append(hex[byte >> 4]);
        numbers.append(hex[byte & 0x0F]);
        numbers.append(' ');
        if ((i + 1) % DataView::kBytesPerLine == 0)
            numbers.append('\n');
        // A zero byte shows nothing. CR LF breaks the line, and so does a lone LF (the line
        // end of files made here); a lone CR breaks nothing and is left out, too.
        if (byte == 0 || byte == '\r')
            continue;
        characters.append(static_cast<char>(byte));
    }
    DataViewTexts texts;
    texts.numbers = QString::fromLatin1(numbers);
    texts.characters = QString::fromUtf8(characters);
    return texts;
}

DataView::DataView(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Data view"));
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);

    m_characters = new QPlainTextEdit(this);
    m_characters->setObjectName(QStringLiteral("characters"));
    m_characters->setProperty("controlId", 1052);
    m_characters->setReadOnly(true);
    m_characters->setFont(fixed);
    m_characters->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_characters->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_characters->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    m_numbers = new QPlainTextEdit(this);
    m_numbers->setObjectName(QStringLiteral("numbers"));
    m_numbers->setProperty("controlId", 1051);
    m_numbers->setReadOnly(true);
    m_numbers->setFont(fixed);
    m_numbers->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_numbers->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_numbers->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    const QFontMetrics metrics(fixed);
    m_numbers->setFixedWidth(metrics.horizontalAdvance(QString(19, QLatin1Char('0'))) +
                             m_numbers->verticalScrollBar()->sizeHint().width() + 16);

    auto* close = new QPushButton(QStringLiteral("Close"), this);
    close->setObjectName(QStringLiteral("close"));
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);

    auto* boxes = new QHBoxLayout;
    boxes->addWidget(m_characters, 1);
    boxes->addWidget(m_numbers);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(boxes);
    layout->addLayout(buttons);
    resize(640, 420);
}

bool DataView::load(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.read(kMaxBytes);
    file.close();
    const DataViewTexts texts = dataViewTexts(bytes);
    m_numbers->setPlainText(texts.numbers);
    m_characters->setPlainText(texts.characters);
    m_numbers->moveCursor(QTextCursor::Start);
    m_characters->moveCursor(QTextCursor::Start);
    return true;
}

QString DataView::numbersText() const
{
    return m_numbers->toPlainText();
}

QString DataView::charactersText() const
{
    return m_characters->toPlainText();
}

CountView::CountView(const DocumentRecord& record, QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Count View"));
    const std::string_view countString = fieldText(record.countString);
    auto* string = new QLineEdit(
        QString::fromUtf8(countString.data(), static_cast<qsizetype>(countString.size())), this);
    string->setObjectName(QStringLiteral("countingString"));
    string->setProperty("controlId", 1082);
    string->setReadOnly(true);
    auto* count = new QLabel(QString::number(static_cast<uint32_t>(record.lastCount)), this);
    count->setObjectName(QStringLiteral("count"));
    count->setProperty("controlId", 1083);

    auto* close = new QPushButton(QStringLiteral("Close"), this);
    close->setObjectName(QStringLiteral("close"));
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("Counting string:"), this), 0, 0);
    grid->addWidget(string, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Count:"), this), 1, 0);
    grid->addWidget(count, 1, 1);
    grid->setColumnStretch(1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(buttons);
    resize(380, sizeHint().height());
}

StartupPrompt::StartupPrompt(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Sentorix"));
    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("icon"));
    const QIcon appIcon = QApplication::windowIcon().isNull()
                              ? style()->standardIcon(QStyle::SP_MessageBoxInformation)
                              : QApplication::windowIcon();
    icon->setPixmap(appIcon.pixmap(32, 32));
    auto* text =
        new QLabel(QStringLiteral("To start monitoring, you need to add a document first."), this);
    text->setObjectName(QStringLiteral("text"));

    auto* add = new QPushButton(QStringLiteral("Add Document >"), this);
    add->setObjectName(QStringLiteral("addDocument"));
    add->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("cancel"));
    connect(add, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* top = new QHBoxLayout;
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addWidget(text, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(add);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(buttons);
}

int showDataView(QWidget* parent, const QString& path)
{
    DataView view(parent);
    if (!view.load(path))
        return 0;
    DialogRunner::exec(view);
    return 1;
}

void showCountView(QWidget* parent, const DocumentRecord& record)
{
    CountView view(record, parent);
    DialogRunner::exec(view);
}

int showStartupPrompt(QWidget* parent)
{
    StartupPrompt prompt(parent);
    return DialogRunner::exec(prompt) == QDialog::Accepted ? 1 : 0;
}

} // namespace sentorix::ui
