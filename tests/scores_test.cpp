// The high-score storage: ranking and merging, names, the text format and its
// parser (with a mutation fuzz loop), the path rules, and the files on disk.
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "env_guard.h"
#include "platform/names.h"
#include "platform/score_text.h"
#include "platform/scores.h"
#include "ranking.h"

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

ScoreEntry entry(int32_t score, int64_t time, const char* name)
{
    ScoreEntry e{};
    e.score = score;
    e.time = time;
    snprintf(e.name.data(), e.name.size(), "%s", name);
    return e;
}

// A table holding these entries in this order, ranked or not.
ScoreTable table_of(std::initializer_list<ScoreEntry> entries)
{
    ScoreTable t{};
    for (const ScoreEntry& e : entries) t.entries[t.count++] = e;
    return t;
}

// "score/time/name" for each entry, for readable comparisons.
std::vector<std::string> rows(const ScoreTable& t)
{
    std::vector<std::string> out;
    for (int i = 0; i < t.count; ++i) {
        out.push_back(std::to_string(t.entries[i].score) + "/" + std::to_string(t.entries[i].time) + "/" +
                      t.entries[i].name.data());
    }
    return out;
}

std::string text_of(const ScoreTable& t)
{
    char text[score_text_max];
    const size_t length = format_scores(t, text, sizeof text);
    return std::string(text, length);
}

// Parses from a heap block of exactly the text's size, so that AddressSanitizer
// sees any read past it.
int parse(const std::string& text, ScoreTable& t)
{
    std::unique_ptr<char[]> exact(new char[text.size() == 0 ? 1 : text.size()]);
    memcpy(exact.get(), text.data(), text.size());
    return parse_scores(exact.get(), text.size(), t);
}

std::string cleaned(const char* raw, size_t size = score_name_max * 4 + 1)
{
    std::vector<char> out(size + 1, '#');
    clean_name(raw, out.data(), size);
    EXPECT_EQ(out[size], '#') << "wrote past the buffer";
    return out.data();
}

const std::string header = std::string(score_header) + "\n";

// A table the file may hold, checked here without the code under test's own
// rules: scores and times in range, names of printable UTF-8 with no space at
// either end and at most 16 characters, ranked, and left alone by clean_name.
::testing::AssertionResult valid_ranked(const ScoreTable& t)
{
    if (t.count < 0 || t.count > score_table_size) {
        return ::testing::AssertionFailure() << "count " << t.count;
    }
    for (int i = 0; i < t.count; ++i) {
        const ScoreEntry& e = t.entries[i];
        const size_t length = strnlen(e.name.data(), e.name.size());
        if (e.score < 1 || e.time < 0 || e.time > score_time_max || length == 0 || length == e.name.size()) {
            return ::testing::AssertionFailure() << "entry " << i << " out of range";
        }
        int characters = 0;
        for (size_t b = 0; b < length; ++b) {
            const auto c = static_cast<unsigned char>(e.name[b]);
            if (c < 0x20 || c == 0x7F) return ::testing::AssertionFailure() << "control byte in entry " << i;
            if ((c & 0xC0) != 0x80) ++characters;
        }
        if (characters > score_name_max || e.name[0] == ' ' || e.name[length - 1] == ' ') {
            return ::testing::AssertionFailure() << "name of entry " << i << ": " << e.name.data();
        }
        if (cleaned(e.name.data()) != e.name.data()) {
            return ::testing::AssertionFailure() << "unclean name in entry " << i << ": " << e.name.data();
        }
        if (i > 0) {
            const ScoreEntry& p = t.entries[i - 1];
            if (p.score < e.score || (p.score == e.score && p.time > e.time)) {
                return ::testing::AssertionFailure() << "entries " << i - 1 << " and " << i << " disordered";
            }
        }
    }
    return ::testing::AssertionSuccess();
}

}  // namespace

// ---- Ranking and merging -------------------------------------------------

TEST(ScoreRank, HigherScoreFirstAndTheEarlierAheadOnTies)
{
    const ScoreTable t =
        table_of({entry(500, 100, "a"), entry(300, 50, "b"), entry(300, 80, "c"), entry(100, 10, "d")});
    EXPECT_EQ(score_rank(t, 600, 999), 0);
    EXPECT_EQ(score_rank(t, 500, 99), 0);   // same score, earlier: ahead
    EXPECT_EQ(score_rank(t, 500, 100), 1);  // same score and time: the one already there stays ahead
    EXPECT_EQ(score_rank(t, 500, 101), 1);
    EXPECT_EQ(score_rank(t, 300, 49), 1);
    EXPECT_EQ(score_rank(t, 300, 50), 2);
    EXPECT_EQ(score_rank(t, 300, 80), 3);
    EXPECT_EQ(score_rank(t, 300, 81), 3);
    EXPECT_EQ(score_rank(t, 100, 11), 4);
    EXPECT_EQ(score_rank(t, 1, 0), 4);
    const ScoreTable empty{};
    EXPECT_EQ(score_rank(empty, 1, 0), 0);
    EXPECT_EQ(score_rank(empty, 0, 0), -1);
    EXPECT_EQ(score_rank(empty, -5, 0), -1);
    EXPECT_EQ(score_rank(t, INT32_MIN, 0), -1);
}

