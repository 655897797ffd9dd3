// The windowed monitor's figures, each run in a fresh child process (so memory and caches of
// one run never count in another), on the offscreen platform unless QT_QPA_PLATFORM says
// otherwise. Alternating runs, medians:
//   start-up to the first painted list with `docs` documents, beside an empty DataFolder;
//   sorting those rows by a heading (alternating Name and Status), with the repaint;
//   resident memory of the running monitor with them, beside the empty one;
//   the longest gap between two ticks of a 10 ms UI-thread timer during a Check All of
//   `pages` documents served by a local HTTP server (tests/peers/http_server.py).
// Usage: bench_monitor [docs=5000] [pages=1000] [rounds=5]
#include "monitor/QtMonitorView.h"
#include "monitor/SentorixApp.h"
#include "monitor/SentorixView.h"
#include "monitor/check/MonitorSession.h"
#include "monitor/data/DocumentRecord.h"
#include "monitor/data/DocumentTable.h"
#include "monitor/data/Options.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace
{

using namespace sentorix;

void writeRecords(const std::string& folder, int count, const std::string& base)
{
    DocumentTable table;
    for (int i = 0; i < count; ++i) {
        DocumentRecord record{};
        std::snprintf(record.displayName, sizeof record.displayName, "Document %05d", i);
        std::snprintf(record.location, sizeof record.location, "%s/page%d.html", base.c_str(), i);
        record.kind = static_cast<int32_t>(DocumentKind::WebPage);
        record.status =
            static_cast<int32_t>(i % 3 == 0 ? DocumentStatus::Changed : DocumentStatus::Checked);
        std::snprintf(record.lastCheck, sizeof record.lastCheck, "2026/12/%02d [10:%02d:%02d]",
                      1 + i % 28, i % 60, (i * 7) % 60);
        table.put(i, record);
        saveRecord(table, i, folder);
    }
    // No timer of the monitor's own starts a check during a measurement.
    OptionsStore options;
    OptionsRecord o = options.get();
    o.periodicCheck = 0;
    o.startupCheck = 0;
    o.sendEmail = 0;
    o.workerThreads = 5;
    options.set(o);
    saveOptions(options, folder);
}

class FirstPaint final : public QObject
{
public:
    bool painted = false;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            painted = true;
        return QObject::eventFilter(watched, event);
    }
};

CSentorixApp::Settings settingsFor(const std::string& folder)
{
    CSentorixApp::Settings settings;
    settings.instanceName =
        QStringLiteral("sentorix-bench-%1").arg(QCoreApplication::applicationPid());
    settings.dataFolder = folder;
    settings.installFolder = folder;
    settings.silent = true;
    return settings;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

long statusKiB(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0)
            return std::atol(line.c_str() + std::strlen(field));
    return -1;
}

// Child: start the monitor on `folder`, wait for the list's first paint, then sort.
int childStart(const std::string& folder)
{
    QElapsedTimer clock;
    clock.start();
    CSentorixApp monitor(settingsFor(folder));
    if (monitor.initInstance({}) != CSentorixApp::Start::Running)
        return 1;
    FirstPaint paint;
    monitor.listView()->viewport()->installEventFilter(&paint);
    while (!paint.painted && clock.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const double startMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    std::printf("start %.2f\nrss %ld\n", startMs, statusKiB("VmRSS:"));
    for (int sort = 0; sort < 6; ++sort) {
        QElapsedTimer sortClock;
        sortClock.start();
        monitor.session()->list().sortByColumn(sort % 2 == 0 ? kNameColumn : kStatusColumn);
        monitor.listView()->viewport()->repaint();
        std::printf("sort %.2f\n", static_cast<double>(sortClock.nsecsElapsed()) / 1e6);
    }
    std::printf("hwm %ld\n", statusKiB("VmHWM:"));
    return 0;
}

// Child: Check All over the folder's documents; the longest gap between 10 ms ticks.
int childCheck(const std::string& folder)
{
    CSentorixApp monitor(settingsFor(folder));
    if (monitor.initInstance({}) != CSentorixApp::Start::Running)
        return 1;
    QCoreApplication::processEvents();
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    qint64 longest = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, now - last);
        last = now;
    });
    tick.start(10);
    CheckEngine& engine = monitor.session()->engine();
    last = clock.nsecsElapsed();
    engine.checkAll();
    while ((engine.runningWorkers() > 0 || monitor.view()->pendingReports() > 0) &&
           clock.elapsed() < 600000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    std::printf("check %.3f\ngap %.2f\nhwm %ld\n", static_cast<double>(clock.elapsed()) / 1000.0,
                static_cast<double>(longest) / 1e6, statusKiB("VmHWM:"));
    return 0;
}

