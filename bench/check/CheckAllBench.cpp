// Check All over many web pages on a local nginx, against the plain fetch of the same URLs by
// curl with the same concurrency.
//
//   bench_check [pages=1000] [kib=64] [workers=5] [rounds=3]
//
// Makes `pages` pages of `kib` KiB in a temporary folder, serves them with nginx on a loopback
// port, then times as a whole: the first Check All (every page fetched and stored), the second
// (every page fetched and compared, nothing changed), and `curl --parallel --parallel-max
// <workers>` fetching the same URLs to /dev/null. The second pass and the curl fetch are run
// `rounds` times and the fastest of each is compared. Prints the peak resident memory of this
// process at the end.

#include "common/FixedText.h"
#include "monitor/check/CheckEngine.h"
#include "monitor/check/HeadlessView.h"
#include "monitor/data/DocumentTable.h"
#include "monitor/data/MailSettingsStore.h"
#include "monitor/data/NotifiedList.h"
#include "monitor/data/Options.h"
#include "platform/ProgramLauncher.h"
#include "platform/Sound.h"

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
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace
{

using namespace sentorix;
using Clock = std::chrono::steady_clock;

struct NoTimers final : TimerHost {
    void armTimer(int, long long) override {}
    void stopTimer(int) override {}
};

struct NoLauncher final : ProgramLauncher {
    bool launchDetached(const std::string&, const std::vector<std::string>&) override
    {
        return false;
    }
};

pid_t spawn(const std::vector<std::string>& argv, bool quiet)
{
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
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

int waitExit(pid_t pid)
{
    int status = 0;
    waitpid(pid, &status, 0);
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

} // namespace

int main(int argc, char** argv)
{
    const int pages = argc > 1 ? std::atoi(argv[1]) : 1000;
    const std::size_t kib = argc > 2 ? static_cast<std::size_t>(std::atoi(argv[2])) : 64;
    const int workers = argc > 3 ? std::atoi(argv[3]) : 5;
    const int rounds = argc > 4 ? std::max(1, std::atoi(argv[4])) : 3;

    char base[] = "/tmp/sentorix-bench-XXXXXX";
    if (!mkdtemp(base)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::filesystem::path root(base);
    const auto www = root / "www";
    const auto data = root / "data";
    std::filesystem::create_directories(www);
    std::filesystem::create_directories(data);
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

    const int port = freePort();
    const auto conf = root / "nginx" / "nginx.conf";
    {
        const std::string n = (root / "nginx").string();
        std::ofstream out(conf);
        out << "worker_processes 2;\n"
            << "pid " << n << "/nginx.pid;\n"
            << "error_log " << n << "/logs/error.log;\n"
            << "events { worker_connections 1024; }\n"
            << "http {\n"
            << "  access_log off;\n"
            << "  sendfile on; tcp_nopush on; keepalive_requests 100000;\n"
            << "  client_body_temp_path " << n << "/body;\n"
            << "  proxy_temp_path " << n << "/proxy;\n"
            << "  fastcgi_temp_path " << n << "/fastcgi;\n"
            << "  uwsgi_temp_path " << n << "/uwsgi;\n"
            << "  scgi_temp_path " << n << "/scgi;\n"
            << "  default_type text/html;\n"
            << "  server { listen 127.0.0.1:" << port << "; root " << www.string() << "; }\n"
            << "}\n";
    }
    const pid_t nginx = spawn({"/usr/sbin/nginx", "-p", (root / "nginx").string(), "-c",
                               conf.string(), "-g", "daemon off;"},
                              false);
    if (!waitListening(port)) {
        std::fprintf(stderr, "nginx did not start\n");
        kill(nginx, SIGTERM);
        waitExit(nginx);
        return 1;
    }
    auto url = [port](int i) {
        char text[64];
        std::snprintf(text, sizeof text, "http://127.0.0.1:%d/p%d.html", port, i);
        return std::string(text);
    };

    // --- the engine ---
    setenv("no_proxy", "127.0.0.1", 1);
    DocumentTable table(std::max(pages, 1));
    OptionsStore options;
    OptionsRecord o = options.get();
    o.workerThreads = workers;
    options.set(o);
    MailSettingsStore mail;
    NotifiedList notified(table.capacity());
    HeadlessView view;
    NoTimers timers;
    NullSoundPlayer sound;
    NoLauncher launcher;
    CheckEngine engine(CheckEngineParts{data.string(), root.string(), table, options, mail,
                                        notified, view, timers, sound, launcher});
    for (int i = 0; i < pages; ++i) {
        DocumentRecord record{};
        record.kind = static_cast<int32_t>(DocumentKind::WebPage);
        setFieldText(record.location, url(i));
        char name[32];
        std::snprintf(name, sizeof name, "page %d", i);
        setFieldText(record.displayName, name);
        record.status = static_cast<int32_t>(DocumentStatus::Checked);
        table.put(i, record);
        view.appendRow(i);
    }
    auto pass = [&](DocumentStatus expected) {
        const auto start = Clock::now();
        engine.checkAll();
        engine.waitForWorkers();
        const double s = seconds(Clock::now() - start);
        int wrong = 0;
        for (int i = 0; i < pages; ++i)
            wrong += table.status(i) != expected;
        if (wrong)
            std::fprintf(stderr, "%d documents did not end %d\n", wrong,
                         static_cast<int>(expected));
        return s;
    };

    const double first = pass(DocumentStatus::Ready);
    std::vector<double> second;
    for (int r = 0; r < rounds; ++r)
        second.push_back(pass(DocumentStatus::Checked));

    // --- the plain fetch ---
    const auto list = root / "urls.cfg";
    {
        std::ofstream out(list);
        for (int i = 0; i < pages; ++i)
            out << "url = \"" << url(i) << "\"\noutput = \"/dev/null\"\n";
    }
    std::vector<double> plain;
    for (int r = 0; r < rounds; ++r) {
        const auto start = Clock::now();
        const pid_t curl = spawn({"/usr/bin/curl", "--silent", "--parallel", "--parallel-max",
                                  std::to_string(workers), "--noproxy", "*", "-K", list.string()},
                                 true);
        const int rc = waitExit(curl);
        plain.push_back(seconds(Clock::now() - start));
        if (rc != 0)
            std::fprintf(stderr, "curl exited with %d\n", rc);
    }

    kill(nginx, SIGTERM);
    waitExit(nginx);
    std::filesystem::remove_all(root);

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double bestSecond = *std::min_element(second.begin(), second.end());
    const double bestPlain = *std::min_element(plain.begin(), plain.end());
    std::printf("pages %d x %zu KiB, %d workers\n", pages, kib, workers);
    std::printf("first pass (fetch and store)     %.3f s\n", first);
    for (double s : second)
        std::printf("second pass (fetch and compare)  %.3f s\n", s);
    for (double s : plain)
        std::printf("curl --parallel-max %d           %.3f s\n", workers, s);
    std::printf("ratio best second pass / best curl  %.2f\n", bestSecond / bestPlain);
    std::printf("peak resident memory  %ld KiB\n", usage.ru_maxrss);
    return 0;
}
