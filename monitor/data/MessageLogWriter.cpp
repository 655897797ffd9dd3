#include "monitor/data/MessageLogWriter.h"

#include "common/Clock.h"
#include "common/FixedText.h"
#include "common/MailHandoff.h"
#include "common/TimeText.h"
#include "monitor/data/DocumentTable.h"
#include "monitor/data/MailSettingsStore.h"
#include "monitor/data/NotifiedList.h"

namespace sentorix
{

void appendMessageEntry(const DocumentTable& table, int index, DocumentStatus event,
                        const MailSettingsStore& mail, NotifiedList& notified,
                        const std::string& dataFolder)
{
    appendMessageEntry(table, index, event, mail, notified, dataFolder, systemClock());
}

void appendMessageEntry(const DocumentTable& table, int index, DocumentStatus event,
                        const MailSettingsStore& mail, NotifiedList& notified,
                        const std::string& dataFolder, const Clock& clock)
{
    const MailSettings settings = mail.get();
    const char* eventText = nullptr;
    if (event == DocumentStatus::Changed) {
        if (settings.sendOnChange != 1)
            return;
        eventText = "Changed";
    } else if (event == DocumentStatus::Unavailable) {
        if (settings.sendOnUnavailable != 1)
            return;
        eventText = "Unable to retrieve";
    } else {
        return;
    }
    if (!table.isUsed(index))
        return;

    const DocumentRecord record = table.get(index);
    const std::string entry = formatMessageEntry(formatTimeText(clock), eventText,
                                                 std::string(fieldText(record.displayName)),
                                                 std::string(fieldText(record.location)));
    if (!appendToMessageLog(dataFolder, entry))
        return; // the entry is lost without a message

    if (settings.markNotifiedChecked == 1)
        notified.add(index);
}

} // namespace sentorix
