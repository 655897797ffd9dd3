// Timing of the comparison of two versions of a large page, with `diff -u` on the same files
// in the same run as the yardstick.
//
//   bench_diff [folder] [KiB] [changed lines]
#include "common/TextFile.h"
#include "monitor/check/TextDiff.h"

#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

extern char** environ;

using namespace sentorix;

namespace
{

using Clock = std::chrono::steady_clock;

double seconds(const std::function<void()>& run)
{
    const auto t0 = Clock::now();
    run();
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

std::string randomLine(std::mt19937& random)
{
    static const char* words[] = {"alpha", "beta", "gamma", "delta", "<td>", "</td>",
                                  "price", "42",   "news",  "item",  "=",    "class"};
    std::string line;
    const std::size_t length = 40 + random() % 41;
    while (line.size() < length) {
        line += words[random() % 12];
        line += ' ';
    }
    return line;
}

bool runDiffTool(const std::string& a, const std::string& b)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", 0x1 /* O_WRONLY */, 0);
    std::vector<std::string> args{"diff", "-u", a, b};
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, "diff", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return false;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) <= 1;
}

} // namespace

int main(int argc, char** argv)
{
    const char* tmp = std::getenv("TMPDIR");
    const std::string base = argc > 1 ? argv[1] : (tmp && *tmp ? tmp : "/tmp");
    const std::size_t kib = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 1024;
    const int changes = argc > 3 ? std::atoi(argv[3]) : 300;

    std::mt19937 random(16);
    std::vector<std::string> lines;
    std::size_t size = 0;
    while (size < kib * 1024) {
        lines.push_back(randomLine(random));
        size += lines.back().size() + 1;
    }
    std::vector<std::string> edited = lines;
    for (int i = 0; i < changes; ++i) {
        const std::size_t at = random() % edited.size();
        switch (i % 3) {
        case 0:
            edited[at] += "changed";
            break;
        case 1:
            edited.insert(edited.begin() + static_cast<long>(at), randomLine(random));
            break;
        default:
            edited.erase(edited.begin() + static_cast<long>(at));
        }
    }
    std::string before;
    std::string after;
    for (const auto& line : lines)
        before += line + "\n";
    for (const auto& line : edited)
        after += line + "\n";

    std::error_code error;
    const std::filesystem::path folder =
        std::filesystem::path(base) / ("bench_diff." + std::to_string(::getpid()));
    std::filesystem::create_directories(folder, error);
    const std::string a = (folder / "a.txt").string();
    const std::string b = (folder / "b.txt").string();
    if (error || !writeFileReplacing(a, before.data(), before.size()) ||
        !writeFileReplacing(b, after.data(), after.size())) {
        std::fprintf(stderr, "bench_diff: cannot write the versions under %s\n", base.c_str());
        return 2;
    }

    std::vector<double> ours;
    std::vector<double> tool;
    std::size_t hunks = 0;
    std::size_t output = 0;
    bool toolRan = true;
    for (int run = 0; run < 7; ++run) {
        ours.push_back(seconds([&] {
            const TextDiff diff = diffTexts(before, after, LineEnds::Lf);
            hunks = diff.hunks.size();
            output = formatUnifiedHunks(diff).size();
        }));
        tool.push_back(seconds([&] { toolRan = runDiffTool(a, b) && toolRan; }));
    }
    std::printf("versions %zu and %zu bytes, %zu and %zu lines, %d changed lines\n", before.size(),
                after.size(), lines.size(), edited.size(), changes);
    std::printf("diffTexts + unified output: %.1f ms median (%zu hunks, %zu bytes out)\n",
                median(ours) * 1e3, hunks, output);
    if (toolRan)
        std::printf("diff -u (process start included): %.1f ms median; ratio %.2f\n",
                    median(tool) * 1e3, median(ours) / median(tool));

    // Versions without a common line: the bound gives up instead of finishing slowly.
    std::string other;
    for (const auto& line : lines)
        other += "x" + line + "\n";
    DiffOutcome outcome = DiffOutcome::Same;
    const double bounded =
        seconds([&] { outcome = diffTexts(before, other, LineEnds::Lf).outcome; });
    std::printf("versions different everywhere: %.1f ms, %s\n", bounded * 1e3,
                outcome == DiffOutcome::TooLarge ? "too large" : "compared");

    std::filesystem::remove_all(folder, error);
    return 0;
}
