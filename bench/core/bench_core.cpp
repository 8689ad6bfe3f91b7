// The start-up computation runs before the first window appears, so its
// whole duration is the user's wait. The outputs go to a discarding buffer:
// the numbers are still formatted, only the file and terminal writes are
// left out.
#include <benchmark/benchmark.h>

#include <iostream>
#include <streambuf>

#include "core/assembly.h"
#include "core/disk_mesh.h"
#include "core/eigen_solver.h"
#include "core/lu.h"
#include "core/matrix_text.h"
#include "mode/mode_surface.h"

namespace {

class DiscardingBuffer : public std::streambuf {
public:
    DiscardingBuffer() { reset(); }

protected:
    int_type overflow(int_type c) override
    {
        reset();
        return traits_type::not_eof(c);
    }

private:
    void reset() { setp(area_, area_ + sizeof area_); }
    char area_[8192];
};

// Points standard output and the debug log at a discarding buffer while alive.
class DiscardedOutputs {
public:
    DiscardedOutputs()
        : savedOut_(std::cout.rdbuf(&sink_)), savedLog_(static_cast<std::ostream&>(debug_log).rdbuf(&sink_))
    {
    }
    ~DiscardedOutputs()
    {
        std::cout.rdbuf(savedOut_);
        static_cast<std::ostream&>(debug_log).rdbuf(savedLog_);
    }

private:
    DiscardingBuffer sink_;
    std::streambuf* savedOut_;
    std::streambuf* savedLog_;
};

DiskMesh systemMesh()
{
    DiscardedOutputs quiet;
    return generate_disk_mesh(6, 10);
}

const DenseMatrix& systemOperator()
{
    static const DenseMatrix K = assemble_operator(systemMesh());
    return K;
}

void BM_ModeComputation(benchmark::State& state)
{
    DiscardedOutputs quiet;
    for (auto _ : state) {
        ModeSurface surface = ModeComputation();
        benchmark::DoNotOptimize(surface.vertices);
        // The program keeps its surface for good; here each run's would pile up.
        delete[] surface.triangles;
        delete[] surface.vertices;
    }
}
BENCHMARK(BM_ModeComputation)->Unit(benchmark::kMillisecond);

void BM_AssembleOperator(benchmark::State& state)
{
    const DiskMesh mesh = systemMesh();
    for (auto _ : state) {
        DenseMatrix K = assemble_operator(mesh);
        benchmark::DoNotOptimize(K(0, 0));
    }
}
BENCHMARK(BM_AssembleOperator)->Unit(benchmark::kMillisecond);

void BM_LuFactorOperator(benchmark::State& state)
{
    const DenseMatrix& K = systemOperator();
    const int N = K.nrows();
    for (auto _ : state) {
        state.PauseTiming();
        DenseMatrix B(N, N);
        mtl::copy(K, B, mtl::twod_tag());
        IndexVector pivots(N, 0);
        state.ResumeTiming();
        benchmark::DoNotOptimize(lu_factor(B, pivots));
    }
}
BENCHMARK(BM_LuFactorOperator)->Unit(benchmark::kMillisecond);

// The 100 steps of block inverse iteration: 500 solves and 100 QR factorizations.
void BM_InverseIterationSteps(benchmark::State& state)
{
    const DenseMatrix& K = systemOperator();
    const int N = K.nrows();
    const int k = 5;
    DenseMatrix B(N, N);
    mtl::copy(K, B, mtl::twod_tag());
    IndexVector pivots(N, 0);
    lu_factor(B, pivots);
    RandomGenerator generator;
    DenseMatrix start(N, k);
    DenseVector column(N);
    for (int j = 0; j < k; ++j) {
        random_start_column(generator, column);
        normalize_unit_signed(column);
        for (int r = 0; r < N; ++r)
            start(r, j) = column(r);
    }
    DenseMatrix W(N, k);
    DenseVector rhs(N);
    DenseVector sol(N);
    for (auto _ : state) {
        DenseMatrix V(N, k);
        mtl::copy(start, V, mtl::twod_tag());
        for (int step = 0; step < 100; ++step)
            inverse_iteration_step(B, pivots, V, W, rhs, sol);
        benchmark::DoNotOptimize(V(0, 0));
    }
}
BENCHMARK(BM_InverseIterationSteps)->Unit(benchmark::kMillisecond);

void BM_PrintOperator(benchmark::State& state)
{
    const DenseMatrix& K = systemOperator();
    DiscardingBuffer sink;
    std::ostream out(&sink);
    for (auto _ : state)
        print_matrix(K, out);
}
BENCHMARK(BM_PrintOperator)->Unit(benchmark::kMillisecond);

}  // namespace
