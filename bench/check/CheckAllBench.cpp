// Check All over many web pages on a local nginx, against the plain fetch of the same URLs by
// curl with the same concurrency, over HTTP and over HTTPS, for one or more numbers of pages.
//
//   bench_check [pages=1000,5000] [kib=64] [workers=5] [rounds=5] [schemes=http,https]
//               [spaced=0]
//
// Makes as many pages of `kib` KiB as the largest count in a temporary folder and serves them
// with nginx on loopback ports: plain HTTP, and HTTPS (HTTP/2 offered) with a certificate of a
// test authority made here with openssl. For each count and scheme it writes one record per
// page into a DataFolder of its own, runs `sentorix-cli check` once (every page fetched and
// stored), then alternates `rounds` times: `sentorix-cli check` (every page fetched and
// compared, nothing changed) and `curl --parallel --parallel-max <workers>` fetching the same
// URLs to /dev/null. Both are separate processes, timed from start to exit; their peak
// resident memory is the child's own (wait4). Prints every run, the medians and the ratio of
// the medians, and for several counts how the times grow with the number of pages.
//
// A record keeps the time of its last check to the second, so back-to-back rounds mostly end
// in the second of the previous one: their save finds the records as they are on the disk and
// writes nothing. With spaced=1 each `sentorix-cli check` starts in a second of its own, as a
// second pass by hand would, and so updates (and flushes) every record file.