// Runs this program as a child and collects its "name value" lines.
std::multimap<std::string, double> runChild(const QString& mode, const std::string& folder)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--child"), mode, QString::fromStdString(folder)});
    std::multimap<std::string, double> values;
    if (!child.waitForFinished(900000) || child.exitCode() != 0) {
        std::fprintf(stderr, "a %s run failed\n", qPrintable(mode));
        return values;
    }
    for (const QByteArray& line : child.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() == 2)
            values.emplace(parts[0].toStdString(), parts[1].toDouble());
    }
    return values;
}

void collect(const std::multimap<std::string, double>& from, const std::string& name,
             std::vector<double>& into)
{
    const auto [first, last] = from.equal_range(name);
    for (auto it = first; it != last; ++it)
        into.push_back(it->second);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc == 4 && std::strcmp(argv[1], "--child") == 0) {
        QApplication app(argc, argv);
        return std::strcmp(argv[2], "start") == 0 ? childStart(argv[3]) : childCheck(argv[3]);
    }
    QCoreApplication app(argc, argv);
    const int docs = argc > 1 ? std::atoi(argv[1]) : 5000;
    const int pages = argc > 2 ? std::atoi(argv[2]) : 1000;
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 5;

    test::TempDir full;
    test::TempDir empty;
    writeRecords(full.path(), docs, "http://127.0.0.1:9");
    writeRecords(empty.path(), 0, "");

    std::vector<double> startFull, startEmpty, sorts, rssFull, rssEmpty, hwmFull;
    for (int round = 0; round < rounds; ++round) {
        const auto a = runChild(QStringLiteral("start"), full.path());
        const auto b = runChild(QStringLiteral("start"), empty.path());
        collect(a, "start", startFull);
        collect(a, "sort", sorts);
        collect(a, "rss", rssFull);
        collect(a, "hwm", hwmFull);
        collect(b, "start", startEmpty);
        collect(b, "rss", rssEmpty);
    }
    std::printf("start-up to the first painted list: %d documents median %.1f ms, empty %.1f ms "
                "(%d alternating runs each)\n",
                docs, median(startFull), median(startEmpty), rounds);
    std::printf("sort of %d rows by a heading with the repaint: median %.1f ms, max %.1f ms "
                "(%zu sorts)\n",
                docs, median(sorts),
                sorts.empty() ? 0 : *std::max_element(sorts.begin(), sorts.end()), sorts.size());
    std::printf("resident memory after start-up: %d documents %.1f MiB, empty %.1f MiB; peak "
                "with %d documents and the sorts %.1f MiB\n",
                docs, median(rssFull) / 1024, median(rssEmpty) / 1024, docs,
                median(hwmFull) / 1024);

    // --- the UI thread during a Check All over a local HTTP server ---
    test::TempDir site;
    const std::string body(16 * 1024, 'x');
    for (int i = 0; i < pages; ++i)
        test::writeFile(site.file("page" + std::to_string(i) + ".html"), body);
    test::PeerProcess server("http_server.py", {"--root", site.path()});
    if (!server.start()) {
        std::fprintf(stderr, "the HTTP server did not start\n");
        return 1;
    }
    std::vector<double> gaps, times, hwm;
    const int checkRounds = std::max(1, rounds / 2);
    for (int round = 0; round < checkRounds; ++round) {
        // A new DataFolder each round: every check is a first retrieval.
        test::TempDir checked;
        writeRecords(checked.path(), pages, "http://127.0.0.1:" + std::to_string(server.port()));
        const auto c = runChild(QStringLiteral("check"), checked.path());
        collect(c, "gap", gaps);
        collect(c, "check", times);
        collect(c, "hwm", hwm);
    }
    std::printf("Check All of %d documents (16 KiB pages, 5 workers): median %.2f s; longest gap "
                "between 10 ms UI ticks: median %.1f ms, max %.1f ms (%d runs); peak memory %.1f "
                "MiB\n",
                pages, median(times), median(gaps),
                gaps.empty() ? 0 : *std::max_element(gaps.begin(), gaps.end()), checkRounds,
                median(hwm) / 1024);
    return 0;
}