TEST(ScoreRank, TheTableKeepsTenEntries)
{
    ScoreTable t{};
    for (int i = 10; i >= 1; --i) ASSERT_GE(insert_score(t, entry(i * 100, 1000, "p")), 0);
    ASSERT_EQ(t.count, 10);
    EXPECT_EQ(score_rank(t, 50, 0), -1);
    EXPECT_EQ(score_rank(t, 100, 1000), -1);  // a tie in time with the last: it stays
    EXPECT_EQ(score_rank(t, 100, 999), 9);

    const ScoreTable before = t;
    EXPECT_EQ(insert_score(t, entry(100, 1000, "late")), -1);
    EXPECT_EQ(rows(t), rows(before));

    EXPECT_EQ(insert_score(t, entry(100, 999, "early")), 9);
    EXPECT_EQ(t.count, 10);
    EXPECT_STREQ(t.entries[9].name.data(), "early");
    EXPECT_EQ(insert_score(t, entry(5000, 1, "top")), 0);
    EXPECT_EQ(t.count, 10);
    EXPECT_EQ(t.entries[0].score, 5000);
    EXPECT_EQ(t.entries[1].score, 1000);
    EXPECT_EQ(t.entries[9].score, 200);  // both 100s gone
}

TEST(ScoreMerge, TwoCopiesOfTheGameKeepTheBestTenEachOnce)
{
    // Both started from the same file, then each saved games of its own.
    const ScoreEntry ann = entry(1000, 1, "ann"), bo = entry(500, 2, "bo");
    const ScoreTable first =
        table_of({ann, entry(700, 10, "cy"), bo, entry(300, 11, "dee"), entry(300, 12, "eli")});
    const ScoreTable second =
        table_of({ann, entry(900, 20, "fay"), entry(700, 5, "gus"), entry(700, 10, "hal"), bo,
                  entry(400, 21, "ivy"), entry(300, 11, "jo"), entry(200, 22, "kim"), entry(100, 23, "lee")});
    ScoreTable merged = first;
    merge_scores(merged, second);
    EXPECT_EQ(rows(merged),
              (std::vector<std::string>{"1000/1/ann", "900/20/fay", "700/5/gus", "700/10/cy", "700/10/hal",
                                        "500/2/bo", "400/21/ivy", "300/11/dee", "300/11/jo", "300/12/eli"}));
    // The other way round, the entries of equal score and time swap places.
    ScoreTable reverse = second;
    merge_scores(reverse, first);
    EXPECT_EQ(reverse.entries[3].name.data(), std::string("hal"));
    EXPECT_EQ(reverse.entries[4].name.data(), std::string("cy"));
    EXPECT_EQ(reverse.entries[7].name.data(), std::string("jo"));
    EXPECT_EQ(reverse.entries[8].name.data(), std::string("dee"));

    ScoreTable self = first;
    merge_scores(self, self);
    EXPECT_EQ(rows(self), rows(first));
}

TEST(ScoreMerge, AnUnrankedTableOrABadCountComesOutRanked)
{
    ScoreTable unranked = table_of(
        {entry(1, 5, "a"), entry(0, 5, "zero"), entry(30, 5, "b"), entry(-4, 5, "neg"), entry(30, 1, "c")});
    merge_scores(unranked, ScoreTable{});
    EXPECT_EQ(rows(unranked), (std::vector<std::string>{"30/1/c", "30/5/b", "1/5/a"}));
    ScoreTable bad = table_of({entry(10, 1, "x")});
    bad.count = -3;
    merge_scores(bad, table_of({entry(20, 1, "y")}));
    EXPECT_EQ(rows(bad), (std::vector<std::string>{"20/1/y"}));
    ScoreTable full{};
    for (ScoreEntry& e : full.entries) e = entry(100, 1, "p");
    full.count = 1000;
    EXPECT_EQ(score_rank(full, 1, 0), -1);  // read as a full table, not past it
    EXPECT_EQ(score_rank(full, 101, 0), 0);
}

// ---- Names -------------------------------------------------------------

