#include "monitor/check/TextDiff.h"

#include <dtl/dtl.hpp>

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <utility>

namespace sentorix
{
namespace
{

using Clock = std::chrono::steady_clock;

// The work one comparison may do. Once spent, every comparison answers "equal": the O(NP)
// search then runs straight to its end, so an abandoned comparison ends at once (and its
// result, flagged as exceeded, is thrown away).
struct Budget {
    std::uint64_t steps = 0;
    std::uint64_t maxSteps = 0;
    Clock::time_point deadline;
    bool exceeded = false;

    bool spend()
    {
        if (exceeded)
            return false;
        ++steps;
        if (steps > maxSteps || ((steps & 0xFFFF) == 0 && Clock::now() > deadline))
            exceeded = true;
        return !exceeded;
    }
};

template <typename Elem> class BoundedCompare : public dtl::Compare<Elem>
{
public:
    BoundedCompare() = default;
    explicit BoundedCompare(Budget* budget) : m_budget(budget) {}
    bool impl(const Elem& a, const Elem& b) const override
    {
        if (!m_budget->spend())
            return true;
        return a == b;
    }

private:
    Budget* m_budget = nullptr;
};

// The edit script of two sequences as one operation per element, deletions and insertions in
// the order dtl found them; false when the budget ran out.
template <typename Elem>
bool editScript(const std::vector<Elem>& a, const std::vector<Elem>& b, Budget& budget,
                std::vector<DiffOp>& ops)
{
    if (a.empty() || b.empty()) {
        ops.insert(ops.end(), a.size(), DiffOp::Deleted);
        ops.insert(ops.end(), b.size(), DiffOp::Inserted);
        return true;
    }
    dtl::Diff<Elem, std::vector<Elem>, BoundedCompare<Elem>> diff(a, b,
                                                                  BoundedCompare<Elem>(&budget));
    diff.onHuge();
    diff.compose();
    if (budget.exceeded)
        return false;
    for (const auto& element : diff.getSes().getSequence()) {
        switch (element.second.type) {
        case dtl::SES_COMMON:
            ops.push_back(DiffOp::Same);
            break;
        case dtl::SES_DELETE:
            ops.push_back(DiffOp::Deleted);
            break;
        case dtl::SES_ADD:
            ops.push_back(DiffOp::Inserted);
            break;
        default:
            break;
        }
    }
    return true;
}

bool isWordByte(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c >= 0x80;
}

bool isBlank(unsigned char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}

std::vector<std::string_view> splitWords(std::string_view line)
{
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < line.size()) {
        const auto c = static_cast<unsigned char>(line[i]);
        std::size_t j = i + 1;
        if (isWordByte(c)) {
            while (j < line.size() && isWordByte(static_cast<unsigned char>(line[j])))
                ++j;
        } else if (isBlank(c)) {
            while (j < line.size() && isBlank(static_cast<unsigned char>(line[j])))
                ++j;
        }
        words.push_back(line.substr(i, j - i));
        i = j;
    }
    return words;
}

void addRange(std::vector<WordRange>& ranges, std::size_t begin, std::size_t length)
{
    if (!ranges.empty() && ranges.back().begin + ranges.back().length == begin)
        ranges.back().length += length;
    else
        ranges.push_back({begin, length});
}

// Word ranges of one pair of lines within `budget`; false (nothing added) when it ran out.
bool diffWordsBounded(std::string_view oldLine, std::string_view newLine, Budget& budget,
                      std::vector<WordRange>& oldWords, std::vector<WordRange>& newWords)
{
    const std::vector<std::string_view> a = splitWords(oldLine);
    const std::vector<std::string_view> b = splitWords(newLine);
    std::vector<DiffOp> ops;
    if (!editScript(a, b, budget, ops))
        return false;
    std::size_t ia = 0;
    std::size_t ib = 0;
    std::size_t posA = 0;
    std::size_t posB = 0;
    for (DiffOp op : ops) {
        switch (op) {
        case DiffOp::Same:
            posA += a[ia++].size();
            posB += b[ib++].size();
            break;
        case DiffOp::Deleted:
            addRange(oldWords, posA, a[ia].size());
            posA += a[ia++].size();
            break;
        case DiffOp::Inserted:
            addRange(newWords, posB, b[ib].size());
            posB += b[ib++].size();
            break;
        }
    }
    return true;
}

// Lines longer than this are highlighted whole, without a word comparison.
constexpr std::size_t kMaxWordDiffLine = 16384;

} // namespace

bool looksBinary(std::string_view content)
{
    const std::size_t probe = std::min(content.size(), kBinaryProbeBytes);
    return probe > 0 && std::memchr(content.data(), '\0', probe) != nullptr;
}

std::vector<TextLine> splitLines(std::string_view text, LineEnds ends)
{
    std::vector<TextLine> lines;
    std::size_t begin = 0;
    while (begin < text.size()) {
        const void* found = std::memchr(text.data() + begin, '\n', text.size() - begin);
        if (!found) {
            lines.push_back({begin, text.size() - begin, false});
            break;
        }
        const auto lf = static_cast<std::size_t>(static_cast<const char*>(found) - text.data());
        std::size_t end = lf;
        if (ends == LineEnds::CrLf && end > begin && text[end - 1] == '\r')
            --end;
        lines.push_back({begin, end - begin, true});
        begin = lf + 1;
    }
    return lines;
}

