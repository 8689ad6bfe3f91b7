#include "core/matrix_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "tests/core/matrix_test_support.h"

namespace {

std::string printed(const DenseMatrix& A)
{
    std::ostringstream out;
    print_matrix(A, out);
    return out.str();
}

}  // namespace

TEST(PrintMatrix, TwoByThreeExample)
{
    EXPECT_EQ(printed(mat(2, 3, {1, 0.5, 0, 2e-11, 3, -4})),
              "3 columns by 2rows\n"
              "1 0.5 0 \n"
              "0 3 -4 \n"
              "\n"
              "Matrix([[1,0.5,0],[0,3,-4]]);\n");
}

TEST(PrintMatrix, OneByOneKeepsThePlural)
{
    EXPECT_EQ(printed(mat(1, 1, {2})), "1 columns by 1rows\n2 \n\nMatrix([[2]]);\n");
}

TEST(PrintMatrix, TableAndLiteralThresholdsDiffer)
{
    EXPECT_EQ(printed(mat(1, 3, {5e-10, -2e-11, 1e-10})),
              "3 columns by 1rows\n5e-10 0 1e-10 \n\nMatrix([[0,0,0]]);\n");
    EXPECT_EQ(printed(mat(1, 2, {1e-9, -1e-9})),
              "2 columns by 1rows\n1e-09 -1e-09 \n\nMatrix([[1e-09,-1e-09]]);\n");
}

TEST(PrintMatrix, SixSignificantDigits)
{
    EXPECT_EQ(printed(mat(1, 4, {0.123456789, 1234567, 100000, 0.0001})),
              "4 columns by 1rows\n0.123457 1.23457e+06 100000 0.0001 \n\n"
              "Matrix([[0.123457,1.23457e+06,100000,0.0001]]);\n");
}

TEST(PrintMatrix, NonFiniteValuesAreWrittenAsNumbers)
{
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::string text = printed(mat(1, 3, {nan, inf, -inf}));
    const std::string row = streamed(nan) + " " + streamed(inf) + " " + streamed(-inf) + " ";
    const std::string literal = streamed(nan) + "," + streamed(inf) + "," + streamed(-inf);
    EXPECT_EQ(text, "3 columns by 1rows\n" + row + "\n\nMatrix([[" + literal + "]]);\n");
}

TEST(PrintMatrix, EmptyMatrix)
{
    EXPECT_EQ(printed(DenseMatrix(0, 3)), "3 columns by 0rows\n\nMatrix([]);\n");
}

// Every table entry must read exactly as the stream writes that double.
TEST(PrintMatrix, NumbersMatchTheStreamFormat)
{
    std::vector<double> v = {0.1,       1.0 / 3,  -2.0 / 3, 999999.4,  999999.5, 9999995,
                             0.0001,    9.99995e-5, 9.999949e-5, 1e-5, 0.00012345650, 1e100,
                             -1e-300,   5e-324,   1.7976931348623157e308, 2.5,  125.5, 0.5e-6,
                             123456.5,  1234565,  0.1234565, 1e-10 * 1.0000001, 1e21, 65536};
    std::mt19937_64 gen(12345);
    std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
    std::uniform_int_distribution<int> exponent(-12, 12);
    for (int i = 0; i < 20000; ++i)
        v.push_back(mantissa(gen) * std::pow(10.0, exponent(gen)));
    for (int i = 0; i < 20000; ++i) {
        // Arbitrary bit patterns cover every exponent; non-finite ones are skipped.
        std::uint64_t bits = gen();
        double d;
        std::memcpy(&d, &bits, sizeof d);
        if (std::isfinite(d))
            v.push_back(d);
    }
    for (int i = 0; i < 2000; ++i)  // short decimals that sit on rounding ties
        v.push_back((gen() % 20000000) / 1000.0 + 0.0000005);

    const int cols = 100;
    const int rows = static_cast<int>(v.size()) / cols;
    DenseMatrix A(rows, cols);
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j)
            A(i, j) = v[i * cols + j];

    std::istringstream text(printed(A));
    std::string line;
    std::getline(text, line);
    for (int i = 0; i < rows; ++i) {
        std::getline(text, line);
        std::istringstream tokens(line);
        for (int j = 0; j < cols; ++j) {
            std::string token;
            tokens >> token;
            const double x = A(i, j);
            ASSERT_EQ(token, std::fabs(x) < 1e-10 ? "0" : streamed(x)) << i << "," << j;
        }
    }
}

