// The line and word comparison of two versions: hunks as "diff -u" forms them, line ends, the
// word ranges inside changed lines, and the bounds that give up on versions too large.
#include "monitor/check/TextDiff.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using namespace sentorix;

namespace
{

std::string numbered(int from, int to)
{
    std::string text;
    for (int i = from; i <= to; ++i)
        text += "line " + std::to_string(i) + "\n";
    return text;
}

// Rebuilds the new version from the old one and the hunks, checking every hunk's header
// against its lines on the way.
std::string applyHunks(const TextDiff& diff)
{
    std::string out;
    int oldNext = 0;
    auto copyOld = [&](int line) {
        out += diff.oldLineText(line);
        if (diff.oldLines[static_cast<std::size_t>(line)].hasEnd)
            out += '\n';
    };
    for (const DiffHunk& hunk : diff.hunks) {
        EXPECT_GE(hunk.oldStart, oldNext);
        while (oldNext < hunk.oldStart)
            copyOld(oldNext++);
        int oldCount = 0;
        int newCount = 0;
        for (const DiffLine& line : hunk.lines) {
            if (line.op != DiffOp::Inserted) {
                EXPECT_EQ(line.oldLine, oldNext);
                ++oldCount;
                ++oldNext;
            }
            if (line.op != DiffOp::Deleted) {
                EXPECT_EQ(line.newLine, hunk.newStart + newCount);
                ++newCount;
                out += diff.newLineText(line.newLine);
                if (diff.newLines[static_cast<std::size_t>(line.newLine)].hasEnd)
                    out += '\n';
            }
        }
        EXPECT_EQ(oldCount, hunk.oldCount);
        EXPECT_EQ(newCount, hunk.newCount);
    }
    while (oldNext < static_cast<int>(diff.oldLines.size()))
        copyOld(oldNext++);
    return out;
}

TEST(TextDiffTest, UnifiedHunksForKnownChanges)
{
    struct Case {
        const char* what;
        std::string before;
        std::string after;
        std::string hunks;
    };
    const std::vector<Case> cases = {
        {"a changed line", "a\nb\nc\n", "a\nB\nc\n", "@@ -1,3 +1,3 @@\n a\n-b\n+B\n c\n"},
        {"an added last line without a line end", "a\nb\n", "a\nb\nc",
         "@@ -1,2 +1,3 @@\n a\n b\n+c\n\\ No newline at end of file\n"},
        {"a line end added to the last line", "a\nb", "a\nb\n",
         "@@ -1,2 +1,2 @@\n a\n-b\n\\ No newline at end of file\n+b\n"},
        {"from nothing", "", "x\n", "@@ -0,0 +1 @@\n+x\n"},
        {"to nothing", "x\ny\n", "", "@@ -1,2 +0,0 @@\n-x\n-y\n"},
        {"changes six unchanged lines apart share a hunk", numbered(1, 20),
         "line 1\nline 2\nline 3\nline 4\nX\nline 6\nline 7\nline 8\nline 9\nline 10\nline "
         "11\nY\nline 13\nline 14\nline 15\nline 16\nline 17\nline 18\nline 19\nline 20\n",
         "@@ -2,14 +2,14 @@\n line 2\n line 3\n line 4\n-line 5\n+X\n line 6\n line 7\n line 8\n "
         "line 9\n line 10\n line 11\n-line 12\n+Y\n line 13\n line 14\n line 15\n"},
        {"seven apart make two hunks", numbered(1, 20),
         "line 1\nline 2\nline 3\nline 4\nX\nline 6\nline 7\nline 8\nline 9\nline 10\nline "
         "11\nline 12\nY\nline 14\nline 15\nline 16\nline 17\nline 18\nline 19\nline 20\n",
         "@@ -2,7 +2,7 @@\n line 2\n line 3\n line 4\n-line 5\n+X\n line 6\n line 7\n line 8\n"
         "@@ -10,7 +10,7 @@\n line 10\n line 11\n line 12\n-line 13\n+Y\n line 14\n line 15\n "
         "line 16\n"},
        {"deletions come before insertions", "a\nb\nc\nd\n", "a\nx\ny\nd\n",
         "@@ -1,4 +1,4 @@\n a\n-b\n-c\n+x\n+y\n d\n"},
    };
    for (const Case& c : cases) {
        const TextDiff diff = diffTexts(c.before, c.after, LineEnds::Lf);
        EXPECT_EQ(diff.outcome, DiffOutcome::Different) << c.what;
        EXPECT_EQ(formatUnifiedHunks(diff), c.hunks) << c.what;
        EXPECT_EQ(applyHunks(diff), c.after) << c.what;
    }
}

TEST(TextDiffTest, CrLfPagesEndLinesAtTheirPairsAndFilesKeepTheirCr)
{
    const std::string before = "one\r\ntwo\r\n";
    const std::string after = "one\r\nTWO\r\n";
    EXPECT_EQ(formatUnifiedHunks(diffTexts(before, after, LineEnds::CrLf)),
              "@@ -1,2 +1,2 @@\n one\n-two\n+TWO\n");
    // As LF text the CR stays part of the line.
    EXPECT_EQ(formatUnifiedHunks(diffTexts(before, after, LineEnds::Lf)),
              "@@ -1,2 +1,2 @@\n one\r\n-two\r\n+TWO\r\n");
    // Only the line end differs: a page does not count it as a change, a file does.
    EXPECT_EQ(diffTexts("a\r\nb\r\n", "a\r\nb\n", LineEnds::CrLf).outcome, DiffOutcome::Same);
    EXPECT_EQ(diffTexts("a\r\nb\r\n", "a\r\nb\n", LineEnds::Lf).outcome, DiffOutcome::Different);
}

TEST(TextDiffTest, RandomEditsRebuildTheNewVersion)
{
    std::mt19937 random(7);
    for (int round = 0; round < 200; ++round) {
        std::vector<std::string> lines;
        const int count = static_cast<int>(random() % 40);
        for (int i = 0; i < count; ++i)
            lines.push_back(std::to_string(random() % 6));
        std::string before;
        for (const auto& line : lines)
            before += line + "\n";
        std::vector<std::string> edited = lines;
        for (int e = static_cast<int>(random() % 6); e > 0; --e) {
            const std::size_t at = edited.empty() ? 0 : random() % (edited.size() + 1);
            switch (random() % 3) {
            case 0:
                edited.insert(edited.begin() + static_cast<long>(at), "new");
                break;
            case 1:
                if (at < edited.size())
                    edited.erase(edited.begin() + static_cast<long>(at));
                break;
            default:
                if (at < edited.size())
                    edited[at] = "changed";
            }
        }
        std::string after;
        for (const auto& line : edited)
            after += line + "\n";
        if (random() % 4 == 0 && !after.empty())
            after.pop_back();
        const TextDiff diff =
            diffTexts(before, after, LineEnds::Lf, static_cast<int>(random() % 4));
        EXPECT_EQ(diff.outcome, before == after ? DiffOutcome::Same : DiffOutcome::Different);
        if (diff.outcome == DiffOutcome::Different) {
            EXPECT_EQ(applyHunks(diff), after) << "round " << round;
        }
    }
}

TEST(TextDiffTest, ChangedLinesCarryTheirChangedWords)
{
    const TextDiff diff = diffTexts("keep\nthe quick brown fox\nkeep\n",
                                    "keep\nthe quick red fox!\nkeep\n", LineEnds::Lf);
    ASSERT_EQ(diff.hunks.size(), 1u);
    const std::vector<DiffLine>& lines = diff.hunks[0].lines;
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1].op, DiffOp::Deleted);
    EXPECT_EQ(lines[1].words, (std::vector<WordRange>{{10, 5}}));
    EXPECT_EQ(lines[2].op, DiffOp::Inserted);
    EXPECT_EQ(lines[2].words, (std::vector<WordRange>{{10, 3}, {17, 1}}));
    EXPECT_TRUE(lines[0].words.empty());

    // An insertion without a deleted partner has no word ranges: the whole line is new.
    const TextDiff added = diffTexts("a\n", "a\nb c\n", LineEnds::Lf);
    ASSERT_EQ(added.hunks.size(), 1u);
    EXPECT_TRUE(added.hunks[0].lines.back().words.empty());
}