TEST(ScoreNames, SpacesInsideStayAndTheEndsAreTrimmed)
{
    EXPECT_EQ(cleaned("Ann Lee"), "Ann Lee");
    EXPECT_EQ(cleaned("  Ann  Lee   "), "Ann  Lee");
    EXPECT_EQ(cleaned("\xC2\xA0\xE3\x80\x80"
                      "Ann\xE2\x80\x83"),
              "Ann");  // no-break, ideographic, em spaces
}

TEST(ScoreNames, TabsLineEndsControlsAndInvalidBytesGo)
{
    EXPECT_EQ(cleaned("ann\tlee"), "annlee");
    EXPECT_EQ(cleaned("a\nb\r\nc"), "abc");
    EXPECT_EQ(cleaned("\x1b[31mred\x7f"), "[31mred");
    EXPECT_EQ(cleaned("x\xC2\x85y"), "xy");  // NEL, a C1 control
    EXPECT_EQ(cleaned("a\xE2\x80\xA8"
                      "b\xE2\x80\xAE"
                      "c"),
              "abc");  // line separator, right-to-left override
    EXPECT_EQ(cleaned("\xff\xfeok\xfe"), "ok");
    EXPECT_EQ(cleaned("\xC0\xAF"
                      "a\xE0\x80\xAF"),
              "a");                                // overlong forms of '/'
    EXPECT_EQ(cleaned("\xED\xA0\x80z"), "z");      // a surrogate
    EXPECT_EQ(cleaned("\xF4\x90\x80\x80q"), "q");  // past U+10FFFF
    EXPECT_EQ(cleaned("abc\xE2\x82"), "abc");      // cut short
    EXPECT_EQ(cleaned("Zo\xC3\xAB \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x9A\x80"),
              "Zo\xC3\xAB \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x9A\x80");
}

TEST(ScoreNames, SixteenCharactersNotBytes)
{
    std::string e16, e17, rockets20;
    for (int i = 0; i < 16; ++i) e16 += "\xC3\xA9";
    e17 = e16 + "\xC3\xA9";
    for (int i = 0; i < 20; ++i) rockets20 += "\xF0\x9F\x9A\x80";
    EXPECT_EQ(cleaned(e16.c_str()), e16);
    EXPECT_EQ(cleaned(e17.c_str()), e16);
    EXPECT_EQ(cleaned(rockets20.c_str()), rockets20.substr(0, 64));
    EXPECT_EQ(cleaned("abcdefghijklmnopqrstuvwxyz"), "abcdefghijklmnop");
    EXPECT_EQ(cleaned("abcdefghijklmno pqr"), "abcdefghijklmno");    // the 16th is a space: trimmed
    EXPECT_EQ(cleaned("   abcdefghijklmnopq"), "abcdefghijklmnop");  // leading spaces do not count
}

TEST(ScoreNames, NothingLeftGivesPlayerAndSmallBuffersCutWholeCharacters)
{
    for (const char* raw : {"", "   ", "\t\r\n", "\xff\xff", "\xC2\xA0"}) {
        EXPECT_EQ(cleaned(raw), "player") << raw;
    }
    EXPECT_EQ(cleaned(nullptr), "player");
    EXPECT_EQ(cleaned("\xC3\xA9\xC3\xA9", 4), "\xC3\xA9");
    EXPECT_EQ(cleaned("ab", 1), "");
    EXPECT_EQ(cleaned("", 4), "pla");
}

TEST(ScoreNames, PlayerNameComesFromThePasswordDatabaseBeforeUser)
{
    if (getpwuid(getuid()) == nullptr) GTEST_SKIP() << "this user has no entry in the password database";
    EnvGuard env({"USER"});
    EnvGuard::set("USER", "someone else");
    char name[score_name_max * 4 + 1];
    player_name(name, sizeof name);
    EXPECT_STRNE(name, "someone else");
    EXPECT_STRNE(name, "");
    EXPECT_EQ(cleaned(name), name);
}

// ---- The text ----------------------------------------------------------

TEST(ScoreText, FormatWritesAHeaderAndTabSeparatedLines)
{
    const ScoreTable t = table_of({entry(1200, 1765259580, "Ann Lee"), entry(0, 5, "no score"),
                                   entry(40, 0, "bo"), entry(30, 1, "tab\there")});
    EXPECT_EQ(text_of(t), "quorvane-scores 1\n1200\t1765259580\tAnn Lee\n40\t0\tbo\n");
    EXPECT_EQ(text_of(ScoreTable{}), "quorvane-scores 1\n");
    char small[20];
    EXPECT_EQ(format_scores(t, small, sizeof small), 0u);
    EXPECT_STREQ(small, "");
}