TEST(PrintMatrix, HonoursAStreamWithOtherSettings)
{
    std::ostringstream out;
    out.precision(3);
    print_matrix(mat(1, 2, {0.123456789, 2}), out);
    EXPECT_EQ(out.str(), "2 columns by 1rows\n0.123 2 \n\nMatrix([[0.123,2]]);\n");

    std::ostringstream fixed;
    fixed << std::fixed;
    print_matrix(mat(1, 1, {0.5}), fixed);
    EXPECT_EQ(fixed.str(), "1 columns by 1rows\n0.500000 \n\nMatrix([[0.500000]]);\n");
}

TEST(PrintMatrix, FailedStreamAbsorbsTheOutput)
{
    std::ostringstream out;
    out.setstate(std::ios_base::badbit);
    EXPECT_NO_THROW(print_matrix(mat(300, 300, std::vector<double>(90000, 1.5)), out));
    EXPECT_EQ(out.str(), "");
}

TEST(PrintMatrix, LeavesTheMatrixAlone)
{
    DenseMatrix A = mat(1, 2, {1e-12, 7});
    std::ostringstream sink;
    print_matrix(A, sink);
    EXPECT_EQ(A(0, 0), 1e-12);
    EXPECT_EQ(A(0, 1), 7);
    EXPECT_EQ(A.use_count(), 1);
}

// Run by DebugLog tests below in a scratch directory, as a separate process,
// so that the log is opened there during static initialisation.
TEST(DebugLogChild, WritesOneLine)
{
    const char* expect = std::getenv("VL_DEBUG_LOG_CHILD");
    if (!expect)
        GTEST_SKIP() << "only run as a child of the DebugLog tests";
    EXPECT_EQ(debug_log.is_open(), std::string(expect) == "open");
    debug_log << "second run" << '\n';
    debug_log.flush();
}

namespace {

class DebugLog : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/vl_debug_log_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    int run_child(const std::string& expect)
    {
        const std::string exe = std::filesystem::read_symlink("/proc/self/exe").string();
        const std::string command = "cd '" + dir_.string() + "' && VL_DEBUG_LOG_CHILD=" + expect +
                                    " '" + exe + "' --gtest_filter=DebugLogChild.* >/dev/null 2>&1";
        return std::system(command.c_str());
    }

    std::filesystem::path dir_;
};

}  // namespace

TEST_F(DebugLog, OpenedInTheWorkingDirectory)
{
    EXPECT_TRUE(debug_log.is_open());
    EXPECT_TRUE(std::filesystem::exists("debug-file.txt"));
}

TEST_F(DebugLog, EachRunTruncatesTheFile)
{
    std::ofstream(dir_ / "debug-file.txt") << "text of an earlier run that is longer\n";
    ASSERT_EQ(run_child("open"), 0);
    EXPECT_EQ(slurp(dir_ / "debug-file.txt"), "second run\n");
    ASSERT_EQ(run_child("open"), 0);
    EXPECT_EQ(slurp(dir_ / "debug-file.txt"), "second run\n");
}

TEST_F(DebugLog, UnopenableFileLosesTheTextSilently)
{
    // A directory in the file's place cannot be opened for writing, even by root.
    std::filesystem::create_directory(dir_ / "debug-file.txt");
    EXPECT_EQ(run_child("closed"), 0);
    EXPECT_TRUE(std::filesystem::is_directory(dir_ / "debug-file.txt"));
}
