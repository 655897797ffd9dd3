// The monitor's start-up: one running monitor per user and DataFolder, the start-hidden
// switch, the folders, the session with the main window and its list, the first update and
// the exit sequence.
//
// Other parts of the window hang their commands on the frame's router from initInstance
// (see Commands.h): app.mainFrame()->commands().setHandler(ui::kCmdX, ...), and reach the
// running monitor through app.session() (table, options, list, commands, engine).
#pragma once

#include "platform/Autostart.h" // kHideSwitch, which the login entry passes too

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <string>

namespace sentorix
{

class CMainFrame;
class CSentorixView;
class DocumentListModel;
class InstanceLock;
class MonitorSession;
class ProgramLauncher;
class QtMonitorView;
class SoundPlayer;
struct OpenTarget;
namespace ui
{
class BlinkCycle;
class QtTimerHost;
class SettingsCommands;
class SingleInstance;
} // namespace ui

inline constexpr const char* kAlreadyRunningText =
    "Sentorix is already running on this data folder.";

// True when "/hide" occurs anywhere in the command line (case-sensitive, as a substring).
bool startsHidden(const QStringList& arguments);

// Hands an Open target to the desktop: a web address to the browser (without its login), a
// viewing copy to the program registered for its type. Never through a command line. The
// desktop for DocumentCommands::openDocument and openSelected.
void openOnDesktop(const OpenTarget& target);

class CSentorixApp final : public QObject
{
    Q_OBJECT
public:
    struct Settings {
        QString instanceName;   // the single-instance socket; empty: per user and DataFolder
        std::string dataFolder; // empty: found by the DataFolder rule
        std::string installFolder;
        bool silent = false; // no sounds (tests)
    };

    CSentorixApp();
    explicit CSentorixApp(Settings settings);
    ~CSentorixApp() override;

    enum class Start { Running, AnotherInstance, Failed };
    // Instance initialisation; Running when the window is up and the event loop may run.
    Start initInstance(const QStringList& arguments);

    // The exit sequence: tray icon removed, running transfers asked to end (the documents
    // they held go back to Waiting), temporary files deleted, every record saved, then the
    // event loop is asked to end with 0. The UI thread waits for no transfer.
    void exitSequence();

    CMainFrame* mainFrame() const { return m_frame.get(); }
    // The running monitor's session; null before initInstance reached the first update.
    MonitorSession* session() const { return m_session.get(); }
    CSentorixView* listView() const { return m_listView; }
    DocumentListModel* listModel() const { return m_model; }
    QtMonitorView* view() const { return m_view.get(); }
    ui::QtTimerHost* timers() const { return m_timers.get(); }
    ui::BlinkCycle* blink() const { return m_blink.get(); }
    const std::string& dataFolder() const { return m_dataFolder; }
    bool trayMode() const;

private:
    void registerWindowCommands();
    void firstUpdate();
    void showSelectionStatus();

    Settings m_settings;
    std::string m_installFolder;
    std::string m_dataFolder;
    std::unique_ptr<InstanceLock> m_lock;
    ui::SingleInstance* m_instance = nullptr;
    // Declared before the session, which reports to them until it is gone.
    std::unique_ptr<QtMonitorView> m_view;
    std::unique_ptr<ui::QtTimerHost> m_timers;
    std::unique_ptr<SoundPlayer> m_sound;
    std::unique_ptr<ProgramLauncher> m_launcher;
    std::unique_ptr<MonitorSession> m_session;
    std::unique_ptr<ui::SettingsCommands> m_settingsCommands;
    std::unique_ptr<CMainFrame> m_frame;
    std::unique_ptr<ui::BlinkCycle> m_blink;
    DocumentListModel* m_model = nullptr;
    CSentorixView* m_listView = nullptr;
    bool m_exiting = false;
};

// The whole program: instance initialisation and the event loop.
int runSentorix(int argc, char** argv);

} // namespace sentorix