TEST(ScoreText, AFullTableOfAwkwardNamesReadsBackTheSame)
{
    std::string rockets;
    for (int i = 0; i < 16; ++i) rockets += "\xF0\x9F\x9A\x80";
    const ScoreTable t =
        table_of({entry(INT32_MAX, score_time_max, rockets.c_str()), entry(5000, 0, "Ann  Lee"),
                  entry(5000, 0, "Zo\xC3\xAB"), entry(400, 1765259580, "a"), entry(300, 2, "x y z"),
                  entry(300, 3, "\xE6\x97\xA5\xE6\x9C\xAC"), entry(200, 4, "0123456789abcdef"),
                  entry(100, 5, "-5"), entry(1, 6, "#!"), entry(1, 6, "dup")});
    const std::string text = text_of(t);
    ASSERT_FALSE(text.empty());
    ASSERT_LE(text.size() + 1, score_text_max);
    ScoreTable back;
    EXPECT_EQ(parse(text, back), 0);
    EXPECT_EQ(rows(back), rows(t));
    EXPECT_EQ(text_of(back), text);
}

TEST(ScoreText, DamagedFilesCountTheirProblemsAndKeepTheGoodLines)
{
    struct Case {
        const char* what;
        std::string text;
        int problems;
        std::vector<std::string> rows;
    };
    const std::string ok = "100\t1700000000\tann\n";
    const std::vector<std::string> ann{"100/1700000000/ann"};
    const std::vector<Case> cases = {
        {"empty file", "", 1, {}},
        {"header only", header, 0, {}},
        {"header without its line end", score_header, 1, {}},
        {"no header", ok + "50\t1\tbo\n", 1, {"100/1700000000/ann", "50/1/bo"}},
        {"another version", "quorvane-scores 2\n" + ok, 1, ann},
        {"an unranked file is ranked", header + "5\t9\ta\n50\t9\tb\n", 0, {"50/9/b", "5/9/a"}},
        {"no final line end", header + ok + "200\t1\tcut", 1, ann},
        {"truncated line", header + "200\t17\n" + ok, 1, ann},
        {"four fields", header + "200\t1\tx\ty\n" + ok, 1, ann},
        {"empty fields", header + "\t\t\n200\t\tx\n\t1\tx\n200\t1\t\n" + ok, 4, ann},
        {"blank line", header + "\n" + ok, 1, ann},
        {"zero score", header + "0\t1\tx\n" + ok, 1, ann},
        {"negative score", header + "-5\t1\tx\n" + ok, 1, ann},
        {"plus sign", header + "+5\t1\tx\n" + ok, 1, ann},
        {"score past 32 bits", header + "2147483648\t1\tx\n" + ok, 1, ann},
        {"largest score", header + "2147483647\t1\tx\n", 0, {"2147483647/1/x"}},
        {"huge number", header + std::string(400, '9') + "\t1\tx\n" + ok, 1, ann},
        {"negative time", header + "5\t-1\tx\n" + ok, 1, ann},
        {"time past the year 9999", header + "5\t253402300800\tx\n" + ok, 1, ann},
        {"spaces around numbers", header + " 5\t1\tx\n5 \t1\tx\n5\t 1\tx\n" + ok, 3, ann},
        {"hexadecimal", header + "0x10\t1\tx\n" + ok, 1, ann},
        {"name with a space at its end", header + "5\t1\tx \n" + ok, 1, ann},
        {"name of 17 characters", header + "5\t1\tabcdefghijklmnopq\n" + ok, 1, ann},
        {"name with a control character", header + "5\t1\tx\x1by\n" + ok, 1, ann},
        {"name with a NUL", header + "5\t1\tx\0y\n"s + ok, 1, ann},
        {"name of invalid UTF-8", header + "5\t1\tx\xff\n" + ok, 1, ann},
        {"binary junk", header + "\x00\x01\xff\t\t\n\x80\x7f\n"s + ok, 2, ann},
        {"CRLF line ends", "quorvane-scores 1\r\n100\t1700000000\tann\r\n", 0, ann},
        {"lone CR inside", header + "5\t1\tx\ry\n" + ok, 1, ann},
    };
    for (const Case& c : cases) {
        ScoreTable t;
        EXPECT_EQ(parse(c.text, t), c.problems) << c.what;
        EXPECT_EQ(rows(t), c.rows) << c.what;
        EXPECT_TRUE(valid_ranked(t)) << c.what;
    }
}

