// The Options dialog: automatic checking, notification, the number of worker threads, the way
// to the e-mail settings, and whether the monitor starts hidden at login.
#pragma once

#include "monitor/data/Options.h"

#include <QDialog>

#include <cstdint>
#include <functional>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QToolButton;

namespace sentorix::ui
{

inline constexpr std::uint32_t kIntervalStep = 5;
inline constexpr std::uint32_t kIntervalMax = 600;
inline constexpr std::uint32_t kIntervalMin = 5;

// The interval after one press of an arrow: up adds 5 below 600, down takes 5 above 5,
// otherwise the number stays. A number that is not a multiple of 5 keeps its remainder.
std::uint32_t stepInterval(std::uint32_t shown, bool up);

class OptionsDialog : public QDialog
{
    Q_OBJECT

public:
    // Shows `options`; `startAtLogin` is whether the monitor starts at login now.
    // `showMailSettings` runs, with this dialog as the parent to show over, when
    // "Properties.." is pressed.
    OptionsDialog(const OptionsRecord& options, bool startAtLogin,
                  std::function<void(QWidget*)> showMailSettings, QWidget* parent = nullptr);

    // The record the dialog's controls show, as Apply stores it.
    OptionsRecord edited() const;
    bool startAtLogin() const;

    // The controls, for the tests and the accessibility tools.
    QCheckBox* startupCheckBox() const { return m_startupCheck; }
    QCheckBox* periodicCheckBox() const { return m_periodicCheck; }
    QLabel* intervalDisplay() const { return m_interval; }
    QToolButton* intervalUpButton() const { return m_up; }
    QToolButton* intervalDownButton() const { return m_down; }
    QCheckBox* soundOnChangeBox() const { return m_soundOnChange; }
    QCheckBox* soundOnUnavailableBox() const { return m_soundOnUnavailable; }
    QCheckBox* selectOnChangeBox() const { return m_selectOnChange; }
    QCheckBox* selectOnUnavailableBox() const { return m_selectOnUnavailable; }
    QCheckBox* sendEmailBox() const { return m_sendEmail; }
    QPushButton* propertiesButton() const { return m_properties; }
    QCheckBox* openChangedPageBox() const { return m_openChangedPage; }
    QCheckBox* markCheckedWhenOpenedBox() const { return m_markCheckedWhenOpened; }
    QCheckBox* startAtLoginBox() const { return m_startAtLogin; }
    QComboBox* threadList() const { return m_threads; }
    QPushButton* applyButton() const { return m_apply; }
    QPushButton* cancelButton() const { return m_cancel; }

protected:
    // The Up and Down keys on either arrow step the interval as the arrows do.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void step(bool up);
    void updateEnabling();

    std::function<void(QWidget*)> m_showMailSettings;
    QCheckBox* m_startupCheck = nullptr;
    QCheckBox* m_periodicCheck = nullptr;
    QLabel* m_interval = nullptr;
    QToolButton* m_up = nullptr;
    QToolButton* m_down = nullptr;
    QCheckBox* m_soundOnChange = nullptr;
    QCheckBox* m_soundOnUnavailable = nullptr;
    QCheckBox* m_selectOnChange = nullptr;
    QCheckBox* m_selectOnUnavailable = nullptr;
    QCheckBox* m_sendEmail = nullptr;
    QPushButton* m_properties = nullptr;
    QCheckBox* m_openChangedPage = nullptr;
    QCheckBox* m_markCheckedWhenOpened = nullptr;
    QCheckBox* m_startAtLogin = nullptr;
    QComboBox* m_threads = nullptr;
    QPushButton* m_apply = nullptr;
    QPushButton* m_cancel = nullptr;
};

} // namespace sentorix::ui
