// The mailer program: start-up rules, the log window and the run, and the program's exit
// status (0 when the message was accepted, 1 otherwise).
#pragma once

#include <string>

namespace sentorix
{

class CRelvexApp
{
public:
    CRelvexApp();

    // Runs the program with the process's arguments; returns the exit status.
    int exec(int& argc, char** argv);

    const std::string& dataFolder() const { return m_dataFolder; }

private:
    std::string m_dataFolder;
};

} // namespace sentorix
