// The whole start-up computation against stored outputs, byte for byte. The
// stored files were checked against every value the design states (first
// test below) and against an independent evaluation of the same steps.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "core/matrix_text.h"
#include "startup/mode_surface.h"
#include "tests/core/matrix_test_support.h"
#include "tests/startup/owned_surface.h"

namespace fs = std::filesystem;

namespace {

std::string golden(const char* name) {
    return slurp(fs::path(VL_SOURCE_DIR) / "tests" / "golden" / name);
}

std::vector<std::string> tokens(const std::string& line, char separator) {
    std::vector<std::string> result;
    std::istringstream in(line);
    for (std::string token; std::getline(in, token, separator);)
        result.push_back(token);
    return result;
}

// Names the first differing line instead of dumping two large files.
void expectSameText(const std::string& actual, const std::string& expected, const char* what) {
    if (actual == expected)
        return;
    const std::vector<std::string> a = lines(actual), e = lines(expected);
    std::size_t i = 0;
    while (i < a.size() && i < e.size() && a[i] == e[i])
        ++i;
    ADD_FAILURE() << what << " differs first at line " << i + 1 << ":\n  actual:   "
                  << (i < a.size() ? a[i].substr(0, 200) : "<end>") << "\n  expected: "
                  << (i < e.size() ? e[i].substr(0, 200) : "<end>") << "\n  sizes " << actual.size()
                  << " / " << expected.size();
}

constexpr int N = 271;

}  // namespace

TEST(GoldenFiles, AgreeWithTheDesign) {
    const std::string out = golden("startup-stdout.txt");
    ASSERT_FALSE(out.empty());
    ASSERT_EQ(out.back(), '\n');
    const std::vector<std::string> printed = lines(out);
    ASSERT_EQ(printed.size(), 2u + N + 2u);
    EXPECT_EQ(printed[0], "0");
    EXPECT_EQ(printed[1], "271 columns by 271rows");
    for (int i = 0; i < N; ++i) {
        const std::string& row = printed[2 + i];
        ASSERT_EQ(row.back(), ' ');
        const std::vector<std::string> entries = tokens(row.substr(0, row.size() - 1), ' ');
        ASSERT_EQ(entries.size(), std::size_t(N)) << "row " << i;
        int nonzero = 0;
        for (const std::string& e : entries)
            nonzero += e != "0";
        EXPECT_LE(nonzero, 7) << "row " << i;
    }
    const std::vector<std::string> row0 = tokens(printed[2], ' ');
    EXPECT_EQ(row0[0], streamed(-200.0));
    for (int j = 1; j <= 6; ++j)
        EXPECT_EQ(row0[j], streamed(100.0 / 3.0));
    for (int j = 7; j < N; ++j)
        EXPECT_EQ(row0[j], "0");
    const std::vector<std::string> row1 = tokens(printed[3], ' ');
    EXPECT_EQ(row1[0], streamed(55.775029));
    EXPECT_EQ(row1[1], streamed(-150.023513));
    EXPECT_EQ(row1[2], streamed(4.495070));
    EXPECT_EQ(row1[6], streamed(4.495070));
    EXPECT_EQ(row1[7], streamed(-7.999051));
    EXPECT_EQ(row1[8], streamed(46.628697));
    EXPECT_EQ(row1[18], streamed(46.628697));
    EXPECT_EQ(printed[2 + N], "");
    const std::string& literal = printed[3 + N];
    ASSERT_EQ(literal.rfind("Matrix([[", 0), 0u);
    ASSERT_EQ(literal.substr(literal.size() - 4), "]]);");
    EXPECT_EQ(literal.find(' '), std::string::npos);
    const std::vector<std::string> literalRows = tokens(literal.substr(9, literal.size() - 13), ']');
    ASSERT_EQ(literalRows.size(), std::size_t(N));
    EXPECT_EQ(tokens(literalRows[1], ',').size(), std::size_t(N) + 1) << "',[' then the entries";

    const std::string log = golden("startup-debug-file.txt");
    ASSERT_FALSE(log.empty());
    ASSERT_EQ(log.back(), '\n');
    const std::vector<std::string> report = lines(log);
    ASSERT_NO_FATAL_FAILURE(expectReportFrame(report, N, 5));
    for (int i = 0; i < 3; ++i) {
        const std::size_t at = reportedVectorLine(N, i);
        const std::string heading = reportedVectorHeading(i);
        // The listed column is the table's column, unrounded where the table shows 0.
        for (int r = 0; r < N; ++r) {
            const std::string value = r == 0 ? report[at].substr(heading.size()) : report[at + r];
            const std::string cell = tokens(report[1 + r], ' ')[i];
            if (cell != "0")
                EXPECT_EQ(value, cell) << "column " << i << " row " << r;
            else
                EXPECT_LT(std::fabs(std::stod(value)), 1e-10) << "column " << i << " row " << r;
        }
    }
    // Column 0 is the fundamental mode: its ratios agree, near half of minus
    // the first Dirichlet eigenvalue of the unit disk (2.4048^2 / 2).
    const std::vector<std::string> range = tokens(report[reportedVectorLine(N, 0) + 2 * N + 3], ' ');
    ASSERT_EQ(range.size(), 2u);
    const double lo = std::stod(range[0]), hi = std::stod(range[1]);
    EXPECT_LT(hi - lo, 1e-4);
    EXPECT_NEAR(lo, -2.4048 * 2.4048 / 2, 0.05);
}

