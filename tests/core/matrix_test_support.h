// Small helpers the core and start-up tests share: matrices and vectors from
// and to plain lists, the text of an mtl::assertion, and the program's two
// output streams held in memory.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "core/disk_mesh.h"
#include "core/matrix.h"
#include "core/matrix_text.h"

// Runs f and returns the message of the mtl::assertion it throws.
inline std::string failure_of(const std::function<void()>& f)
{
    try {
        f();
    } catch (const mtl::assertion& e) {
        return e.what();
    }
    return "no assertion";
}

inline std::string message(const std::string& condition, const std::string& operation)
{
    return "mtl assertion: " + condition + " failed in " + operation;
}

// Row by row, as the entries are written on paper.
inline DenseMatrix mat(int rows, int cols, const std::vector<double>& values)
{
    DenseMatrix A(rows, cols);
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j)
            A(i, j) = values[i * cols + j];
    return A;
}

inline std::vector<double> values(const DenseMatrix& A)
{
    std::vector<double> out;
    for (int i = 0; i < A.nrows(); ++i)
        for (int j = 0; j < A.ncols(); ++j)
            out.push_back(A(i, j));
    return out;
}

inline DenseVector vec(const std::vector<double>& values)
{
    DenseVector v(static_cast<int>(values.size()));
    for (int i = 0; i < v.size(); ++i)
        v(i) = values[i];
    return v;
}

template <class Vector>
auto values(const Vector& v) -> std::vector<std::remove_cvref_t<decltype(v(0))>>
{
    std::vector<std::remove_cvref_t<decltype(v(0))>> out;
    for (int i = 0; i < v.size(); ++i)
        out.push_back(v(i));
    return out;
}

// A copy that keeps its own storage.
inline DenseMatrix clone(const DenseMatrix& A)
{
    DenseMatrix B(A.nrows(), A.ncols());
    mtl::copy(A, B);
    return B;
}

// What operator<< writes for the value, the form the printed tables use.
inline std::string streamed(double v)
{
    std::ostringstream out;
    out << v;
    return out.str();
}

inline std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        result.push_back(line);
    return result;
}

inline std::string slurp(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Standard output goes to memory while alive.
struct CapturedStdout {
    std::ostringstream text;
    std::streambuf* saved = std::cout.rdbuf(text.rdbuf());
    ~CapturedStdout() { std::cout.rdbuf(saved); }
};

// The debug log goes to memory while alive, counting the flushes it receives.
class CapturedLog : public std::stringbuf {
public:
    CapturedLog() : saved_(static_cast<std::ostream&>(debug_log).rdbuf(this)) {}
    ~CapturedLog() override { static_cast<std::ostream&>(debug_log).rdbuf(saved_); }
    int flushes = 0;

protected:
    int sync() override
    {
        ++flushes;
        return std::stringbuf::sync();
    }

private:
    std::streambuf* saved_;
};

inline DiskMesh quietMesh(int b, int n)
{
    CapturedStdout discard;
    return generate_disk_mesh(b, n);
}

// Where the report of inverse_subspace_iteration on an n-row operator lists
// vector i (0, 1 or 2), and the heading that holds its first entry.
inline std::size_t reportedVectorLine(int n, int i)
{
    return n + 4 + i * (2 * n + 4);
}
inline std::string reportedVectorHeading(int i)
{
    return std::to_string(i) + "th 'eigen'vector is ";
}

// The lines every such report has: the V table of k columns and its literal,
// then three vectors, each listed with its transform and two blank lines
// before the ratio range. Call through ASSERT_NO_FATAL_FAILURE: a short
// report stops here.
inline void expectReportFrame(const std::vector<std::string>& report, int n, int k)
{
    ASSERT_EQ(report.size(), 4u + n + 3u * (2u * n + 4u));
    EXPECT_EQ(report[0], "The V matrix is " + std::to_string(k) + " columns by " + std::to_string(n) + "rows");
    EXPECT_EQ(report[n + 1], "");
    EXPECT_EQ(report[n + 2].rfind("Matrix([[", 0), 0u);
    EXPECT_EQ(report[n + 3], "");
    for (int i = 0; i < 3; ++i) {
        const std::size_t at = reportedVectorLine(n, i);
        ASSERT_EQ(report[at].rfind(reportedVectorHeading(i), 0), 0u) << "line " << at + 1 << ": " << report[at];
        EXPECT_EQ(report[at + n], "") << "line " << at + n + 1;
        ASSERT_EQ(report[at + n + 1].rfind("transformed is ", 0), 0u) << "line " << at + n + 2;
        EXPECT_EQ(report[at + 2 * n + 1], "");
        EXPECT_EQ(report[at + 2 * n + 2], "");
    }
}
