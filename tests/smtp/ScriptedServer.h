// A scripted SMTP peer on 127.0.0.1 for the protocol corners no real server produces on
// demand: replies split into pieces, replies without a code, silence, a peer that never
// reads. It accepts one connection and plays its steps in order on its own thread.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sentorix::test
{

class ScriptedServer
{
public:
    struct Step {
        enum Kind {
            Send,     // write `text`
            ReadLine, // read one command line up to CR LF and record it
            ReadData, // read up to and including CR LF . CR LF and record it
            Gate,     // wait until the test calls release()
            Pause,    // sleep `text` milliseconds, so that the next write arrives apart
            Hold,     // record every further command line until the client closes; answer
                      // only QUIT (with 221)
            Stall,    // read nothing more; wait until the client closes
            Close,    // close the connection now
        } kind;
        std::string text;
    };

    // Step helpers, so a script reads like the conversation.
    static Step send(std::string text) { return {Step::Send, std::move(text)}; }
    static Step line() { return {Step::ReadLine, {}}; }
    static Step data() { return {Step::ReadData, {}}; }
    static Step gate() { return {Step::Gate, {}}; }
    static Step pause(int ms) { return {Step::Pause, std::to_string(ms)}; }
    static Step hold() { return {Step::Hold, {}}; }
    static Step stall() { return {Step::Stall, {}}; }
    static Step close() { return {Step::Close, {}}; }
    // A command line answered by `reply`.
    static std::vector<Step> answer(std::string reply);

    // receiveBuffer > 0 makes the accepted socket's receive buffer that small.
    explicit ScriptedServer(std::vector<Step> steps, int receiveBuffer = 0);
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    // "127.0.0.1:<port>"
    std::string address() const;
    int port() const { return m_port; }

    // Blocks until the script has reached gate number `n` (1 for the first).
    void waitAtGate(int n);
    // Lets the script pass its current gate.
    void release();

    // Ends the script (waiting for its thread) and returns the recorded command lines and
    // data blocks, CR LF included.
    std::vector<std::string> finish();

private:
    void run();

    std::vector<Step> m_steps;
    int m_receiveBuffer;
    int m_listenFd = -1;
    int m_port = 0;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_gatesReached = 0;
    int m_gatesReleased = 0;
    bool m_stopping = false;
    std::vector<std::string> m_received; // written by the script thread until it is joined
};

// Joins several step lists into one script.
std::vector<ScriptedServer::Step>
script(std::initializer_list<std::vector<ScriptedServer::Step>> parts);

} // namespace sentorix::test
