// The mailer's start-up rules, free of any toolkit: which switches the command line holds and
// whether a display is there to show the log window on.
#pragma once

#include <string>
#include <string_view>

namespace sentorix
{

inline constexpr const char* kFromSentorixSwitch = "/from_sentorix";
inline constexpr const char* kTestSwitch = "/test";

inline constexpr const char* kNotStandAloneNotice =
    "Postavo is not a stand-alone program.\n\nSentorix program will execute this program "
    "automatically.";

struct MailerSwitches {
    bool fromSentorix = false; // required; without it only the notice is shown
    bool testRun = false;      // looked for only when fromSentorix is set
};

// The arguments after the program name joined with single blanks, the way the monitor's
// command line reads (" /test /from_sentorix" arrives as "/test /from_sentorix"). The program
// name is left out so that a folder such as ".../test/Postavo" cannot start a test run.
std::string joinCommandLine(int argc, const char* const* argv);

// The switches are looked for as substrings anywhere in the command line, case-sensitive.
MailerSwitches parseMailerSwitches(std::string_view commandLine);

// True when the environment names an X11 or Wayland display (a non-empty DISPLAY or
// WAYLAND_DISPLAY). Without one the mailer runs headless.
bool displayAvailable();

} // namespace sentorix
