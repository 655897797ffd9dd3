// The check command of sentorix-cli.
#pragma once

#include <string>
#include <vector>

namespace sentorix::cli
{

// Exit statuses of an interrupted check: 128 + the signal's number.
inline constexpr int kExitInterrupted = 130; // SIGINT
inline constexpr int kExitTerminated = 143;  // SIGTERM

// Loads the list, checks the named documents (all but the Changed ones when `names` is
// empty), waits for the workers, hands notifications to the mailer when e-mail is on, saves as
// the monitor does at exit and prints the list; the reason of every document that ends
// Unavailable goes to standard error as "sentorix-cli: <name>: <reason>". Returns the exit status:
// 0, 1 (a document changed), 3 (a document could not be retrieved; wins over 1) or 2 (an unknown
// name).
//
// SIGINT or SIGTERM during the check stops the transfers; the records are saved, the
// temporary files removed and kExitInterrupted or kExitTerminated returned.
int runCheck(const std::vector<std::string>& names, const std::string& dataFolder,
             const std::string& installFolder);

} // namespace sentorix::cli
