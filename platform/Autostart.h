// Starting the monitor when the user logs in: an XDG autostart entry
// ($XDG_CONFIG_HOME/autostart/Sentorix.desktop, else ~/.config/autostart/...) that starts the
// installed program hidden in the tray. Whether the monitor starts at login is the presence
// of that entry and nothing else, so a user who deletes it with a file manager has turned the
// start off.
#pragma once

#include <string>

namespace sentorix
{

inline constexpr const char* kAutostartEntryName = "Sentorix.desktop";
inline constexpr const char* kHideSwitch = "/hide";

// The user's autostart folder: $XDG_CONFIG_HOME/autostart when that is an absolute path, else
// $HOME/.config/autostart; empty when neither can be had.
std::string userAutostartFolder();

// The text of an entry that starts `program` (an absolute path) with "/hide". The path is
// quoted and escaped as the desktop entry format wants it, so spaces, quotes, backslashes,
// dollars and percent signs in it reach the program unchanged. Empty when the path is not
// absolute or holds a control character, which no entry can carry.
std::string autostartEntryText(const std::string& program);

class AutostartEntry
{
public:
    // The entry in `folder` (created with its parents when the entry is written).
    explicit AutostartEntry(std::string folder);
    // The entry in the user's autostart folder.
    static AutostartEntry forUser();

    // The entry's path; empty when there is no folder for it.
    std::string path() const;
    bool exists() const;
    // Writes the entry for `program` whole (through a temporary file and a rename); false
    // when it cannot be written or the path cannot be carried by an entry.
    bool install(const std::string& program) const;
    // Removes the entry; true when it is gone afterwards (also when it was never there).
    bool remove() const;

private:
    std::string m_folder;
};

} // namespace sentorix
