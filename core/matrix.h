// Dense double-precision matrices and vectors with checked access.
//
// Storage is shared between copies through a reference-counted handle, so
// vectors and matrices are passed by value freely; an independent copy is an
// explicit construction followed by mtl::copy. Output arguments of the
// whole-object operations are taken by value for the same reason: the
// caller's object sees every element written.
//
// Every broken precondition throws mtl::assertion. The element accessors are
// the hot path of the factorizations, so they are inline and the throw lives
// out of line in a cold function: a successful access is a compare and a load.
// The loops of the operations work on local handle copies (no allocation):
// the compiler keeps a local's fields in registers across element writes,
// which it cannot prove for an object behind a reference.
#pragma once

#include <cstddef>
#include <exception>
#include <string>
#include <type_traits>
#include <vector>

namespace mtl {

class assertion : public std::exception {
public:
    assertion(const std::string& condition, const std::string& operation);
    const char* what() const noexcept override;

private:
    std::string message_;
};

// Builds the message and throws; kept out of line so callers stay small.
[[noreturn, gnu::cold, gnu::noinline]] void throw_assertion(const char* condition,
                                                            const char* operation);

}  // namespace mtl

// Shared handle: an owned object plus a shared counter. An unbound handle
// (default constructed) has no counter; any access through it throws.
template <class T>
class refcnt_ptr {
public:
    refcnt_ptr() noexcept = default;

    explicit refcnt_ptr(T* object) : object_(object)
    {
        try {
            count_ = new int(1);
        } catch (...) {
            delete object;
            throw;
        }
    }

    // Joins an existing object and counter allocated with new, as a copy
    // would: the counter is incremented and the last handle deletes both.
    refcnt_ptr(T* object, int* count) noexcept : object_(object), count_(count)
    {
        if (count_)
            ++*count_;
    }

    refcnt_ptr(const refcnt_ptr& other) noexcept : object_(other.object_), count_(other.count_)
    {
        if (count_)
            ++*count_;
    }

    refcnt_ptr& operator=(const refcnt_ptr& other) noexcept
    {
        T* object = other.object_;
        int* count = other.count_;
        if (count)
            ++*count;
        release();
        object_ = object;
        count_ = count;
        return *this;
    }

    ~refcnt_ptr() { release(); }

    T& operator*()
    {
        check("refcnt_ptr::operator*()");
        return *object_;
    }
    const T& operator*() const
    {
        check("const refcnt_ptr::operator*()");
        return *object_;
    }
    T* operator->()
    {
        check("refcnt_ptr::operator->()");
        return object_;
    }
    const T* operator->() const
    {
        check("const refcnt_ptr::operator->()");
        return object_;
    }

    // The test every access through the handle makes; element accessors call
    // it directly and then read through a pointer they cached at
    // construction (arrays never reallocate), naming the access form they
    // stand for.
    void check(const char* operation) const
    {
        if (count_ == nullptr)
            mtl::throw_assertion("count != 0", operation);
        if (*count_ < 0)
            mtl::throw_assertion("*count >= 0", operation);
    }

    // Number of handles sharing the object; 0 for an unbound handle.
    int use_count() const noexcept { return count_ ? *count_ : 0; }

private:
    void release() noexcept
    {
        if (count_ && --*count_ <= 0)
            destroy();
        object_ = nullptr;
        count_ = nullptr;
    }

    // Out of line: the compiler cannot follow the counter across handles and
    // would otherwise warn about a use after free that cannot happen.
    [[gnu::noinline]] void destroy() noexcept
    {
        delete object_;
        delete count_;
    }

    T* object_ = nullptr;
    int* count_ = nullptr;
};

// One-dimensional dense vector; DenseVector and IndexVector are its two
// element types. Element access is bounds-checked against the array length.
template <class T>
class dense1D {
public:
    using value_type = T;

