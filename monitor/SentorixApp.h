// The monitor's start-up: one running monitor per user, the start-hidden switch, the
// folders, the main window with its list, the first update and the exit sequence.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <string>

namespace sentorix
{

class CMainFrame;
class DocumentTable;
class InstanceLock;
namespace ui
{
class SingleInstance;
}

inline constexpr const char* kHideSwitch = "/hide";
inline constexpr const char* kAlreadyRunningText =
    "Sentorix is already running on this data folder.";

// True when "/hide" occurs anywhere in the command line (case-sensitive, as a substring).
bool startsHidden(const QStringList& arguments);

class CSentorixApp final : public QObject
{
    Q_OBJECT
public:
    struct Settings {
        QString instanceName;   // the single-instance socket; empty: per user and DataFolder
        std::string dataFolder; // empty: found by the DataFolder rule
        std::string installFolder;
    };

    explicit CSentorixApp(Settings settings = {});
    ~CSentorixApp() override;

    enum class Start { Running, AnotherInstance, Failed };
    // Instance initialisation; Running when the window is up and the event loop may run.
    Start initInstance(const QStringList& arguments);

    // The exit sequence: tray icon removed, temporary files deleted, every record saved,
    // then the event loop is asked to end with 0. Workers are not waited for.
    void exitSequence();

    CMainFrame* mainFrame() const { return m_frame.get(); }
    const std::string& dataFolder() const { return m_dataFolder; }
    bool trayMode() const;

private:
    void firstUpdate();

    Settings m_settings;
    std::string m_installFolder;
    std::string m_dataFolder;
    std::unique_ptr<InstanceLock> m_lock;
    std::unique_ptr<DocumentTable> m_table;
    ui::SingleInstance* m_instance = nullptr;
    std::unique_ptr<CMainFrame> m_frame;
};

// The whole program: instance initialisation and the event loop.
int runSentorix(int argc, char** argv);

} // namespace sentorix