TEST(ScoreText, ReadingStopsAfterTenEntriesAndSixtyFourKiB)
{
    std::string ten = header;
    for (int i = 1; i <= 10; ++i) ten += std::to_string(i * 10) + "\t1\tp\n";
    ScoreTable t;
    EXPECT_EQ(parse(ten, t), 0);
    EXPECT_EQ(t.count, 10);
    // An eleventh line is not read, even when it would rank first.
    EXPECT_EQ(parse(ten + "999\t1\tlate\n", t), 1);
    EXPECT_EQ(t.count, 10);
    EXPECT_EQ(t.entries[0].score, 100);
    EXPECT_EQ(parse(ten + "junk\nmore junk\n", t), 1);

    // A line that runs past 64 KiB is cut there: one problem for the cut
    // line, one for the size; the entries before it are kept.
    const std::string big = header + "5\t1\ta\n" + std::string(70000, 'x') + "\n7\t1\tb\n";
    EXPECT_EQ(parse(big, t), 2);
    EXPECT_EQ(rows(t), (std::vector<std::string>{"5/1/a"}));
    std::string exactly = header + "5\t1\ta\n";
    exactly += std::string(score_file_max - exactly.size() - 1, 'x') + "\n";
    EXPECT_EQ(parse(exactly, t), 1);  // the long line only: the size is within the limit
}

TEST(ScoreText, EveryPrefixOfAFileReadsOnlyItsWholeLines)
{
    std::string text = header;
    for (int i = 1; i <= 10; ++i) {
        const std::string n = std::to_string(i);
        text += std::to_string(i * 1000 + i) + "\t17000" + n + "\tn\xC3\xA9 " + n + "\n";
    }
    int whole_lines = -1;  // the header is not an entry
    for (size_t n = 0; n <= text.size(); ++n) {
        ScoreTable t;
        const int problems = parse(text.substr(0, n), t);
        const bool at_line_end = n > 0 && text[n - 1] == '\n';
        if (at_line_end) ++whole_lines;
        ASSERT_EQ(t.count, std::max(whole_lines, 0)) << "prefix of " << n;
        ASSERT_EQ(problems, at_line_end ? 0 : 1) << "prefix of " << n;
        ASSERT_TRUE(valid_ranked(t));
    }
}

