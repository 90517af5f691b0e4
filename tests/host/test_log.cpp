#include "host/log.h"

#include "host/clock.h"
#include "process/process.h"
#include "temp_folder.h"

#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

namespace {

std::vector<std::string> split_lines(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// Every test starts a fresh log in its own data folder.
struct LogTest : ::testing::Test {
    TempFolder dir;
    HomeGuard home{dir.path};

    void SetUp() override { vemo_log_close(); }
    void TearDown() override { vemo_log_close(); }

    std::string log_path() const { return dir / "log.txt"; }
    std::vector<std::string> closed_lines()
    {
        vemo_log_close();
        return split_lines(read_text_file(log_path()));
    }
};

// Strips the timestamp of a normal line so tests can compare the rest.
std::string without_time(const std::string &line)
{
    static const std::regex timed(R"(^\[\d{6,} (\d{3,})\] (.*)$)");
    std::smatch m;
    if (!std::regex_match(line, m, timed))
        return "<malformed: " + line + ">";
    return "[" + m[1].str() + "] " + m[2].str();
}

} // namespace

TEST_F(LogTest, LineHasTimeProcessAndFormattedMessage)
{
    int64_t before = get_ticks();
    vemo_debug("hello %d %s\n", 42, "there");
    int64_t after = get_ticks();

    std::string text = read_text_file(log_path());   // flushed without closing
    std::smatch m;
    ASSERT_TRUE(std::regex_match(text, m, std::regex(R"(^\[(\d{6}) 000\] hello 42 there\n$)"))) << text;
    int64_t stamp = std::stoll(m[1].str());
    EXPECT_GE(stamp, before);
    EXPECT_LE(stamp, after);
}

TEST_F(LogTest, LineCarriesCurrentProcessId)
{
    auto p = std::make_unique<Process>();
    p->id = 7;
    Process *saved = cproc;
    cproc = p.get();
    vemo_debug("from seven\n");
    cproc = saved;
    vemo_debug("from none\n");

    auto lines = closed_lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(without_time(lines[0]), "[007] from seven");
    EXPECT_EQ(without_time(lines[1]), "[000] from none");
}

TEST_F(LogTest, RepeatsFoldIntoCountLineBeforeNextMessage)
{
    for (int i = 0; i < 4; i++)
        vemo_debug("same\n");
    EXPECT_EQ(split_lines(read_text_file(log_path())).size(), 1u) << "repeats are only counted";
    vemo_debug("other\n");
    vemo_debug("same\n");

    auto lines = split_lines(read_text_file(log_path()));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(without_time(lines[0]), "[000] same");
    EXPECT_EQ(lines[1], "[x 0003 000] same");
    EXPECT_EQ(without_time(lines[2]), "[000] other");
    EXPECT_EQ(without_time(lines[3]), "[000] same");

    vemo_debug("same\n");
    lines = closed_lines();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[4], "[x 0001 000] same") << "closing writes the pending count";
}

TEST_F(LogTest, SkipsOneLeadingGreaterThenOneLessThanBeforeFolding)
{
    for (const char *msg : {">a\n", "<b\n", "><c\n", "<>d\n", ">>e\n", "<>e\n", "e\n", "<e\n"})
        vemo_debug("%s", msg);
    auto lines = closed_lines();
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(without_time(lines[0]), "[000] a");
    EXPECT_EQ(without_time(lines[1]), "[000] b");
    EXPECT_EQ(without_time(lines[2]), "[000] c");
    EXPECT_EQ(without_time(lines[3]), "[000] >d");
    EXPECT_EQ(without_time(lines[4]), "[000] >e");
    EXPECT_EQ(lines[5], "[x 0001 000] >e");
    EXPECT_EQ(without_time(lines[6]), "[000] e");
    EXPECT_EQ(lines[7], "[x 0001 000] e");
}

TEST_F(LogTest, LongMessageIsCutAt16KiB)
{
    // Differ only past the cut, so the second folds into the first.
    std::string cut(16 * 1024 - 1, 'x');
    vemo_debug("%sA\n", (cut + "yyyy").c_str());
    vemo_debug("%sB\n", (cut + "yyyy").c_str());
    vemo_log_close();

    std::string text = read_text_file(log_path());
    size_t start = text.find("] ") + 2;
    ASSERT_EQ(text.substr(0, 1), "[");
    EXPECT_EQ(text.substr(start), cut + "[x 0001 000] " + cut);
}

TEST_F(LogTest, ReopensTruncatedInTheCurrentDataFolder)
{
    vemo_debug("first folder\n");
    vemo_log_close();

    TempFolder other;
    {
        HomeGuard second(other.path + "\\");   // backslash becomes a slash
        vemo_debug("second folder\n");
        vemo_log_close();
        vemo_debug("second folder\n");   // not folded into the closed file's last line
        vemo_log_close();
    }
    auto first = split_lines(read_text_file(log_path()));
    auto second = split_lines(read_text_file(other / "log.txt"));
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(without_time(first[0]), "[000] first folder");
    ASSERT_EQ(second.size(), 1u) << "reopening truncates";
    EXPECT_EQ(without_time(second[0]), "[000] second folder");
}

TEST_F(LogTest, UnopenableFileDropsMessagesUntilItCanBeOpened)
{
    write_text_file(dir / "plainfile", "x");
    {
        HomeGuard broken(dir / "plainfile");
        vemo_debug("lost\n");
    }
    vemo_debug("kept\n");
    auto lines = closed_lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(without_time(lines[0]), "[000] kept");
}

TEST_F(LogTest, WorkerThreadsLoseNoMessagesAndLogAsProcessZero)
{
    auto p = std::make_unique<Process>();
    p->id = 5;
    Process *saved = cproc;
    cproc = p.get();

    // Runs of a shared message between distinct ones exercise the fold count
    // from several threads at once.
    const int threads = 4, rounds = 2000;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; t++)
        workers.emplace_back([t] {
            for (int i = 0; i < rounds; i++) {
                vemo_debug("shared\n");
                if (i % 3 == 0)
                    vemo_debug("worker %d line %d\n", t, i);
            }
        });
    for (auto &w : workers)
        w.join();
    cproc = saved;

    long long shared = 0, own = 0;
    const std::regex normal(R"(^\[\d{6} 000\] (shared|worker \d line \d+)$)");
    const std::regex fold(R"(^\[x (\d{4}) 000\] shared$)");
    for (const std::string &line : closed_lines()) {
        std::smatch m;
        if (std::regex_match(line, m, fold))
            shared += std::stoll(m[1].str());
        else if (std::regex_match(line, m, normal))
            (m[1].str() == "shared" ? shared : own) += 1;
        else
            FAIL() << "malformed line: " << line;
    }
    EXPECT_EQ(shared, threads * rounds);
    EXPECT_EQ(own, threads * ((rounds + 2) / 3));
}
