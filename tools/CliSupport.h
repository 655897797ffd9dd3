// Pieces every sentorix-cli command uses: refusals on standard error, finding documents by
// name, and the list output.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace sentorix
{
class DocumentTable;
}

namespace sentorix::cli
{

inline constexpr int kExitUsage = 2;

// Writes "sentorix-cli: <message>" as one line (line breaks of dialog texts become blanks)
// to standard error; returns kExitUsage.
int refuse(const std::string& message);

// The first used slot whose name equals `name` without regard to (ASCII) letter case, or -1.
int findDocumentByName(const DocumentTable& table, const std::string& name);

// Resolves every name before anything is changed, so an unknown name changes nothing; refuses
// the first unknown name and returns false.
bool resolveDocumentNames(const DocumentTable& table, const std::vector<std::string>& names,
                          std::vector<int>& indexes);

// One line per document in slot order: name, type, status and last check ("?" when never
// checked), separated by one TAB.
void printList(const DocumentTable& table, std::ostream& out);

} // namespace sentorix::cli
