// The connection test of the properties dialog for an FTP document: log in, change to the
// directory, download the file once into a TempFile and delete it again, telling each step as
// it begins and ends. Runs on whatever thread calls it and blocks that thread; the dialog runs
// it on a thread of its own.
#pragma once

#include "platform/UrlSession.h"

#include <atomic>
#include <functional>
#include <string>

namespace sentorix
{

enum class FtpTestOutcome {
    ConnectFailed,
    DirectoryFailed,
    GetFailed,
    Succeeded,
    Cancelled, // the cancel flag was set; the texts stop where the test was
};

// Receives the whole text for the information area after each step, in order.
using FtpTestProgress = std::function<void(const std::string& text)>;

// The texts shown while the test runs.
inline constexpr const char* kFtpConnecting = "Connecting to the server...";
inline constexpr const char* kFtpConnectFailed = "Connecting to the server...FAILED";
inline constexpr const char* kFtpConnected = "Connecting to the server...SUCCESS";
inline constexpr const char* kFtpChanging = "Connecting to the server...SUCCESS\n"
                                            "Changing directory...";
inline constexpr const char* kFtpChangeFailed = "Connecting to the server...SUCCESS\n"
                                                "Changing directory...FAILED";
inline constexpr const char* kFtpChanged = "Connecting to the server...SUCCESS\n"
                                           "Changing directory...SUCCESS";
inline constexpr const char* kFtpGetting = "Connecting to the server...SUCCESS\n"
                                           "Changing directory...SUCCESS\n"
                                           "Getting file...";
inline constexpr const char* kFtpGot = "Connecting to the server...SUCCESS\n"
                                       "Changing directory...SUCCESS\n"
                                       "Getting file...SUCCESS";
inline constexpr const char* kFtpGetFailed = "Connecting to the server...SUCCESS\n"
                                             "Changing directory...SUCCESS\n"
                                             "Getting file...FAILED";

// Runs the test for a target split from the document's location. The TempFile is made in
// `dataFolder` and deleted at the end whatever happened; the connection is closed when this
// returns. When `cancel` becomes true the running step ends within about a second.
FtpTestOutcome runFtpConnectionTest(const FtpTarget& target, const Credentials& credentials,
                                    const std::string& dataFolder, const SessionSettings& settings,
                                    const FtpTestProgress& progress,
                                    const std::atomic<bool>* cancel);

} // namespace sentorix
