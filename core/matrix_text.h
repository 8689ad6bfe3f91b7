// The debug log and the matrix text format.
#pragma once

#include <fstream>
#include <ostream>

#include "core/matrix.h"

// "debug-file.txt" in the working directory, opened (truncated) during static
// initialisation and closed at exit. If it cannot be opened every write is
// silently lost.
extern std::ofstream debug_log;

// Writes A as a table (entries below 1e-10 as "0") and then as a one-line
// Matrix literal (entries below 1e-9 as "0"), in the stream's number format.
void print_matrix(DenseMatrix A, std::ostream& out);