TEST(TextDiffTest, BinaryAndTooLargeVersionsCarryOnlyTheirSizes)
{
    std::string binary = "text";
    binary += '\0';
    EXPECT_TRUE(looksBinary(binary));
    EXPECT_FALSE(looksBinary(std::string(kBinaryProbeBytes, 'a') + '\0'));
    EXPECT_FALSE(looksBinary(""));
    TextDiff diff = diffTexts(binary, "text", LineEnds::Lf);
    EXPECT_EQ(diff.outcome, DiffOutcome::Binary);
    EXPECT_EQ(diff.oldSize, 5u);
    EXPECT_EQ(diff.newSize, 4u);

    DiffLimits small;
    small.maxBytes = 100;
    diff = diffTexts(std::string(101, 'a'), "b", LineEnds::Lf, 3, small);
    EXPECT_EQ(diff.outcome, DiffOutcome::TooLarge);
    EXPECT_EQ(diff.oldSize, 101u);
    EXPECT_TRUE(diff.hunks.empty());

    DiffLimits fewLines;
    fewLines.maxLines = 10;
    EXPECT_EQ(diffTexts(numbered(1, 11), "x\n", LineEnds::Lf, 3, fewLines).outcome,
              DiffOutcome::TooLarge);

    // A comparison that needs more steps than allowed is given up, not finished slowly.
    std::string before;
    std::string after;
    for (int i = 0; i < 600; ++i) {
        before += "a" + std::to_string(i) + "\n";
        after += "b" + std::to_string(i) + "\n";
        if (i % 2 == 0)
            after += "a" + std::to_string(i) + "\n";
    }
    DiffLimits fewSteps;
    fewSteps.maxSteps = 1000;
    diff = diffTexts(before, after, LineEnds::Lf, 3, fewSteps);
    EXPECT_EQ(diff.outcome, DiffOutcome::TooLarge);
    EXPECT_EQ(diff.newSize, after.size());
    EXPECT_EQ(diffTexts(before, after, LineEnds::Lf).outcome, DiffOutcome::Different);

    // Every line has its equal on the other side, so the estimate lets the search begin; the
    // reversed order then needs far more steps than allowed, and the search is given up.
    std::string forward;
    std::string backward;
    for (int i = 0; i < 600; ++i) {
        forward += std::to_string(i) + "\n";
        backward = std::to_string(i) + "\n" + backward;
    }
    fewSteps.maxSteps = 20000;
    EXPECT_EQ(diffTexts(forward, backward, LineEnds::Lf, 3, fewSteps).outcome,
              DiffOutcome::TooLarge);
    fewSteps.maxSteps = 100'000'000;
    EXPECT_EQ(diffTexts(forward, backward, LineEnds::Lf, 3, fewSteps).outcome,
              DiffOutcome::Different);
}

} // namespace