// Random byte flips, insertions, deletions, truncations, duplicated lines and
// splices of valid files, fed to the parser from exact-size heap blocks. Whatever
// it returns must be a ranked table of valid entries that formats and parses
// back to itself with no problem; the same bytes as a name must clean to a
// valid name that cleans to itself.
TEST(ScoreFuzz, MutatedFilesGiveValidTablesThatReadBackClean)
{
    constexpr int inputs = 100000;
    std::mt19937_64 rng(20261209);
    auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
    const std::vector<std::string> names = {"ann",
                                            "Bo Lee",
                                            "Zo\xC3\xAB",
                                            "\xE6\x97\xA5\xE6\x9C\xAC",
                                            "x",
                                            "0123456789abcdef",
                                            "\xF0\x9F\x9A\x80\xF0\x9F\x9A\x80",
                                            "a  b"};
    std::vector<std::string> corpus;
    for (int i = 0; i < 40; ++i) {
        ScoreTable t{};
        const int count = static_cast<int>(pick(11));
        for (int j = 0; j < count; ++j) {
            insert_score(t, entry(static_cast<int32_t>(1 + pick(i % 3 == 0 ? INT32_MAX : 60)),
                                  static_cast<int64_t>(pick(i % 4 == 0 ? score_time_max + 1 : 30)),
                                  names[pick(names.size())].c_str()));
        }
        corpus.push_back(text_of(t));
    }
    const std::string alphabet = "\t\n\r0123456789-+ \x00\x7f\xc3\xa9\xff\xe2\x80"s;
    size_t most = 0, with_entries = 0;
    const auto started = std::chrono::steady_clock::now();
    for (int n = 0; n < inputs; ++n) {
        std::string s = corpus[pick(corpus.size())];
        const int mutations = 1 + static_cast<int>(pick(4));
        for (int m = 0; m < mutations; ++m) {
            const size_t at = s.empty() ? 0 : pick(s.size() + 1);
            switch (pick(7)) {
            case 0:
                if (!s.empty()) s[pick(s.size())] ^= static_cast<char>(1 << pick(8));
                break;
            case 1: s.insert(at, 1, alphabet[pick(alphabet.size())]); break;
            case 2: s.insert(at, 1, static_cast<char>(pick(256))); break;
            case 3: s.erase(at, pick(8)); break;
            case 4: s.resize(pick(s.size() + 1)); break;
            case 5: {
                const std::string& other = corpus[pick(corpus.size())];
                s = s.substr(0, at) + other.substr(pick(other.size() + 1));
                break;
            }
            case 6: {
                const size_t start = s.rfind('\n', at == 0 ? 0 : at - 1);
                const size_t from = start == std::string::npos ? 0 : start + 1;
                const size_t end = s.find('\n', from);
                if (end != std::string::npos) s.insert(from, s.substr(from, end - from + 1));
                break;
            }
            }
        }
        if (n % 1000 == 0) s += std::string(score_file_max, 'z');  // now and then, past the size limit
        ScoreTable t;
        const int problems = parse(s, t);
        ASSERT_GE(problems, 0);
        ASSERT_TRUE(valid_ranked(t)) << "input " << n;
        ScoreTable back;
        const std::string text = text_of(t);
        ASSERT_EQ(parse(text, back), 0) << "input " << n;
        ASSERT_EQ(rows(back), rows(t)) << "input " << n;
        most = std::max(most, s.size());
        if (t.count > 0) ++with_entries;

        const std::string once = cleaned(s.substr(0, 200).c_str());
        ASSERT_EQ(cleaned(once.c_str()), once) << "input " << n;
        ASSERT_TRUE(valid_ranked(table_of({entry(1, 1, once.c_str())}))) << "input " << n;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    printf("[ fuzz     ] %d inputs (%zu with entries, largest %zu bytes) in %.2f s\n", inputs, with_entries,
           most, seconds);
    // The mutations leave much of the format intact: most inputs still reach the entries.
    EXPECT_GT(with_entries, static_cast<size_t>(inputs / 10));
}

// ---- The path ----------------------------------------------------------

TEST(ScorePath, FollowsTheXdgBaseDirectoryRules)
{
    EnvGuard env({"XDG_DATA_HOME", "HOME"});
    struct Case {
        const char* data;
        const char* home;
        const char* path;  // nullptr: no place
    };
    const Case cases[] = {
        {"/data/x", "/home/ann", "/data/x/quorvane/scores"},
        {"/data/x/", "/home/ann", "/data/x/quorvane/scores"},
        {"/", "/home/ann", "/quorvane/scores"},
        {nullptr, "/home/ann", "/home/ann/.local/share/quorvane/scores"},
        {"", "/home/ann/", "/home/ann/.local/share/quorvane/scores"},
        {"relative/data", "/home/ann", "/home/ann/.local/share/quorvane/scores"},
        {"/data/x", nullptr, "/data/x/quorvane/scores"},
        {nullptr, nullptr, nullptr},
        {"", "", nullptr},
        {"relative/data", nullptr, nullptr},
        {nullptr, "relative/home", nullptr},
    };
    for (const Case& c : cases) {
        EnvGuard::set("XDG_DATA_HOME", c.data);
        EnvGuard::set("HOME", c.home);
        char path[score_path_max] = "junk";
        EXPECT_EQ(scores_path(path, sizeof path), c.path != nullptr)
            << (c.data ? c.data : "-") << " " << (c.home ? c.home : "-");
        EXPECT_STREQ(path, c.path != nullptr ? c.path : "");
    }
    EnvGuard::set("XDG_DATA_HOME", "/data/x");
    char small[sizeof "/data/x/quorvane/scores"];
    EXPECT_TRUE(scores_path(small, sizeof small));
    char smaller[sizeof small - 1] = "junk";
    EXPECT_FALSE(scores_path(smaller, sizeof smaller));
    EXPECT_STREQ(smaller, "");
}

// ---- Files -------------------------------------------------------------

namespace {

std::string read_file(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void write_file(const fs::path& path, const std::string& bytes)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

unsigned mode_of(const fs::path& path)
{
    struct stat s;
    EXPECT_EQ(stat(path.c_str(), &s), 0) << path;
    return s.st_mode & 07777;
}

std::vector<std::string> names_in(const fs::path& dir)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// Each test in a fresh folder of its own, made the data home through the
// environment as the game would see it.
class ScoreFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        char name[] = "/tmp/quorvane-scores-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        root = name;
        use_data_home(root / "data");
    }
    void TearDown() override { fs::remove_all(root); }

    void use_data_home(const fs::path& data)
    {
        EnvGuard::set("XDG_DATA_HOME", data.c_str());
        ASSERT_TRUE(scores_path(path, sizeof path));
        folder = fs::path(path).parent_path();
    }

    bool save(const ScoreEntry& e, ScoreTable& t, int& index)
    {
        return save_score(path, e, t, index, reason, sizeof reason);
    }
    bool load(ScoreTable& t) { return load_scores(path, t, reason, sizeof reason); }

    EnvGuard env{"XDG_DATA_HOME", "HOME"};
    fs::path root, folder;
    char path[score_path_max];
    char reason[score_reason_max];
};

}  // namespace