    dense1D() : dense1D(new std::vector<T>()) {}
    explicit dense1D(int n, T value = T()) : dense1D(new std::vector<T>(n, value)) {}

    int size() const
    {
        storage_.check("const refcnt_ptr::operator->()");
        return static_cast<int>(size_);
    }
    int first() const { return first_; }

    T& operator()(int i)
    {
        storage_.check("refcnt_ptr::operator*()");
        const unsigned k = static_cast<unsigned>(i) - static_cast<unsigned>(first_);
        if (k >= size_)
            mtl::throw_assertion("i - first < size()", "dense1D::operator[]");
        return data_[k];
    }
    T operator()(int i) const
    {
        storage_.check("const refcnt_ptr::operator*()");
        const unsigned k = static_cast<unsigned>(i) - static_cast<unsigned>(first_);
        if (k >= size_)
            mtl::throw_assertion("i - first < size()", "dense1D::operator[]");
        return data_[k];
    }
    T& operator[](int i) { return (*this)(i); }
    T operator[](int i) const { return (*this)(i); }

    // Number of vectors sharing this storage.
    int use_count() const noexcept { return storage_.use_count(); }

private:
    explicit dense1D(std::vector<T>* array)
        : storage_(array), data_(array->data()), size_(static_cast<unsigned>(array->size()))
    {
    }

    refcnt_ptr<std::vector<T>> storage_;
    T* data_;
    unsigned size_;
    int first_ = 0;
};

using DenseVector = dense1D<double>;
using IndexVector = dense1D<int>;

// Row-major dense matrix. Element access checks only the handle: callers
// index within nrows() by ncols(). A sub-matrix shares the storage and keeps
// the parent's row stride.
class DenseMatrix {
public:
    DenseMatrix(int rows, int cols);

    int nrows() const { return nrows_; }
    int ncols() const { return ncols_; }
    int stride() const { return stride_; }

    double& operator()(int i, int j)
    {
        storage_.check("refcnt_ptr::operator*()");
        return data_[i * stride_ + j];
    }
    double operator()(int i, int j) const
    {
        storage_.check("const refcnt_ptr::operator*()");
        return data_[i * stride_ + j];
    }

    // The block of rows row0..row0+rows-1 and columns col0..col0+cols-1,
    // addressed from (0, 0); writes go to this matrix.
    DenseMatrix sub_matrix(int row0, int col0, int rows, int cols) const;

    int use_count() const noexcept { return storage_.use_count(); }

private:
    friend class RowView;
    friend class ColumnView;

    refcnt_ptr<std::vector<double>> storage_;
    double* data_;  // element (0, 0)
    int nrows_;
    int ncols_;
    int stride_;
};

// Row i of a matrix as a contiguous vector of ncols elements.
class RowView {
public:
    RowView(const DenseMatrix& A, int i)
        : storage_(A.storage_), data_(A.data_ + static_cast<std::ptrdiff_t>(i) * A.stride_),
          size_(A.ncols_)
    {
    }

    int size() const { return size_; }
    double& operator()(int j)
    {
        storage_.check("refcnt_ptr::operator*()");
        return data_[j];
    }
    double operator()(int j) const
    {
        storage_.check("const refcnt_ptr::operator*()");
        return data_[j];
    }

private:
    refcnt_ptr<std::vector<double>> storage_;
    double* data_;
    int size_;
};

// Column j of a matrix as a vector of nrows elements, one row stride apart.
class ColumnView {
public:
    ColumnView(const DenseMatrix& A, int j)
        : storage_(A.storage_), data_(A.data_ + j), stride_(A.stride_), size_(A.nrows_)
    {
    }

    int size() const { return size_; }
    double& operator()(int i)
    {
        storage_.check("refcnt_ptr::operator*()");
        return data_[i * stride_];
    }
    double operator()(int i) const
    {
        storage_.check("const refcnt_ptr::operator*()");
        return data_[i * stride_];
    }

private:
    refcnt_ptr<std::vector<double>> storage_;
    double* data_;
    int stride_;
    int size_;
};

