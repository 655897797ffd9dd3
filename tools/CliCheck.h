// The list output and the check command of sentorix-cli.
#pragma once

#include <string>
#include <vector>

namespace sentorix
{
class DocumentTable;
}

namespace sentorix::cli
{

// Checks the named documents (all but the Changed ones when `names` is empty), waits for the
// workers, hands notifications to the mailer when e-mail is on, saves as the monitor does at
// exit and prints the list; the reason of every document that ends Unavailable goes to
// standard error as "sentorix-cli: <name>: <reason>". Returns the exit status: 0, 1 (a document
// changed), 3 (a document could not be retrieved; wins over 1) or 2 (an unknown name).
int runCheck(const std::vector<std::string>& names, DocumentTable& table,
             const std::string& dataFolder, const std::string& installFolder);

} // namespace sentorix::cli
