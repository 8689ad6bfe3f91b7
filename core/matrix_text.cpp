#include "core/matrix_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <locale>
#include <string>

// <iostream> above makes sure the console streams exist before this opens.
std::ofstream debug_log("debug-file.txt");

namespace {

// Writes straight through the stream: used when the stream's number format
// is not the default, so whatever the caller set up is honoured.
class StreamWriter {
public:
    explicit StreamWriter(std::ostream& out) : out_(out) {}
    void text(const char* s, std::size_t n) { out_.write(s, static_cast<std::streamsize>(n)); }
    void character(char c) { out_.put(c); }
    void number(double v) { out_ << v; }
    void integer(int v) { out_ << v; }
    void finish() {}

private:
    std::ostream& out_;
};

// Formats into a buffer and hands it over in large blocks. A matrix of a few
// hundred rows has around 150 000 entries; going through the locale machinery
// of the stream once per entry would dominate the run.
class BufferWriter {
public:
    explicit BufferWriter(std::ostream& out) : out_(out) { buffer_.reserve(block + 64); }
    void text(const char* s, std::size_t n)
    {
        buffer_.append(s, n);
        spill();
    }
    void character(char c)
    {
        buffer_.push_back(c);
        spill();
    }
    void number(double v)
    {
        char digits[64];
        std::size_t n;
        if (std::isfinite(v)) {
            // Same text as printf's %.6g, which is what the stream's default
            // format produces in the classic locale.
            const auto end =
                std::to_chars(digits, digits + sizeof digits, v, std::chars_format::general, 6).ptr;
            n = static_cast<std::size_t>(end - digits);
        } else {
            // Infinities and NaNs: the platform's own %g spelling, as the stream gives it.
            n = static_cast<std::size_t>(std::snprintf(digits, sizeof digits, "%.*g", 6, v));
        }
        buffer_.append(digits, n);
        spill();
    }
    void integer(int v)
    {
        char digits[16];
        const auto end = std::to_chars(digits, digits + sizeof digits, v).ptr;
        buffer_.append(digits, static_cast<std::size_t>(end - digits));
        spill();
    }
    void finish()
    {
        if (!buffer_.empty())
            out_.write(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
        buffer_.clear();
    }

private:
    static constexpr std::size_t block = 1 << 16;

    void spill()
    {
        if (buffer_.size() >= block)
            finish();
    }

    std::ostream& out_;
    std::string buffer_;
};

// An entry smaller than threshold in magnitude is written as a bare 0.
template <class Writer>
void write_entry(double v, double threshold, Writer& w)
{
    if (std::fabs(v) < threshold)
        w.character('0');
    else
        w.number(v);
}

template <class Writer>
void write_matrix(const DenseMatrix& A, Writer& w)
{
    const int rows = A.nrows();
    const int cols = A.ncols();
    w.integer(cols);
    w.text(" columns by ", 12);
    w.integer(rows);
    w.text("rows\n", 5);
    for (int i = 0; i < rows; ++i) {
        for (int j = 0; j < cols; ++j) {
            write_entry(A(i, j), 1e-10, w);
            w.character(' ');
        }
        w.character('\n');
    }
    w.text("\nMatrix([", 9);
    for (int i = 0; i < rows; ++i) {
        if (i > 0)
            w.character(',');
        w.character('[');
        for (int j = 0; j < cols; ++j) {
            if (j > 0)
                w.character(',');
            write_entry(A(i, j), 1e-9, w);
        }
        w.character(']');
    }
    w.text("]);\n", 4);
    w.finish();
}

bool default_number_format(const std::ostream& out)
{
    return out.flags() == (std::ios_base::dec | std::ios_base::skipws) && out.precision() == 6 &&
           out.width() == 0 && out.getloc() == std::locale::classic();
}

}  // namespace

void print_matrix(DenseMatrix A, std::ostream& out)
{
    const DenseMatrix& M = A;
    if (default_number_format(out)) {
        BufferWriter w(out);
        write_matrix(M, w);
    } else {
        StreamWriter w(out);
        write_matrix(M, w);
    }
}
