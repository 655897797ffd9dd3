// Timing of the comparison methods on large files, with `cmp -s` on the same files in the
// same run as the yardstick for the whole-file comparisons.
//
//   bench_compare [folder] [file MiB] [page MiB]
//
// The files are made in a fresh folder under `folder` (default $TMPDIR or /tmp) and removed
// at the end. Each timing is the best of three runs, with the files in the page cache.
#include "common/TextFile.h"
#include "monitor/check/Compare.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

extern char** environ;

using namespace sentorix;

namespace
{

using Clock = std::chrono::steady_clock;

std::string g_folder; // removed also when a run fails

double bestOf3(const std::function<bool()>& run)
{
    double best = 1e30;
    for (int i = 0; i < 3; ++i) {
        auto t0 = Clock::now();
        if (!run()) {
            std::fprintf(stderr, "run failed\n");
            std::error_code ec;
            std::filesystem::remove_all(g_folder, ec);
            std::exit(1);
        }
        best = std::min(best, std::chrono::duration<double>(Clock::now() - t0).count());
    }
    return best;
}

bool writeBigFile(const std::string& path, std::size_t mib)
{
    OutputFile out;
    if (!out.open(path, FileMode::Binary))
        return false;
    std::vector<char> block(1024 * 1024);
    unsigned seed = 12345;
    for (std::size_t m = 0; m < mib; ++m) {
        for (auto& c : block) {
            seed = seed * 1103515245u + 12345u;
            c = static_cast<char>(seed >> 16);
        }
        if (!out.write(block.data(), block.size()))
            return false;
    }
    return out.close();
}

// An HTML-like page with CR LF line ends and some UTF-8 text, as received.
std::string makePage(std::size_t mib)
{
    std::string page = "<html><body><div id=\"start\">\r\n";
    const std::string line =
        "<div class=\"item\"><a href=\"/p/123\">Caf\xC3\xA9 cr\xC3\xA8me \xE2\x82\xAC 4,20</a>"
        " <span>sale</span> lorem ipsum dolor sit amet</div>\r\n";
    while (page.size() + line.size() < mib * 1024 * 1024 - 64)
        page += line;
    page += "</div><!--end--></body></html>\r\n";
    return page;
}

int runCmp(const std::string& a, const std::string& b)
{
    std::vector<std::string> args{"cmp", "-s", a, b};
    std::vector<char*> argv;
    for (auto& s : args)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    pid_t pid;
    if (posix_spawnp(&pid, "cmp", nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The body read from `body` in 8192-byte pieces and compared with `content`; with `changeAt`
// inside the body, the byte there is flipped as it goes by, so the comparison finds a change
// there and stores the whole body in a TempFile in `folder` (deleted again at the end).
bool streamCompare(const std::string& body, const std::string& content, const std::string& folder,
                   std::size_t changeAt)
{
    InputFile in, stored;
    if (!in.open(body, FileMode::Binary) || !stored.open(content, FileMode::Binary))
        return false;
    StreamComparison comparison(folder, FileMode::Binary, &stored);
    std::vector<char> piece(8192);
    std::size_t at = 0;
    for (long n; (n = in.read(piece.data(), piece.size())) > 0;) {
        const auto size = static_cast<std::size_t>(n);
        if (changeAt >= at && changeAt < at + size)
            piece[changeAt - at] ^= 1;
        if (!comparison.feed(piece.data(), size))
            return false;
        at += size;
    }
    const bool changed = changeAt < at;
    return comparison.finish() && comparison.different() == changed &&
           (comparison.tempPath().empty() != changed);
}

} // namespace

int main(int argc, char** argv)
{
    const char* tmp = std::getenv("TMPDIR");
    std::string base = argc > 1 ? argv[1] : (tmp && *tmp ? tmp : "/tmp");
    std::size_t fileMib = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 1024;
    std::size_t pageMib = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 100;

    std::string templ = base + "/bench-compare-XXXXXX";
    if (!mkdtemp(templ.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string dir = templ;
    g_folder = dir;
    const std::string a = dir + "/a.bin", b = dir + "/b.bin";
    int rc = 0;

    bool madeFiles = false;
    if (fileMib > 0) {
        std::printf("files: 2 x %zu MiB in %s\n", fileMib, dir.c_str());
        madeFiles = writeBigFile(a, fileMib) && copyFileReplacing(a, b);
        if (!madeFiles) {
            std::fprintf(stderr, "cannot make the files\n");
            rc = 1;
        }
    }
    if (madeFiles) {
        const double mib = static_cast<double>(fileMib);
        runCmp(a, b); // bring both into the page cache
        double tCmp = bestOf3([&] { return runCmp(a, b) == 0; });
        double tBlocks = bestOf3([&] {
            InputFile x, y;
            return x.open(a, FileMode::Binary) && y.open(b, FileMode::Binary) &&
                   compareFileBlocks(x, y) == Sameness::Same;
        });
        const std::size_t bytes = fileMib * 1024 * 1024;
        double tStreamSame = bestOf3([&] { return streamCompare(a, b, dir, SIZE_MAX); });
        double tStreamFirst = bestOf3([&] { return streamCompare(a, b, dir, 0); });
        double tStreamHalf = bestOf3([&] { return streamCompare(a, b, dir, bytes / 2); });
        double tCmpAgain = bestOf3([&] { return runCmp(a, b) == 0; });
        tCmp = std::min(tCmp, tCmpAgain);

        std::printf("%-44s %8.3f s %8.0f MiB/s\n", "cmp -s", tCmp, mib / tCmp);
        std::printf("%-44s %8.3f s %8.0f MiB/s  ratio %.2f\n", "compareFileBlocks", tBlocks,
                    mib / tBlocks, tBlocks / tCmp);
        std::printf("%-44s %8.3f s %8.0f MiB/s  ratio %.2f\n", "StreamComparison, unchanged",
                    tStreamSame, mib / tStreamSame, tStreamSame / tCmp);
        std::printf("%-44s %8.3f s %8.0f MiB/s  ratio %.2f\n",
                    "StreamComparison, changed at the first byte", tStreamFirst, mib / tStreamFirst,
                    tStreamFirst / tCmp);
        std::printf("%-44s %8.3f s %8.0f MiB/s  ratio %.2f\n", "StreamComparison, changed half-way",
                    tStreamHalf, mib / tStreamHalf, tStreamHalf / tCmp);
    }
    removeFile(a);
    removeFile(b);

    // The count and middle methods on one large page stored in text mode.
    const std::string page = dir + "/page.content";
    const std::string middle = dir + "/page.middle";
    {
        std::string text = makePage(pageMib);
        OutputFile out;
        if (!out.open(page, FileMode::Text) || !out.write(text) || !out.close()) {
            std::fprintf(stderr, "cannot make the page\n");
            rc = 1;
        }
        struct stat st {
        };
        ::stat(page.c_str(), &st);
        const double mib = static_cast<double>(text.size()) / (1024.0 * 1024.0);
        std::printf("page: %.1f MiB as received, %.1f MiB stored\n", mib,
                    static_cast<double>(st.st_size) / (1024.0 * 1024.0));

        int64_t count = 0;
        double tLoad = bestOf3([&] { return loadTextFile(page).has_value(); });
        double tCount = bestOf3([&] { return (count = countOccurrences(page, "sale")) > 0; });
        int64_t countUtf8 = 0;
        double tCountUtf8 =
            bestOf3([&] { return (countUtf8 = countOccurrences(page, "\xE2\x82\xAC 4")) > 0; });
        double tExtract = bestOf3(
            [&] { return extractMiddle(page, "<div id=\"start\">", "<!--end-->", middle) == 1; });
        double tMiddle = bestOf3(
            [&] { return compareMiddle(page, "<div id=\"start\">", "<!--end-->", middle) == 0; });
        std::printf("%-44s %8.3f s %8.0f MiB/s\n", "loadTextFile", tLoad, mib / tLoad);
        std::printf("%-44s %8.3f s %8.0f MiB/s  (%lld found)\n", "countOccurrences \"sale\"",
                    tCount, mib / tCount, static_cast<long long>(count));
        std::printf("%-44s %8.3f s %8.0f MiB/s  (%lld found)\n", "countOccurrences UTF-8 needle",
                    tCountUtf8, mib / tCountUtf8, static_cast<long long>(countUtf8));
        std::printf("%-44s %8.3f s %8.0f MiB/s\n", "extractMiddle (whole page is the middle)",
                    tExtract, mib / tExtract);
        std::printf("%-44s %8.3f s %8.0f MiB/s\n", "compareMiddle, unchanged", tMiddle,
                    mib / tMiddle);
    }
    removeFile(page);
    removeFile(middle);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return rc;
}
