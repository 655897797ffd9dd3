// The monitor's side of the MessageLog: one entry per notified event.
#pragma once

#include "DocumentRecord.h"

#include <string>

namespace sentorix
{

class Clock;
class DocumentTable;
class MailSettingsStore;
class NotifiedList;

// Appends the entry for document `index` and `event` (Changed or Unavailable) when the mail
// settings in force ask for that event, and, with markNotifiedChecked, records the index in
// the NotifiedList. The entry's time is read from `clock`. A MessageLog that cannot be
// written loses the entry silently.
void appendMessageEntry(const DocumentTable& table, int index, DocumentStatus event,
                        const MailSettingsStore& mail, NotifiedList& notified,
                        const std::string& dataFolder, const Clock& clock);
// The same with the system clock.
void appendMessageEntry(const DocumentTable& table, int index, DocumentStatus event,
                        const MailSettingsStore& mail, NotifiedList& notified,
                        const std::string& dataFolder);

} // namespace sentorix