std::string_view TextDiff::oldLineText(int line) const
{
    const TextLine& l = oldLines[static_cast<std::size_t>(line)];
    return std::string_view(oldText).substr(l.begin, l.length);
}

std::string_view TextDiff::newLineText(int line) const
{
    const TextLine& l = newLines[static_cast<std::size_t>(line)];
    return std::string_view(newText).substr(l.begin, l.length);
}

void diffWords(std::string_view oldLine, std::string_view newLine, std::vector<WordRange>& oldWords,
               std::vector<WordRange>& newWords)
{
    Budget budget;
    budget.maxSteps = DiffLimits{}.maxSteps;
    budget.deadline = Clock::now() + DiffLimits{}.maxTime;
    diffWordsBounded(oldLine, newLine, budget, oldWords, newWords);
}

TextDiff diffTexts(std::string oldText, std::string newText, LineEnds ends, int context,
                   const DiffLimits& limits)
{
    TextDiff result;
    result.oldSize = oldText.size();
    result.newSize = newText.size();
    if (looksBinary(oldText) || looksBinary(newText)) {
        result.outcome = oldText == newText ? DiffOutcome::Same : DiffOutcome::Binary;
        return result;
    }
    if (oldText.size() > limits.maxBytes || newText.size() > limits.maxBytes) {
        result.outcome = DiffOutcome::TooLarge;
        return result;
    }
    if (oldText == newText) {
        result.outcome = DiffOutcome::Same;
        return result;
    }
    result.oldText = std::move(oldText);
    result.newText = std::move(newText);
    result.oldLines = splitLines(result.oldText, ends);
    result.newLines = splitLines(result.newText, ends);
    if (result.oldLines.size() > limits.maxLines || result.newLines.size() > limits.maxLines) {
        result.outcome = DiffOutcome::TooLarge;
        result.oldText.clear();
        result.newText.clear();
        result.oldLines.clear();
        result.newLines.clear();
        return result;
    }

    // Each distinct line (with whether it ends) becomes one number, so the comparison compares
    // numbers; the common beginning and end are taken off before it.
    std::unordered_map<std::string_view, std::uint32_t> ids;
    auto lineIds = [&ids](const std::string& text, const std::vector<TextLine>& lines) {
        std::vector<std::uint32_t> out;
        out.reserve(lines.size());
        for (const TextLine& line : lines) {
            auto [it, added] =
                ids.try_emplace(std::string_view(text).substr(line.begin, line.length),
                                static_cast<std::uint32_t>(ids.size()));
            out.push_back(it->second * 2 + (line.hasEnd ? 0 : 1));
        }
        return out;
    };
    const std::vector<std::uint32_t> a = lineIds(result.oldText, result.oldLines);
    const std::vector<std::uint32_t> b = lineIds(result.newText, result.newLines);
    std::size_t prefix = 0;
    while (prefix < a.size() && prefix < b.size() && a[prefix] == b[prefix])
        ++prefix;
    std::size_t suffix = 0;
    while (suffix < a.size() - prefix && suffix < b.size() - prefix &&
           a[a.size() - 1 - suffix] == b[b.size() - 1 - suffix])
        ++suffix;

    // The search costs about (M + N) * D / 2 steps for D differing lines, and D is at least the
    // number of lines that have no equal on the other side: when that alone exceeds the
    // budget, the versions are too different to compare in detail and the search is not begun.
    std::unordered_map<std::uint32_t, std::int64_t> balance;
    for (std::size_t k = prefix; k < a.size() - suffix; ++k)
        ++balance[a[k]];
    for (std::size_t k = prefix; k < b.size() - suffix; ++k)
        --balance[b[k]];
    std::uint64_t unmatched = 0;
    for (const auto& entry : balance)
        unmatched += static_cast<std::uint64_t>(entry.second < 0 ? -entry.second : entry.second);
    const std::uint64_t span = (a.size() - prefix - suffix) + (b.size() - prefix - suffix);
    const bool hopeless = span * (unmatched / 2 + 1) > limits.maxSteps;

    Budget budget;
    budget.maxSteps = limits.maxSteps;
    budget.deadline = Clock::now() + limits.maxTime;
    std::vector<DiffOp> ops(prefix, DiffOp::Same);
    ops.reserve(std::max(a.size(), b.size()) + 16);
    const std::vector<std::uint32_t> midA(a.begin() + static_cast<std::ptrdiff_t>(prefix),
                                          a.end() - static_cast<std::ptrdiff_t>(suffix));
    const std::vector<std::uint32_t> midB(b.begin() + static_cast<std::ptrdiff_t>(prefix),
                                          b.end() - static_cast<std::ptrdiff_t>(suffix));
    if (hopeless || !editScript(midA, midB, budget, ops)) {
        TextDiff tooLarge;
        tooLarge.outcome = DiffOutcome::TooLarge;
        tooLarge.oldSize = result.oldSize;
        tooLarge.newSize = result.newSize;
        return tooLarge;
    }
    ops.insert(ops.end(), suffix, DiffOp::Same);

    // The old and new line index before each operation.
    const std::size_t count = ops.size();
    std::vector<int> oldAt(count + 1);
    std::vector<int> newAt(count + 1);
    for (std::size_t i = 0; i < count; ++i) {
        oldAt[i + 1] = oldAt[i] + (ops[i] != DiffOp::Inserted ? 1 : 0);
        newAt[i + 1] = newAt[i] + (ops[i] != DiffOp::Deleted ? 1 : 0);
    }

    // Hunks: runs of changes with up to `context` unchanged lines around them; changes at most
    // 2 * context unchanged lines apart share a hunk.
    const std::size_t keep = static_cast<std::size_t>(std::max(context, 0));
    Budget wordBudget;
    wordBudget.maxSteps = limits.maxSteps;
    wordBudget.deadline = Clock::now() + limits.maxTime;
    std::size_t i = 0;
    while (i < count) {
        if (ops[i] == DiffOp::Same) {
            ++i;
            continue;
        }
        std::size_t start = i >= keep ? i - keep : 0;
        std::size_t end = i;
        // Extend over changes and short runs of unchanged lines.
        while (end < count) {
            while (end < count && ops[end] != DiffOp::Same)
                ++end;
            std::size_t same = end;
            while (same < count && ops[same] == DiffOp::Same)
                ++same;
            if (same < count && same - end <= 2 * keep)
                end = same;
            else
                break;
        }
        const std::size_t stop = std::min(count, end + keep);

        DiffHunk hunk;
        hunk.oldStart = oldAt[start];
        hunk.newStart = newAt[start];
        hunk.oldCount = oldAt[stop] - oldAt[start];
        hunk.newCount = newAt[stop] - newAt[start];
        std::size_t k = start;
        while (k < stop) {
            if (ops[k] == DiffOp::Same) {
                hunk.lines.push_back({DiffOp::Same, oldAt[k], newAt[k], {}});
                ++k;
                continue;
            }
            // One change: its deletions first, then its insertions; the n-th deleted line is
            // compared word by word with the n-th inserted one.
            std::vector<DiffLine> deleted;
            std::vector<DiffLine> inserted;
            for (; k < stop && ops[k] != DiffOp::Same; ++k) {
                if (ops[k] == DiffOp::Deleted)
                    deleted.push_back({DiffOp::Deleted, oldAt[k], -1, {}});
                else
                    inserted.push_back({DiffOp::Inserted, -1, newAt[k], {}});
            }
            for (std::size_t n = 0; n < std::min(deleted.size(), inserted.size()); ++n) {
                const std::string_view before = result.oldLineText(deleted[n].oldLine);
                const std::string_view after = result.newLineText(inserted[n].newLine);
                if (before.size() > kMaxWordDiffLine || after.size() > kMaxWordDiffLine ||
                    wordBudget.exceeded)
                    continue;
                std::vector<WordRange> oldWords;
                std::vector<WordRange> newWords;
                if (diffWordsBounded(before, after, wordBudget, oldWords, newWords)) {
                    deleted[n].words = std::move(oldWords);
                    inserted[n].words = std::move(newWords);
                }
            }
            for (DiffLine& line : deleted)
                hunk.lines.push_back(std::move(line));
            for (DiffLine& line : inserted)
                hunk.lines.push_back(std::move(line));
        }
        result.hunks.push_back(std::move(hunk));
        i = stop;
    }
    result.outcome = result.hunks.empty() ? DiffOutcome::Same : DiffOutcome::Different;
    return result;
}

namespace
{

std::string hunkRange(int start, int count)
{
    if (count == 0)
        return std::to_string(start) + ",0";
    if (count == 1)
        return std::to_string(start + 1);
    return std::to_string(start + 1) + "," + std::to_string(count);
}

} // namespace

std::string formatUnifiedHunks(const TextDiff& diff)
{
    std::string out;
    if (diff.outcome != DiffOutcome::Different)
        return out;
    for (const DiffHunk& hunk : diff.hunks) {
        out += "@@ -" + hunkRange(hunk.oldStart, hunk.oldCount) + " +" +
               hunkRange(hunk.newStart, hunk.newCount) + " @@\n";
        for (const DiffLine& line : hunk.lines) {
            const bool old = line.op == DiffOp::Deleted;
            const TextLine& text = old ? diff.oldLines[static_cast<std::size_t>(line.oldLine)]
                                       : diff.newLines[static_cast<std::size_t>(line.newLine)];
            out += line.op == DiffOp::Same ? ' ' : (old ? '-' : '+');
            out.append(old ? diff.oldText : diff.newText, text.begin, text.length);
            out += '\n';
            if (!text.hasEnd)
                out += "\\ No newline at end of file\n";
        }
    }
    return out;
}

} // namespace sentorix