TEST_F(ScoreFiles, AFirstSaveMakesPrivateFoldersAndFiles)
{
    use_data_home(root / "a" / "b");
    const mode_t old_mask = umask(022);
    ScoreTable t{};
    int index = 99;
    const bool saved = save(entry(120, 1765259580, "Ann Lee"), t, index);
    umask(old_mask);
    ASSERT_TRUE(saved) << reason;
    EXPECT_STREQ(reason, "");
    EXPECT_EQ(index, 0);
    EXPECT_EQ(rows(t), (std::vector<std::string>{"120/1765259580/Ann Lee"}));
    for (const fs::path& dir : {root / "a", root / "a" / "b", folder}) EXPECT_EQ(mode_of(dir), 0700u) << dir;
    EXPECT_EQ(mode_of(path), 0600u);
    EXPECT_EQ(mode_of(folder / "scores.lock"), 0600u);
    EXPECT_EQ(names_in(folder), (std::vector<std::string>{"scores", "scores.lock"}));
    EXPECT_EQ(read_file(path), "quorvane-scores 1\n120\t1765259580\tAnn Lee\n");
}

TEST_F(ScoreFiles, ASaveKeepsWhatOtherCopiesWroteAndWhatItCouldNot)
{
    ScoreTable first{}, second{};  // two copies, both started before either saved
    int index;
    ASSERT_TRUE(save(entry(300, 10, "one"), first, index)) << reason;
    ASSERT_TRUE(save(entry(500, 20, "two"), second, index)) << reason;
    EXPECT_EQ(index, 0);
    EXPECT_EQ(rows(second), (std::vector<std::string>{"500/20/two", "300/10/one"}));
    ASSERT_TRUE(save(entry(400, 30, "three"), first, index)) << reason;
    EXPECT_EQ(index, 1);
    const std::vector<std::string> all{"500/20/two", "400/30/three", "300/10/one"};
    EXPECT_EQ(rows(first), all);
    ScoreTable on_disk;
    ASSERT_TRUE(load(on_disk));
    EXPECT_EQ(rows(on_disk), all);

    // An entry the caller holds that never reached the file (a save that
    // failed) is written with the next one.
    ScoreTable third = table_of({entry(450, 25, "unsaved")});
    ASSERT_TRUE(save(entry(100, 40, "four"), third, index)) << reason;
    EXPECT_EQ(index, 4);
    ASSERT_TRUE(load(on_disk));
    EXPECT_EQ(rows(on_disk), (std::vector<std::string>{"500/20/two", "450/25/unsaved", "400/30/three",
                                                       "300/10/one", "100/40/four"}));
}

