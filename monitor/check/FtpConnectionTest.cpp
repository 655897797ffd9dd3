#include "FtpConnectionTest.h"

#include "platform/TempFile.h"

#include <cstdio>
#include <unistd.h>

namespace sentorix
{

FtpTestOutcome runFtpConnectionTest(const FtpTarget& target, const Credentials& credentials,
                                    const std::string& dataFolder, const SessionSettings& settings,
                                    const FtpTestProgress& progress,
                                    const std::atomic<bool>* cancel)
{
    auto cancelled = [cancel] { return cancel && cancel->load(); };
    SessionSettings cancellable = settings;
    cancellable.stop = cancel;
    UrlSession session(cancellable);

    progress(kFtpConnecting);
    if (!session.isOpen() ||
        session.connectFtp(target, credentials).status != FetchStatus::Complete) {
        if (cancelled())
            return FtpTestOutcome::Cancelled;
        progress(kFtpConnectFailed);
        return FtpTestOutcome::ConnectFailed;
    }
    progress(kFtpConnected);

    if (!target.directory.empty()) {
        progress(kFtpChanging);
        if (session.changeFtpDirectory(target, credentials).status != FetchStatus::Complete) {
            if (cancelled())
                return FtpTestOutcome::Cancelled;
            progress(kFtpChangeFailed);
            return FtpTestOutcome::DirectoryFailed;
        }
        progress(kFtpChanged);
    }

    const std::string tempPath = createTempFile(dataFolder, "KTP");
    progress(kFtpGetting);
    bool got = false;
    if (!tempPath.empty()) {
        if (std::FILE* out = std::fopen(tempPath.c_str(), "wb")) {
            const FetchResult fetched =
                session.fetchFtp(target, credentials, [out](const char* data, std::size_t size) {
                    return std::fwrite(data, 1, size, out) == size;
                });
            got = std::fclose(out) == 0 && fetched.status == FetchStatus::Complete;
        }
        ::unlink(tempPath.c_str());
    }
    if (cancelled())
        return FtpTestOutcome::Cancelled;
    progress(got ? kFtpGot : kFtpGetFailed);
    return got ? FtpTestOutcome::Succeeded : FtpTestOutcome::GetFailed;
}

} // namespace sentorix
