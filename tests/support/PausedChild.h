// A forked child process that does one piece of work, hands its result to the parent and then
// stays alive until it is signalled: a stand-in for another program caught in the middle of
// what it does (and, once killed, for one that died there).
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>

namespace sentorix::test
{

// Runs `work` in a forked child and waits until the child has written its result into
// `result`; the child then pauses until a signal ends it. Returns the child's id, -1 when no
// child could be started. Fork only while the calling process runs a single thread.
pid_t forkPausedChild(const std::function<std::string()>& work, std::string& result);

} // namespace sentorix::test
