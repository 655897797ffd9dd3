// Where the programs and their data live.
//
// InstallFolder: $SENTORIX_INSTALL_DIR when set, else the folder of the running executable,
// else ".". DataFolder: $XDG_DATA_HOME (else ~/.local/share) followed by /Tarnwick/Sentorix.
// The monitor creates the DataFolder (mode 0700) and falls back to its InstallFolder when it
// cannot; the mailer never creates it and falls back to its current folder.
#pragma once

#include <string>

namespace sentorix
{

std::string joinPath(const std::string& folder, const std::string& name);

std::string findInstallFolder();

// The per-user data folder path without creating it; empty when no home can be found.
std::string userDataFolderPath();

// The monitor's rule: create the per-user folder with its parents, else use installFolder.
std::string monitorDataFolder(const std::string& installFolder);

// The mailer's rule: the per-user folder, else ".".
std::string mailerDataFolder();

} // namespace sentorix
