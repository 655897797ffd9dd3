// Starting another program without waiting for it.
//
// The program is started detached: in a session of its own, not a child of the caller (so it
// outlives it and never becomes a zombie of it), with the caller's working folder and
// environment. Arguments are passed as they are, one by one; no shell ever sees them.
#pragma once

#include <string>
#include <vector>

namespace sentorix
{

class ProgramLauncher
{
public:
    virtual ~ProgramLauncher() = default;
    // True once the program runs; false when it could not be executed (missing, not
    // executable, no process to be had).
    virtual bool launchDetached(const std::string& program,
                                const std::vector<std::string>& arguments) = 0;
};

// fork, a new session, a second fork, exec; the caller learns through a close-on-exec pipe
// whether the exec succeeded.
class PosixProgramLauncher final : public ProgramLauncher
{
public:
    bool launchDetached(const std::string& program,
                        const std::vector<std::string>& arguments) override;
};

} // namespace sentorix
