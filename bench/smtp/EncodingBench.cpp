// Throughput of encodePartBody in base64 against coreutils' "base64 -w 76" on the same 64 MiB
// of random bytes, and of quoted-printable and line wrapping over 64 MiB of text.
// Each figure is the best of three runs.
#include "mailer/smtp/TransferEncoding.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <random>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace sentorix;

extern char** environ;

namespace
{

constexpr std::size_t kSize = 64u << 20;
constexpr int kRuns = 3;

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point from)
{
    return std::chrono::duration<double>(Clock::now() - from).count();
}

double mbPerSecond(double secs)
{
    return static_cast<double>(kSize) / 1e6 / secs;
}

// The best of kRuns calls; `first` gets the first call's time, which also pays for the
// output's fresh memory.
template <typename Fn> double bestOf(Fn&& fn, double* first = nullptr)
{
    double best = 1e30;
    for (int i = 0; i < kRuns; ++i) {
        const auto start = Clock::now();
        fn();
        const double took = seconds(start);
        if (i == 0 && first != nullptr)
            *first = took;
        best = std::min(best, took);
    }
    return best;
}

// Runs "base64 -w 76 <path>" with its output thrown away; false when it cannot be run.
bool runCoreutilsBase64(const std::string& path)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const char* argv[] = {"base64", "-w", "76", path.c_str(), nullptr};
    pid_t pid = 0;
    const int rc =
        posix_spawnp(&pid, "base64", &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return false;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

int main()
{
    std::mt19937_64 random(12345);
    std::vector<unsigned char> bytes(kSize);
    for (std::size_t i = 0; i < kSize; i += 8) {
        const uint64_t v = random();
        for (int k = 0; k < 8; ++k)
            bytes[i + static_cast<std::size_t>(k)] = static_cast<unsigned char>(v >> (8 * k));
    }

    char pathTemplate[] = "/tmp/bench_smtp_XXXXXX";
    const int fd = mkstemp(pathTemplate);
    if (fd < 0 || write(fd, bytes.data(), kSize) != static_cast<ssize_t>(kSize)) {
        std::fprintf(stderr, "cannot write the sample file\n");
        return 1;
    }
    close(fd);
    const std::string path = pathTemplate;

    std::string text;
    std::string name;
    double oursFirst = 0;
    const double ours =
        bestOf([&] { encodePartBody(4, text, name, bytes.data(), kSize); }, &oursFirst);
    const std::size_t ourOutput = text.size();
    bool coreutilsOk = true;
    const double theirs = bestOf([&] { coreutilsOk = coreutilsOk && runCoreutilsBase64(path); });
    unlink(path.c_str());

    std::printf("base64, 64 MiB random bytes (%zu bytes out)\n", ourOutput);
    std::printf("  encodePartBody      %8.1f ms  %8.1f MB/s\n", ours * 1e3, mbPerSecond(ours));
    std::printf("  (first call, output into fresh memory: %.1f ms)\n", oursFirst * 1e3);
    if (coreutilsOk) {
        std::printf("  base64 -w 76        %8.1f ms  %8.1f MB/s\n", theirs * 1e3,
                    mbPerSecond(theirs));
        std::printf("  ratio ours/coreutils %.2f\n", ours / theirs);
    } else {
        std::printf("  base64 -w 76        not available\n");
    }

    // Text: words of 1 to 12 letters, a few Latin-1 letters and '=' signs, lines of 20 to 120
    // characters ended by CR LF, some starting with a period.
    std::string sample;
    sample.reserve(kSize + 256);
    std::size_t lineLength = 0;
    std::size_t target = 60;
    while (sample.size() < kSize) {
        const uint64_t r = random();
        const std::size_t word = 1 + r % 12;
        for (std::size_t k = 0; k < word; ++k) {
            const unsigned pick = static_cast<unsigned>((r >> (8 + k * 4)) & 0xFF);
            sample.push_back(pick < 4   ? '\xE9'
                             : pick < 6 ? '='
                                        : static_cast<char>('a' + pick % 26));
        }
        lineLength += word;
        if (lineLength >= target) {
            sample.append("\r\n");
            if ((r >> 60) == 0)
                sample.push_back('.');
            lineLength = 0;
            target = 20 + (r >> 32) % 101;
        } else {
            sample.push_back(' ');
            ++lineLength;
        }
    }
    sample.resize(kSize);

    std::string out;
    const double qp = bestOf([&] { encodeQuotedPrintable(out, sample); });
    std::printf("quoted-printable, 64 MiB text   %8.1f ms  %8.1f MB/s\n", qp * 1e3,
                mbPerSecond(qp));
    const double wrap = bestOf([&] { wrapLines(out, sample, kEncodedLineWidth); });
    std::printf("wrapLines, 64 MiB text          %8.1f ms  %8.1f MB/s\n", wrap * 1e3,
                mbPerSecond(wrap));
    return 0;
}