// Read-only alpha * x, sharing x.
class ScaledVector {
public:
    ScaledVector(const DenseVector& x, double alpha) : x_(x), alpha_(alpha) {}

    int size() const { return x_.size(); }
    double alpha() const { return alpha_; }
    const DenseVector& vector() const { return x_; }
    double operator()(int i) const { return alpha_ * x_(i); }

private:
    DenseVector x_;
    double alpha_;
};

namespace mtl {

struct twod_tag {};

template <class V>
concept writable_vector = std::is_same_v<V, DenseVector> || std::is_same_v<V, RowView> ||
                          std::is_same_v<V, ColumnView>;

template <class V>
concept readable_vector = writable_vector<V> || std::is_same_v<V, ScaledVector>;

template <class V>
concept swappable_vector = std::is_same_v<V, DenseVector> || std::is_same_v<V, RowView>;

// y(i) = x(i) for every i of x; elements of y beyond x.size() stay.
template <class X, class Y>
    requires readable_vector<X> && writable_vector<std::remove_cvref_t<Y>>
void copy(const X& x, Y&& y)
{
    const int n = x.size();
    if (!(n <= y.size()))
        throw_assertion("x.size() <= y.size()", "mtl::copy()");
    const X from = x;
    std::remove_cvref_t<Y> to = y;
    for (int i = 0; i < n; ++i)
        to(i) = from(i);
}

template <class X, class Y>
    requires swappable_vector<std::remove_cvref_t<X>> && swappable_vector<std::remove_cvref_t<Y>>
void swap(X&& x, Y&& y)
{
    const int n = x.size();
    if (!(n <= y.size()))
        throw_assertion("x.size() <= y.size()", "mtl::swap()");
    std::remove_cvref_t<X> a = x;
    std::remove_cvref_t<Y> b = y;
    for (int i = 0; i < n; ++i) {
        const double t = a(i);
        a(i) = b(i);
        b(i) = t;
    }
}

// y = y + A x, one row accumulator at a time.
template <class X, class Y>
    requires readable_vector<X> && writable_vector<std::remove_cvref_t<Y>>
void mult(const DenseMatrix& A, const X& x, Y&& y)
{
    const int rows = A.nrows();
    const int cols = A.ncols();
    if (!(rows <= y.size()))
        throw_assertion("A.nrows() <= zz.size()", "mtl::mult()");
    if (!(cols <= x.size()))
        throw_assertion("A.ncols() <= xx.size()", "mtl::mult()");
    const DenseMatrix a = A;
    const X in = x;
    std::remove_cvref_t<Y> out = y;
    for (int i = 0; i < rows; ++i) {
        double acc = out(i);
        for (int j = 0; j < cols; ++j)
            acc = acc + a(i, j) * in(j);
        out(i) = acc;
    }
}

// A(i, j) = A(i, j) + y(j) * (alpha * x(i)).
void rank_one_update(DenseMatrix A, const ScaledVector& x, const DenseVector& y);

// B(i, j) = A(i, j) over A's shape; the rest of B stays.
void copy(const DenseMatrix& A, DenseMatrix B);
void copy(const DenseMatrix& A, DenseMatrix B, twod_tag);

}  // namespace mtl

namespace matmat {

// C = C + A B; the caller guarantees compatible shapes.
void mult(const DenseMatrix& A, const DenseMatrix& B, DenseMatrix C);

// B(j, i) = A(i, j) over A's shape; the rest of B stays.
void transpose(const DenseMatrix& A, DenseMatrix B);

}  // namespace matmat

// Divides by the largest magnitude (an all-zero vector yields non-finite values).
void normalize_max_abs(DenseVector v);

// Scales to unit length with a non-negative first component.
void normalize_unit_signed(DenseVector v);
