#include "mailer/MailerStart.h"

#include <cstdlib>

namespace sentorix
{

std::string joinCommandLine(int argc, const char* const* argv)
{
    std::string line;
    for (int i = 1; i < argc; ++i) {
        if (argv[i] == nullptr)
            break;
        if (i > 1)
            line += ' ';
        line += argv[i];
    }
    return line;
}

MailerSwitches parseMailerSwitches(std::string_view commandLine)
{
    MailerSwitches switches;
    switches.fromSentorix = commandLine.find(kFromSentorixSwitch) != std::string_view::npos;
    if (switches.fromSentorix)
        switches.testRun = commandLine.find(kTestSwitch) != std::string_view::npos;
    return switches;
}

namespace
{

bool variableSet(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0';
}

} // namespace

bool displayAvailable()
{
    return variableSet("DISPLAY") || variableSet("WAYLAND_DISPLAY");
}

} // namespace sentorix
