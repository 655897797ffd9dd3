#include "monitor/check/DocumentChanges.h"

#include "common/FixedText.h"
#include "common/TextFile.h"
#include "monitor/data/DocumentTable.h"

#include <sys/stat.h>

#include <cstdio>
#include <optional>

namespace sentorix
{
namespace
{

std::optional<VersionFile> statVersion(const std::string& dataFolder, const std::string& name,
                                       const char* extension)
{
    struct stat st {
    };
    const std::string path = recordFilePath(dataFolder, name, extension);
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    VersionFile file;
    file.name = name + extension;
    file.time = st.st_mtim.tv_sec;
    file.size = static_cast<std::size_t>(st.st_size);
    return file;
}

// The whole file in `mode`; nullopt when it cannot be read.
std::optional<std::string> readVersion(const std::string& path, FileMode mode)
{
    InputFile in;
    if (!in.open(path, mode))
        return std::nullopt;
    std::string text;
    std::vector<char> block(1 << 16);
    for (;;) {
        const long n = in.read(block.data(), block.size());
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            break;
        text.append(block.data(), static_cast<std::size_t>(n));
    }
    return text;
}

const char* previousExtension(CompareMethod method)
{
    return method == CompareMethod::Middle ? kPreviousMiddleExtension : kPreviousExtension;
}

const char* currentExtension(CompareMethod method)
{
    return method == CompareMethod::Middle ? kMiddleExtension : kContentExtension;
}

} // namespace

bool hasPreviousVersion(const std::string& dataFolder, const DocumentRecord& record)
{
    const std::string name(fieldText(record.displayName));
    const CompareMethod method = selectMethod(record);
    return statVersion(dataFolder, name, previousExtension(method)) &&
           statVersion(dataFolder, name, currentExtension(method));
}

DocumentChanges compareVersions(const std::string& dataFolder, const DocumentRecord& record,
                                int context, const DiffLimits& limits)
{
    DocumentChanges changes;
    const std::string name(fieldText(record.displayName));
    changes.method = selectMethod(record);
    const char* previousExt = previousExtension(changes.method);
    const char* currentExt = currentExtension(changes.method);
    std::optional<VersionFile> previous = statVersion(dataFolder, name, previousExt);
    std::optional<VersionFile> current = statVersion(dataFolder, name, currentExt);
    if (!previous || !current)
        return changes;
    changes.previous = *previous;
    changes.current = *current;
    const std::string previousPath = recordFilePath(dataFolder, name, previousExt);
    const std::string currentPath = recordFilePath(dataFolder, name, currentExt);

    if (changes.method == CompareMethod::Count) {
        changes.result = ChangesResult::Counts;
        changes.countString = std::string(fieldText(record.countString));
        changes.previousCount = countOccurrences(previousPath, changes.countString);
        changes.currentCount = countOccurrences(currentPath, changes.countString);
        return changes;
    }

    changes.result = ChangesResult::Lines;
    if (previous->size > limits.maxBytes || current->size > limits.maxBytes) {
        changes.diff.outcome = DiffOutcome::TooLarge;
        changes.diff.oldSize = previous->size;
        changes.diff.newSize = current->size;
        return changes;
    }
    // A page's files are stored in text mode (LF as CR LF): read back they give the bytes the
    // server sent, whose CR LF pairs end the lines. Other kinds are read as they are.
    const bool page = static_cast<DocumentKind>(record.kind) == DocumentKind::WebPage;
    const FileMode mode = page ? FileMode::Text : FileMode::Binary;
    std::optional<std::string> before = readVersion(previousPath, mode);
    std::optional<std::string> after = readVersion(currentPath, mode);
    if (!before || !after) {
        changes.result = ChangesResult::NoPrevious;
        return changes;
    }
    changes.diff = diffTexts(std::move(*before), std::move(*after),
                             page ? LineEnds::CrLf : LineEnds::Lf, context, limits);
    return changes;
}

std::string diffTimeText(std::time_t when)
{
    std::tm local{};
    localtime_r(&when, &local);
    char text[64];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S.000000000 %z", &local);
    return text;
}

std::string formatChanges(const DocumentChanges& changes)
{
    std::string out;
    switch (changes.result) {
    case ChangesResult::NoPrevious:
        return out;
    case ChangesResult::Counts:
        out += "previous count of \"" + changes.countString +
               "\": " + std::to_string(changes.previousCount) + " (" +
               diffTimeText(changes.previous.time) + ")\n";
        out += "current count of \"" + changes.countString +
               "\": " + std::to_string(changes.currentCount) + " (" +
               diffTimeText(changes.current.time) + ")\n";
        return out;
    case ChangesResult::Lines:
        break;
    }
    const TextDiff& diff = changes.diff;
    const std::string sizes = " (sizes " + std::to_string(diff.oldSize) + " and " +
                              std::to_string(diff.newSize) + " bytes)\n";
    switch (diff.outcome) {
    case DiffOutcome::Same:
        return "The versions " + changes.previous.name + " and " + changes.current.name +
               " are the same.\n";
    case DiffOutcome::Binary:
        return "Binary files " + changes.previous.name + " and " + changes.current.name +
               " differ" + sizes;
    case DiffOutcome::TooLarge:
        return "The versions " + changes.previous.name + " and " + changes.current.name +
               " are too large to compare in detail" + sizes;
    case DiffOutcome::Different:
        break;
    }
    out += "--- " + changes.previous.name + "\t" + diffTimeText(changes.previous.time) + "\n";
    out += "+++ " + changes.current.name + "\t" + diffTimeText(changes.current.time) + "\n";
    out += formatUnifiedHunks(diff);
    return out;
}

} // namespace sentorix