#include "common/FixedText.h"
#include "monitor/data/DocumentTable.h"
#include "monitor/data/Options.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace
{

using namespace sentorix;
using Clock = std::chrono::steady_clock;

pid_t spawn(const std::vector<std::string>& argv, bool quiet,
            const std::vector<std::string>& env = {})
{
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    for (const std::string& e : env)
        putenv(const_cast<char*>(e.c_str()));
    if (quiet) {
        const int null = ::open("/dev/null", O_RDWR);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
    }
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
}

int waitExit(pid_t pid, long* peakKiB = nullptr)
{
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    if (peakKiB)
        *peakKiB = usage.ru_maxrss;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

sockaddr_in loopback(int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    return address;
}

int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

bool waitListening(int port)
{
    const sockaddr_in address = loopback(port);
    for (int i = 0; i < 500; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        const bool up =
            ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        if (up)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// A page of HTML-like text with LF line ends, different for every page.
std::string makePage(int number, std::size_t bytes)
{
    std::string page;
    page.reserve(bytes + 128);
    char line[160];
    std::snprintf(line, sizeof line, "<html><head><title>page %d</title></head>\n", number);
    page.append(line);
    unsigned state = 2166136261u ^ static_cast<unsigned>(number);
    while (page.size() < bytes) {
        state = state * 16777619u + 12345u;
        std::snprintf(line, sizeof line,
                      "<p>item %u costs %u and is listed under section %u.</p>\n", state % 100000,
                      state % 997, state % 31);
        page.append(line);
    }
    page.resize(bytes);
    return page;
}

double seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

bool run(const std::vector<std::string>& argv)
{
    return waitExit(spawn(argv, true)) == 0;
}

// A test authority and a certificate for 127.0.0.1 signed by it.
bool makeCertificates(const std::filesystem::path& folder)
{
    const std::string o = "/usr/bin/openssl";
    const std::string f = folder.string();
    {
        std::ofstream ext(folder / "server.ext");
        ext << "subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\n";
    }
    return run({o, "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                "-nodes", "-keyout", f + "/ca.key", "-out", f + "/ca.pem", "-days", "2", "-subj",
                "/CN=Sentorix Bench CA"}) &&
           run({o, "req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                "-keyout", f + "/server.key", "-out", f + "/server.csr", "-subj",
                "/CN=127.0.0.1"}) &&
           run({o, "x509", "-req", "-in", f + "/server.csr", "-CA", f + "/ca.pem", "-CAkey",
                f + "/ca.key", "-CAcreateserial", "-out", f + "/server.pem", "-days", "2",
                "-extfile", f + "/server.ext"});
}

struct Runs {
    std::vector<double> engine, curl;
    std::vector<long> engineKiB, curlKiB;
};

} // namespace

int main(int argc, char** argv)
{
    std::vector<int> counts;
    {
        const std::string list = argc > 1 ? argv[1] : "1000,5000";
        for (std::size_t at = 0; at < list.size();) {
            const std::size_t comma = std::min(list.find(',', at), list.size());
            const int count = std::atoi(list.substr(at, comma - at).c_str());
            if (count > 0)
                counts.push_back(count);
            at = comma + 1;
        }
        if (counts.empty())
            counts.push_back(1000);
    }
    const int pages = *std::max_element(counts.begin(), counts.end());
    const std::size_t kib = argc > 2 ? static_cast<std::size_t>(std::atoi(argv[2])) : 64;
    const int workers = argc > 3 ? std::atoi(argv[3]) : 5;
    const int rounds = argc > 4 ? std::max(1, std::atoi(argv[4])) : 5;
    const std::string schemes = argc > 5 ? argv[5] : "http,https";
    const bool spaced = argc > 6 && std::atoi(argv[6]) == 1;

    char base[] = "/tmp/sentorix-bench-XXXXXX";
    if (!mkdtemp(base)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::filesystem::path root(base);
    const auto www = root / "www";
    std::filesystem::create_directories(www);
    for (const char* d : {"logs", "body", "proxy", "fastcgi", "uwsgi", "scgi"})
        std::filesystem::create_directories(root / "nginx" / d);
    ::chmod(base, 0755); // nginx's workers run as another user
    ::chmod(www.c_str(), 0755);
    for (int i = 0; i < pages; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "p%d.html", i);
        std::ofstream out(www / name, std::ios::binary);
        out << makePage(i, kib * 1024);
    }
    if (!makeCertificates(root)) {
        std::fprintf(stderr, "openssl could not make the certificates\n");
        return 1;
    }
    ::chmod((root / "server.key").c_str(), 0644);

    const int httpPort = freePort();
    const int httpsPort = freePort();
    const auto conf = root / "nginx" / "nginx.conf";
    {
        const std::string n = (root / "nginx").string();
        std::ofstream out(conf);
        // No tcp_nopush: over plain HTTP it corks each keep-alive response, and now and then a
        // connection then waits for a delayed ACK (about 40 ms) before its last segment leaves;
        // which client it hits is chance, so it only made the medians of both wander.
        out << "worker_processes 2;\n"
            << "pid " << n << "/nginx.pid;\n"
            << "error_log " << n << "/logs/error.log;\n"
            << "events { worker_connections 1024; }\n"
            << "http {\n"
            << "  access_log off;\n"
            << "  sendfile on; keepalive_requests 100000;\n"
            << "  client_body_temp_path " << n << "/body;\n"
            << "  proxy_temp_path " << n << "/proxy;\n"
            << "  fastcgi_temp_path " << n << "/fastcgi;\n"
            << "  uwsgi_temp_path " << n << "/uwsgi;\n"
            << "  scgi_temp_path " << n << "/scgi;\n"
            << "  default_type text/html;\n"
            << "  server { listen 127.0.0.1:" << httpPort << "; root " << www.string() << "; }\n"
            << "  server { listen 127.0.0.1:" << httpsPort << " ssl http2; root " << www.string()
            << ";\n"
            << "    ssl_certificate " << (root / "server.pem").string() << ";\n"
            << "    ssl_certificate_key " << (root / "server.key").string() << ";\n"
            << "    ssl_session_cache shared:bench:4m; }\n"
            << "}\n";
    }
    const pid_t nginx = spawn({"/usr/sbin/nginx", "-p", (root / "nginx").string(), "-c",
                               conf.string(), "-g", "daemon off;"},
                              false);
    if (!waitListening(httpPort) || !waitListening(httpsPort)) {
        std::fprintf(stderr, "nginx did not start\n");
        kill(nginx, SIGTERM);
        waitExit(nginx);
        return 1;
    }

    std::printf("pages of %zu KiB, %d workers, %d alternating rounds%s\n", kib, workers, rounds,
                spaced ? ", each check in a second of its own" : "");
    const std::string ca = (root / "ca.pem").string();
    struct Median {
        std::string scheme;
        int pages;
        double check, curl;
    };
    std::vector<Median> medians;
    for (const int count : counts)
        for (const std::string scheme : {"http", "https"}) {
            if (schemes != "http,https" && schemes != scheme)
                continue;
            const std::string tag = scheme + " " + std::to_string(count);
            const int port = scheme == "http" ? httpPort : httpsPort;
            auto url = [&](int i) {
                return scheme + "://127.0.0.1:" + std::to_string(port) + "/p" + std::to_string(i) +
                       ".html";
            };
            // The records and options of a DataFolder of this scheme's own.
            const auto home = root / ("home-" + scheme + "-" + std::to_string(count));
            const auto data = home / "Tarnwick" / "Sentorix";
            std::filesystem::create_directories(data);
            {
                DocumentTable table(count);
                for (int i = 0; i < count; ++i) {
                    DocumentRecord record{};
                    record.kind = static_cast<int32_t>(DocumentKind::WebPage);
                    setFieldText(record.location, url(i));
                    setFieldText(record.displayName, "page " + std::to_string(i));
                    record.status = static_cast<int32_t>(DocumentStatus::Checked);
                    table.put(i, record);
                    saveRecord(table, i, data.string());
                }
                OptionsStore options;
                OptionsRecord o = options.get();
                o.workerThreads = workers;
                options.set(o);
                saveOptions(options, data.string());
            }
            const std::vector<std::string> env{"XDG_DATA_HOME=" + home.string(),
                                               "SENTORIX_CA_BUNDLE=" + ca, "no_proxy=127.0.0.1"};
            const auto list = root / ("urls-" + scheme + "-" + std::to_string(count) + ".cfg");
            {
                std::ofstream out(list);
                for (int i = 0; i < count; ++i)
                    out << "url = \"" << url(i) << "\"\noutput = \"/dev/null\"\n";
            }
            auto cliCheck = [&](long& peak) {
                if (spaced) {
                    // Into the next second of the clock the records' times are taken from.
                    timespec now{};
                    ::clock_gettime(CLOCK_REALTIME, &now);
                    const long rest = 1'000'000'000L - now.tv_nsec + 20'000'000L;
                    const timespec wait{rest / 1'000'000'000L, rest % 1'000'000'000L};
                    ::nanosleep(&wait, nullptr);
                }
                const auto start = Clock::now();
                const int rc = waitExit(spawn({SENTORIX_CLI_PATH, "check"}, true, env), &peak);
                if (rc != 0)
                    std::fprintf(stderr, "sentorix-cli check exited with %d\n", rc);
                return seconds(Clock::now() - start);
            };
            long peak = 0;
            const double first = cliCheck(peak);
            Runs runs;
            for (int r = 0; r < rounds; ++r) {
                runs.engine.push_back(cliCheck(peak));
                runs.engineKiB.push_back(peak);
                const auto start = Clock::now();
                const int rc =
                    waitExit(spawn({"/usr/bin/curl", "--silent", "--parallel", "--parallel-max",
                                    std::to_string(workers), "--noproxy", "*", "--cacert", ca, "-K",
                                    list.string()},
                                   true),
                             &peak);
                runs.curl.push_back(seconds(Clock::now() - start));
                runs.curlKiB.push_back(peak);
                if (rc != 0)
                    std::fprintf(stderr, "curl exited with %d\n", rc);
            }
            std::printf("%s: first check (fetch and store) %.3f s\n", tag.c_str(), first);
            for (int r = 0; r < rounds; ++r)
                std::printf(
                    "%s: round %d  sentorix-cli check %.3f s %ld KiB   curl %.3f s %ld KiB\n",
                    tag.c_str(), r + 1, runs.engine[r], runs.engineKiB[r], runs.curl[r],
                    runs.curlKiB[r]);
            const double e = median(runs.engine);
            const double c = median(runs.curl);
            const long engineKiB = *std::max_element(runs.engineKiB.begin(), runs.engineKiB.end());
            std::printf("%s: median unchanged check %.3f s, median curl %.3f s, ratio %.2f, peak "
                        "resident memory of the check %ld KiB\n",
                        tag.c_str(), e, c, e / c, engineKiB);
            std::fflush(stdout);
            medians.push_back({scheme, count, e, c});
        }
    // How the times grow with the pages: each count against the smallest, per scheme.
    const int fewest = *std::min_element(counts.begin(), counts.end());
    for (const Median& m : medians) {
        for (const Median& small : medians) {
            if (small.scheme != m.scheme || small.pages != fewest || m.pages == fewest)
                continue;
            std::printf("%s: %d against %d pages (%.1fx the pages): check %.2fx (%.3f s against "
                        "%.3f s), curl %.2fx\n",
                        m.scheme.c_str(), m.pages, small.pages,
                        static_cast<double>(m.pages) / small.pages, m.check / small.check, m.check,
                        small.check, m.curl / small.curl);
        }
    }

    kill(nginx, SIGTERM);
    waitExit(nginx);
    std::filesystem::remove_all(root);
    return 0;
}