TEST_F(ScoreFiles, AnEntryThatDoesNotRankLeavesTheFileAlone)
{
    ScoreTable t{};
    int index;
    for (int i = 1; i <= 10; ++i) ASSERT_TRUE(save(entry(i * 100, i, "p"), t, index)) << reason;
    struct stat before;
    ASSERT_EQ(stat(path, &before), 0);
    const std::string text = read_file(path);
    for (const ScoreEntry& e : {entry(50, 99, "low"), entry(0, 99, "none"), entry(-7, 99, "neg")}) {
        ScoreTable fresh{};
        ASSERT_TRUE(save(e, fresh, index)) << reason;
        EXPECT_EQ(index, -1);
        EXPECT_EQ(rows(fresh), rows(t));  // the table as it stands
    }
    struct stat after;
    ASSERT_EQ(stat(path, &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);  // not rewritten
    EXPECT_EQ(read_file(path), text);
}

TEST_F(ScoreFiles, TheSavedEntryIsCleanedAndItsIndexFound)
{
    ScoreTable t{};
    int index;
    ASSERT_TRUE(save(entry(70, -5, "  ann\tlee\n"), t, index)) << reason;
    EXPECT_EQ(index, 0);
    EXPECT_EQ(read_file(path), "quorvane-scores 1\n70\t0\tannlee\n");
    ASSERT_TRUE(save(entry(70, 0, "annlee"), t, index)) << reason;  // the same entry again: once
    EXPECT_EQ(index, 0);
    EXPECT_EQ(t.count, 1);
}

TEST_F(ScoreFiles, LoadingWithoutAFileGivesAnEmptyTableAndMakesNothing)
{
    ScoreTable t = table_of({entry(5, 5, "stale")});
    ASSERT_TRUE(load(t)) << reason;
    EXPECT_EQ(t.count, 0);
    EXPECT_STREQ(reason, "");
    EXPECT_FALSE(fs::exists(root / "data"));
    fs::create_directories(folder);
    ASSERT_TRUE(load(t)) << reason;
    EXPECT_EQ(names_in(folder), std::vector<std::string>{});
}

TEST_F(ScoreFiles, ADamagedFileIsKeptAsideByteForByteAndRepaired)
{
    const std::string damaged = "quorvane-scores 1\n900\t1\tann\n\xff\xfe\x00junk\n"s +
                                "-3\t1\tneg\n500\t2\tbo\n40\t3\tcy";
    write_file(path, damaged);
    ScoreTable t;
    ASSERT_TRUE(load(t)) << reason;
    EXPECT_EQ(rows(t), (std::vector<std::string>{"900/1/ann", "500/2/bo"}));
    EXPECT_TRUE(std::regex_search(reason, std::regex("^3 problems in .*/scores: kept it aside as scores"
                                                     "\\.damaged-[0-9]{8}-[0-9]{6}, wrote the 2 entries")))
        << reason;
    std::vector<std::string> names = names_in(folder);
    ASSERT_EQ(names.size(), 3u);
    EXPECT_TRUE(std::regex_match(names[1], std::regex("scores\\.damaged-[0-9]{8}-[0-9]{6}"))) << names[1];
    EXPECT_EQ(read_file(folder / names[1]), damaged);
    EXPECT_EQ(read_file(path), "quorvane-scores 1\n900\t1\tann\n500\t2\tbo\n");
    EXPECT_EQ(mode_of(path), 0600u);

    // Loading again finds nothing to repair; a second damage, even within the
    // same second, is kept under a name of its own.
    ASSERT_TRUE(load(t)) << reason;
    EXPECT_STREQ(reason, "");
    write_file(path, "second damage\n");
    ASSERT_TRUE(load(t)) << reason;
    EXPECT_EQ(t.count, 0);
    const std::vector<std::string> later = names_in(folder);
    ASSERT_EQ(later.size(), 4u);
    EXPECT_EQ(read_file(folder / names[1]), damaged);
    const std::string second = later[1] == names[1] ? later[2] : later[1];
    EXPECT_EQ(read_file(folder / second), "second damage\n");
    EXPECT_EQ(read_file(path), "quorvane-scores 1\n");
}

TEST_F(ScoreFiles, FailuresSayWhichStepAndLeaveTheTableAlone)
{
    const ScoreTable before = table_of({entry(10, 1, "mine")});
    ScoreTable t = before;
    int index = 5;

    fs::create_directories(path);  // the table's path is a folder
    EXPECT_FALSE(save(entry(20, 2, "new"), t, index));
    EXPECT_EQ(std::string(reason), "reading " + std::string(path) + ": Is a directory");
    EXPECT_EQ(index, -1);
    EXPECT_EQ(rows(t), rows(before));
    EXPECT_FALSE(load(t));
    EXPECT_EQ(std::string(reason), "reading " + std::string(path) + ": Is a directory");
    fs::remove(path);

    t = before;
    fs::create_directories(folder / "scores.lock.x");
    fs::remove(folder / "scores.lock");
    fs::rename(folder / "scores.lock.x", folder / "scores.lock");  // the lock file is a folder
    EXPECT_FALSE(save(entry(20, 2, "new"), t, index));
    EXPECT_EQ(std::string(reason), "creating the lock file " + std::string(path) + ".lock: Is a directory");
    EXPECT_EQ(rows(t), rows(before));
    EXPECT_EQ(names_in(folder), (std::vector<std::string>{"scores.lock"}));

    ASSERT_EQ(mkfifo((folder / "scores").c_str(), 0600), 0);  // must not hang
    EXPECT_FALSE(load(t));
    EXPECT_EQ(std::string(reason), "reading " + std::string(path) + ": Invalid argument");

    t = before;
    EXPECT_FALSE(save_score("", entry(20, 2, "new"), t, index, reason, sizeof reason));
    EXPECT_EQ(std::string(reason).rfind("no place for the high-score table", 0), 0u) << reason;
    EXPECT_EQ(rows(t), rows(before));
    EXPECT_FALSE(load_scores("", t, reason, sizeof reason));
    EXPECT_EQ(std::string(reason).rfind("no place for the high-score table", 0), 0u) << reason;
}

TEST_F(ScoreFiles, ALockHeldByAnotherCopyFailsAfterABoundedWait)
{
    fs::create_directories(folder);
    const int held = open((folder / "scores.lock").c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    ScoreTable t{};
    int index;
    EXPECT_FALSE(save(entry(20, 2, "new"), t, index));
    EXPECT_NE(std::string(reason).find("another copy of the game held it"), std::string::npos) << reason;
    EXPECT_EQ(t.count, 0);
    EXPECT_FALSE(fs::exists(path));
    close(held);
    EXPECT_TRUE(save(entry(20, 2, "new"), t, index)) << reason;
}
