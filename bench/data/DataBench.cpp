// Start-up load and exit save of a large document list: N ".data" files are written once into
// a scratch folder, then each round loads them all into a fresh table (loadAllRecords) and
// writes them all back (saveAllRecordsOnExit). Prints the best and the median time of each.
//
// Usage: bench_data [records=5000] [rounds=5] [parent folder=$TMPDIR or /tmp]
#include "common/FixedText.h"
#include "monitor/data/DocumentTable.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using namespace sentorix;

namespace
{

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void report(const char* what, std::vector<double> times, int records)
{
    std::sort(times.begin(), times.end());
    const double best = times.front();
    const double median = times[times.size() / 2];
    std::printf("%-28s best %9.1f ms  median %9.1f ms  (%.1f us per record)\n", what, best, median,
                best * 1000.0 / records);
}

} // namespace

int main(int argc, char** argv)
{
    const int records = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5000;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const char* tmp = std::getenv("TMPDIR");
    std::string parent = argc > 3 ? argv[3] : (tmp && *tmp ? tmp : "/tmp");

    std::string templ = parent + "/sentorix-bench-XXXXXX";
    std::vector<char> name(templ.begin(), templ.end());
    name.push_back('\0');
    if (!mkdtemp(name.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string folder = name.data();

    // Every third document has an account, so loading unscrambles real credentials.
    {
        DocumentTable table(records);
        for (int i = 0; i < records; ++i) {
            DocumentRecord record{};
            record.kind = i % 4;
            setFieldText(record.displayName, "Document " + std::to_string(i));
            setFieldText(record.location, "https://example.org/pages/" + std::to_string(i));
            setFieldText(record.lastCheck, "2011/05/07 [09:03:00]");
            record.status = i % 6;
            if (i % 3 == 0) {
                record.useAccount = 1;
                setFieldText(record.userName, "user" + std::to_string(i));
                setFieldText(record.password, "password-" + std::to_string(i));
            }
            table.put(i, record);
        }
        saveAllRecordsOnExit(table, folder);
    }

    std::vector<double> loadTimes;
    std::vector<double> saveTimes;
    for (int round = 0; round < rounds; ++round) {
        DocumentTable table(records);
        auto start = Clock::now();
        const int loaded = loadAllRecords(table, folder, nullptr);
        loadTimes.push_back(millisecondsSince(start));
        if (loaded != records) {
            std::fprintf(stderr, "loaded %d of %d records\n", loaded, records);
            return 1;
        }
        start = Clock::now();
        saveAllRecordsOnExit(table, folder);
        saveTimes.push_back(millisecondsSince(start));
    }

    std::printf("%d records, %d rounds, folder %s\n", records, rounds, folder.c_str());
    report("loadAllRecords", loadTimes, records);
    report("saveAllRecordsOnExit", saveTimes, records);

    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return 0;
}
