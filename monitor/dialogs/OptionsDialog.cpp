#include "monitor/dialogs/OptionsDialog.h"

#include "monitor/dialogs/DialogParts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace sentorix::ui
{

namespace
{

std::int32_t flag(const QCheckBox* box)
{
    return box->isChecked() ? 1 : 0;
}

} // namespace

std::uint32_t stepInterval(std::uint32_t shown, bool up)
{
    if (up)
        return shown < kIntervalMax ? shown + kIntervalStep : shown;
    return shown > kIntervalMin ? shown - kIntervalStep : shown;
}

OptionsDialog::OptionsDialog(const OptionsRecord& options, bool startAtLogin,
                             std::function<void(QWidget*)> showMailSettings, QWidget* parent)
    : QDialog(parent), m_showMailSettings(std::move(showMailSettings))
{
    setWindowTitle(QStringLiteral("Options"));
    setAccessibleName(QStringLiteral("Options"));

    // --- Automatic Check ---
    auto* automatic = new QGroupBox(QStringLiteral("Automatic Check"), this);
    m_startupCheck = fieldCheckBox("Start-up check", options.startupCheck, automatic);
    m_periodicCheck = fieldCheckBox("Periodic check", options.periodicCheck, automatic);
    // The interval is only shown, never typed: the arrows beside it change it. A value
    // made by hand outside 0..2^31 shows as the unsigned number it is stored as.
    m_interval = new QLabel(
        QString::number(static_cast<std::uint32_t>(options.checkIntervalMinutes)), automatic);
    m_interval->setAlignment(Qt::AlignCenter);
    m_interval->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_interval->setMinimumWidth(48);
    m_interval->setAccessibleName(QStringLiteral("Check interval in minutes"));
    m_up = new QToolButton(automatic);
    m_up->setArrowType(Qt::UpArrow);
    m_up->setAutoRepeat(true);
    m_up->setAccessibleName(QStringLiteral("Longer interval"));
    m_up->setToolTip(QStringLiteral("Check less often (5 minutes more, up to 600)"));
    m_down = new QToolButton(automatic);
    m_down->setArrowType(Qt::DownArrow);
    m_down->setAutoRepeat(true);
    m_down->setAccessibleName(QStringLiteral("Shorter interval"));
    m_down->setToolTip(QStringLiteral("Check more often (5 minutes less, down to 5)"));
    for (QToolButton* arrow : {m_up, m_down}) {
        arrow->setFixedSize(18, 12);
        arrow->setFocusPolicy(Qt::StrongFocus);
        arrow->installEventFilter(this);
    }
    auto* arrows = new QVBoxLayout;
    arrows->setSpacing(0);
    arrows->addWidget(m_up);
    arrows->addWidget(m_down);
    auto* minutes = new QLabel(QStringLiteral("Minutes"), automatic);
    minutes->setBuddy(m_up);

    auto* periodicRow = new QHBoxLayout;
    periodicRow->addWidget(m_periodicCheck);
    periodicRow->addStretch();
    periodicRow->addWidget(m_interval);
    periodicRow->addLayout(arrows);
    periodicRow->addWidget(minutes);
    auto* automaticLayout = new QVBoxLayout(automatic);
    automaticLayout->addWidget(m_startupCheck);
    automaticLayout->addLayout(periodicRow);

    // --- Notification ---
    auto* notification = new QGroupBox(QStringLiteral("Notification"), this);
    m_soundOnChange = fieldCheckBox("Play sound when changed", options.soundOnChange, notification);
    m_soundOnUnavailable = fieldCheckBox("Play sound when unable to retrieve",
                                         options.soundOnUnavailable, notification);
    m_selectOnChange = fieldCheckBox("Select when changed", options.selectOnChange, notification);
    m_selectOnUnavailable =
        fieldCheckBox("Select when unable to retrieve", options.selectOnUnavailable, notification);
    m_sendEmail = fieldCheckBox("Send email", options.sendEmail, notification);
    m_properties = new QPushButton(QStringLiteral("Properties.."), notification);
    m_properties->setAccessibleName(QStringLiteral("Email properties"));
    m_properties->setAutoDefault(false);
    auto* mailRow = new QHBoxLayout;
    mailRow->addWidget(m_sendEmail);
    mailRow->addStretch();
    mailRow->addWidget(m_properties);
    auto* notificationLayout = new QGridLayout(notification);
    notificationLayout->addWidget(m_soundOnChange, 0, 0);
    notificationLayout->addWidget(m_soundOnUnavailable, 0, 1);
    notificationLayout->addWidget(m_selectOnChange, 1, 0);
    notificationLayout->addWidget(m_selectOnUnavailable, 1, 1);
    notificationLayout->addLayout(mailRow, 2, 0, 1, 2);

    // --- Misc. ---
    auto* misc = new QGroupBox(QStringLiteral("Misc."), this);
    m_openChangedPage =
        fieldCheckBox("Open Web page automatically if it changed", options.openChangedPage, misc);
    m_markCheckedWhenOpened = fieldCheckBox("Mark as Checked if the changed document opened",
                                            options.markCheckedWhenOpened, misc);
    m_threads = new QComboBox(misc);
    for (int n = 1; n <= 5; ++n)
        m_threads->addItem(QString::number(n));
    // A stored number outside the list selects nothing; Apply then stores 1.
    m_threads->setCurrentIndex(m_threads->findText(QString::number(options.workerThreads)));
    m_threads->setAccessibleName(QStringLiteral("Threads used for retrieving/checking documents"));
    auto* threadsLabel =
        new QLabel(QStringLiteral("thread(s) use for retrieving/checking documents"), misc);
    threadsLabel->setBuddy(m_threads);
    m_startAtLogin = new QCheckBox(QStringLiteral("Start Sentorix hidden when I log in"), misc);
    m_startAtLogin->setChecked(startAtLogin);
    m_startAtLogin->setAccessibleName(m_startAtLogin->text());
    m_startAtLogin->setToolTip(
        QStringLiteral("Adds Sentorix to the programs your desktop starts at login"));
    auto* threadsRow = new QHBoxLayout;
    threadsRow->addWidget(m_threads);
    threadsRow->addWidget(threadsLabel);
    threadsRow->addStretch();
    auto* miscLayout = new QVBoxLayout(misc);
    miscLayout->addWidget(m_openChangedPage);
    miscLayout->addWidget(m_markCheckedWhenOpened);
    miscLayout->addLayout(threadsRow);
    miscLayout->addWidget(m_startAtLogin);

    // --- buttons ---
    auto* buttons = applyCancelRow(this, m_apply, m_cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(automatic);
    layout->addWidget(notification);
    layout->addWidget(misc);
    layout->addLayout(buttons);

    connect(m_up, &QToolButton::clicked, this, [this] { step(true); });
    connect(m_down, &QToolButton::clicked, this, [this] { step(false); });
    connect(m_periodicCheck, &QCheckBox::toggled, this, [this] { updateEnabling(); });
    connect(m_sendEmail, &QCheckBox::toggled, this, [this] { updateEnabling(); });
    connect(m_properties, &QPushButton::clicked, this, [this] {
        if (m_showMailSettings)
            m_showMailSettings(this);
    });
    connect(m_apply, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    updateEnabling();
}

OptionsRecord OptionsDialog::edited() const
{
    OptionsRecord options{};
    // No field is validated: the shown number and the boxes are taken as they are.
    options.checkIntervalMinutes = static_cast<std::int32_t>(m_interval->text().toUInt());
    options.periodicCheck = flag(m_periodicCheck);
    options.openChangedPage = flag(m_openChangedPage);
    options.startupCheck = flag(m_startupCheck);
    options.soundOnChange = flag(m_soundOnChange);
    options.soundOnUnavailable = flag(m_soundOnUnavailable);
    options.markCheckedWhenOpened = flag(m_markCheckedWhenOpened);
    options.sendEmail = flag(m_sendEmail);
    options.selectOnChange = flag(m_selectOnChange);
    options.selectOnUnavailable = flag(m_selectOnUnavailable);
    bool isNumber = false;
    const int threads = m_threads->currentText().toInt(&isNumber);
    options.workerThreads = m_threads->currentIndex() >= 0 && isNumber ? threads : 1;
    return options;
}

bool OptionsDialog::startAtLogin() const
{
    return m_startAtLogin->isChecked();
}

bool OptionsDialog::eventFilter(QObject* watched, QEvent* event)
{
    if ((watched == m_up || watched == m_down) && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            step(key == Qt::Key_Up);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void OptionsDialog::step(bool up)
{
    if (!m_up->isEnabled())
        return;
    m_interval->setText(QString::number(stepInterval(m_interval->text().toUInt(), up)));
}

void OptionsDialog::updateEnabling()
{
    const bool periodic = m_periodicCheck->isChecked();
    m_interval->setEnabled(periodic);
    m_up->setEnabled(periodic);
    m_down->setEnabled(periodic);
    m_properties->setEnabled(m_sendEmail->isChecked());
}

} // namespace sentorix::ui
