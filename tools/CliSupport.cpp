#include "CliSupport.h"

#include "monitor/data/DocumentTable.h"

#include <strings.h>

#include <cstring>
#include <iostream>

namespace sentorix::cli
{

int refuse(const std::string& message)
{
    // A blank line of a dialog text becomes one blank, as does each other line break.
    std::string oneLine;
    oneLine.reserve(message.size());
    for (std::size_t i = 0; i < message.size(); ++i) {
        if (message[i] != '\n') {
            oneLine += message[i];
            continue;
        }
        oneLine += ' ';
        if (i + 1 < message.size() && message[i + 1] == '\n')
            ++i;
    }
    std::cerr << "sentorix-cli: " << oneLine << "\n";
    return kExitUsage;
}

int findDocumentByName(const DocumentTable& table, const std::string& name)
{
    for (int i = 0; i < table.capacity(); ++i) {
        if (!table.isUsed(i))
            continue;
        std::string own = table.displayName(i);
        if (own.size() == name.size() && strncasecmp(own.data(), name.data(), own.size()) == 0)
            return i;
    }
    return -1;
}

bool resolveDocumentNames(const DocumentTable& table, const std::vector<std::string>& names,
                          std::vector<int>& indexes)
{
    for (const std::string& name : names) {
        int index = findDocumentByName(table, name);
        if (index < 0) {
            refuse("no document named '" + name + "'");
            return false;
        }
        indexes.push_back(index);
    }
    return true;
}

void printList(const DocumentTable& table, std::ostream& out)
{
    for (int i = 0; i < table.capacity(); ++i) {
        if (!table.isUsed(i))
            continue;
        DocumentRecord rec = table.get(i);
        std::string lastCheck(rec.lastCheck, strnlen(rec.lastCheck, sizeof rec.lastCheck));
        out << table.displayName(i) << '\t' << kindText(rec.kind) << '\t' << statusText(rec.status)
            << '\t' << (lastCheck.empty() ? "?" : lastCheck) << '\n';
    }
}

} // namespace sentorix::cli