// Needs the process-wide generator untouched: nothing else in this program
// runs the solver.
TEST(GoldenFiles, InProcessComputationWritesThemExactly) {
    CapturedStdout out;
    CapturedLog log;
    const OwnedSurface surface(ModeComputation());

    EXPECT_EQ(surface->vertexCount, 331);
    expectSameText(out.text.str(), golden("startup-stdout.txt"), "standard output");
    expectSameText(log.str(), golden("startup-debug-file.txt"), "debug log");
}

namespace {

// The program beside the test tree: <build>/tests/startup/<test> -> <build>/vibrolane.
fs::path programPath() {
    return fs::read_symlink("/proc/self/exe").parent_path().parent_path().parent_path() / "vibrolane";
}

// Runs the program in directory with standard output sent to stdout.txt there.
// Without a display server the viewer cannot open its window, so the program
// ends (with 1) right after the computation; its registry stays in directory.
int runProgram(const fs::path& directory) {
    const fs::path program = programPath();
    const pid_t child = fork();
    if (child == 0) {
        FILE* out = std::fopen((directory / "stdout.txt").c_str(), "wb");
        FILE* err = std::fopen((directory / "stderr.txt").c_str(), "wb");
        if (!out || !err || chdir(directory.c_str()) != 0 || dup2(fileno(out), 1) < 0 || dup2(fileno(err), 2) < 0)
            _exit(126);
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        unsetenv("QT_QPA_PLATFORM");
        setenv("XDG_CONFIG_HOME", (directory / "config").c_str(), 1);
        execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

struct TempDirectory {
    fs::path path;
    TempDirectory() {
        std::string pattern = (fs::temp_directory_path() / "vibrolane-golden-XXXXXX").string();
        path = mkdtemp(pattern.data());
    }
    ~TempDirectory() { fs::remove_all(path); }
};

}  // namespace

TEST(GoldenFiles, ProgramTruncatesTheLogAndWritesThemExactly) {
    ASSERT_TRUE(fs::exists(programPath())) << programPath() << " is built with the vibrolane target";
    TempDirectory dir;
    {
        std::ofstream stale(dir.path / "debug-file.txt");
        stale << std::string(100000, 'x') << "\n";
    }
    ASSERT_EQ(runProgram(dir.path), 1);
    expectSameText(slurp(dir.path / "stdout.txt"), golden("startup-stdout.txt"), "standard output");
    expectSameText(slurp(dir.path / "debug-file.txt"), golden("startup-debug-file.txt"), "debug-file.txt");

    // A second start replaces the first run's log, it does not append.
    ASSERT_EQ(runProgram(dir.path), 1);
    expectSameText(slurp(dir.path / "debug-file.txt"), golden("startup-debug-file.txt"), "debug-file.txt");
}

TEST(GoldenFiles, ProgramProceedsWhenTheLogCannotBeOpened) {
    ASSERT_TRUE(fs::exists(programPath()));
    TempDirectory dir;
    fs::create_directory(dir.path / "debug-file.txt");
    ASSERT_EQ(runProgram(dir.path), 1);
    expectSameText(slurp(dir.path / "stdout.txt"), golden("startup-stdout.txt"), "standard output");
    EXPECT_TRUE(fs::is_directory(dir.path / "debug-file.txt"));
    // The lost log is said, once and first.
    const std::string err = slurp(dir.path / "stderr.txt");
    EXPECT_EQ(err.find("vibrolane: cannot create debug-file.txt in the working folder"), 0u) << err;
    EXPECT_EQ(err.find("debug-file.txt", err.find('\n')), std::string::npos) << err;
}
