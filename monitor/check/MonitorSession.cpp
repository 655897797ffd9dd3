#include "monitor/check/MonitorSession.h"

#include "monitor/data/Leftovers.h"

namespace sentorix
{

MonitorSession::MonitorSession(std::string dataFolder, std::string installFolder,
                               const SessionServices& services, int capacity)
    : m_dataFolder(std::move(dataFolder)), m_installFolder(std::move(installFolder)),
      m_table(capacity), m_notified(capacity), m_list(m_table),
      m_commands(m_table, m_list, services.view, m_options, m_dataFolder)
{
    m_engine = std::make_unique<CheckEngine>(CheckEngineParts{
        m_dataFolder, m_installFolder, m_table, m_options, m_mail, m_notified, services.view,
        m_list, services.timers, services.sound, services.launcher, services.clock});
}

MonitorSession::~MonitorSession()
{
    m_engine.reset();
}

int MonitorSession::loadRecords(const std::function<void(int)>& onLoaded)
{
    // Called under the DataFolder's instance lock, so no other front end writes there: what a
    // crashed run left half-written is removed before anything is read.
    removeInterruptedWrites(m_dataFolder);
    return loadAllRecords(m_table, m_dataFolder, &m_list, onLoaded);
}

void MonitorSession::loadSettings()
{
    loadOptions(m_options, m_dataFolder);
    loadMailSettings(m_mail, m_dataFolder);
}

} // namespace sentorix
