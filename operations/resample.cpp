#include "operations/resample.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <numbers>
#include <vector>

#include "actions/action_string.h"
#include "core/error.h"
#include "core/rounding.h"
#include "operations/resample_avx2.h"
#include "operations/vector_code.h"

namespace pictorix {

namespace {

// ---------------------------------------------------------------------------
// Kernels. Each takes a signed distance and is 0 at and beyond its support.

double TriangleKernel(double x) {
    x = std::fabs(x);
    return x < 1.0 ? 1.0 - x : 0.0;
}

double HermiteKernel(double x) {
    x = std::fabs(x);
    return x < 1.0 ? (2.0 * x - 3.0) * (x * x) + 1.0 : 0.0;
}

double BellKernel(double x) {
    x = std::fabs(x);
    if (x < 0.5) return 0.75 - x * x;
    if (x < 1.5) {
        const double t = x - 1.5;
        return 0.5 * (t * t);
    }
    return 0.0;
}

double BSplineKernel(double x) {
    x = std::fabs(x);
    if (x < 1.0) {
        const double x2 = x * x;
        return 0.5 * x2 * x - x2 + 2.0 / 3.0;
    }
    if (x < 2.0) {
        const double t = 2.0 - x;
        return t * t * t / 6.0;
    }
    return 0.0;
}

double Sinc(double t) {
    if (t == 0.0) return 1.0;
    t *= std::numbers::pi;
    return std::sin(t) / t;
}

double Lanczos3Kernel(double x) {
    x = std::fabs(x);
    return x < 3.0 ? Sinc(x) * Sinc(x / 3.0) : 0.0;
}

double MitchellKernel(double x) {
    x = std::fabs(x);
    const double x2 = x * x;
    if (x < 1.0) return (7.0 * x2 * x - 12.0 * x2 + 16.0 / 3.0) / 6.0;
    if (x < 2.0) return (-(7.0 / 3.0) * x2 * x + 12.0 * x2 - 20.0 * x + 32.0 / 3.0) / 6.0;
    return 0.0;
}

constexpr std::array<ResampleFilter, kResampleFilterCount> kFilters = {{
    {"Triangle", 1.0, TriangleKernel},
    {"Hermite", 1.0, HermiteKernel},
    {"Bell", 1.5, BellKernel},
    {"B-Spline", 2.0, BSplineKernel},
    {"Lanczos3", 3.0, Lanczos3Kernel},
    {"Mitchell", 2.0, MitchellKernel},
}};

// ---------------------------------------------------------------------------
// Target size

std::string SizeText(long long width, long long height) {
    return std::to_string(width) + " x " + std::to_string(height);
}

// Derives a negative target dimension from the other one (integer arithmetic,
// truncating) and checks the result. Returns false when both are negative: nothing
// is to be done. Throws before anything changes when the target has no pixels or
// would be too large.
bool ResolveTargetSize(long long sourceWidth, long long sourceHeight, long long& width, long long& height,
                       double support) {
    if (width < 0 && height < 0) return false;
    const auto tooLarge = [&] {
        return Error("Cannot resize the picture to " + SizeText(width, height) + " pixels: it would be too large");
    };
    if (width > kMaxDimension || height > kMaxDimension) throw tooLarge();
    if (width < 0)
        width = sourceWidth * height / sourceHeight;
    else if (height < 0)
        height = sourceHeight * width / sourceWidth;
    if (width == 0 || height == 0)
        throw Error("Cannot resize the picture to " + SizeText(width, height) + " pixels: it would have no pixels");
    // The first pass keeps as many rows of the target width as one output row
    // reads: at most 2w + 3 for a kernel of half-width w, and never more than all.
    const double reach = support * std::max(1.0, double(sourceHeight) / double(height));
    const long long keptRows = std::min<long long>(sourceHeight, static_cast<long long>(2.0 * reach) + 3);
    const auto pixels = [](long long w, long long h) { return static_cast<std::uint64_t>(w) * std::uint64_t(h); };
    if (width > kMaxDimension || height > kMaxDimension || pixels(width, height) > kMaxPixels ||
        pixels(width, keptRows) > kMaxPixels)
        throw tooLarge();
    return true;
}

// ---------------------------------------------------------------------------
// Contributor lists: for every output index, the source indices and weights that
// make it. Built once per pass and shared by every row (or column) of that pass.

struct ContributorLists {
    std::vector<std::size_t> first;  // output i uses entries first[i] .. first[i + 1] - 1
    std::vector<std::int32_t> source;
    std::vector<double> weight;
};

// Mirrors an index that falls off an edge back into the picture. Kernels wider
// than a tiny picture can mirror past the opposite edge; those are clamped.
int Reflect(int j, int size) {
    if (j < 0)
        j = -j;
    else if (j >= size)
        j = 2 * size - j - 1;
    return std::clamp(j, 0, size - 1);
}

// Output index i is centred on source position i / scale (no half-pixel offset).
// When reducing, the kernel is stretched by 1 / scale and its height divided by the
// same factor. Weights are used as they come, not normalised.
ContributorLists BuildContributors(int outputSize, int sourceSize, const ResampleFilter& filter) {
    ContributorLists lists;
    lists.first.reserve(std::size_t(outputSize) + 1);
    const double scale = double(outputSize) / double(sourceSize);
    const bool reducing = scale < 1.0;
    const double width = reducing ? filter.support / scale : filter.support;
    const double fscale = 1.0 / scale;
    const std::size_t room = std::size_t(2.0 * width + 1.0);
    lists.source.reserve(std::size_t(outputSize) * room);
    lists.weight.reserve(std::size_t(outputSize) * room);

    for (int i = 0; i < outputSize; ++i) {
        lists.first.push_back(lists.source.size());
        const double centre = i / scale;
        const int left = static_cast<int>(std::floor(centre - width));
        const int right = static_cast<int>(std::ceil(centre + width));
        for (int j = left; j <= right; ++j) {
            const double weight =
                reducing ? filter.kernel((centre - j) / fscale) / fscale : filter.kernel(centre - j);
            if (weight == 0.0) continue;
            lists.source.push_back(Reflect(j, sourceSize));
            lists.weight.push_back(weight);
        }
    }
    lists.first.push_back(lists.source.size());
    return lists;
}

// The two passes have AVX2 versions (vector_code.h). All give the same results: the
// sums are plain products added in list order, and no multiply is fused with an add.

// Four channel sums as bytes, each clamped to 0..255, otherwise rounded to the nearest
// with halves to even; the results come as whole doubles. Branch-free, and independent
// of the floating-point rounding mode: conversions to integers truncate, and v - trunc(v)
// is exact, so the half test is too. A truncated half that differs from the half of
// the truncation marks an odd value.
inline __attribute__((always_inline)) void RoundSums(Double4& v) {
    const Double4 zero = {0.0, 0.0, 0.0, 0.0};
    const Double4 top = {255.0, 255.0, 255.0, 255.0};
    const Double4 half = {0.5, 0.5, 0.5, 0.5};
    const Double4 one = {1.0, 1.0, 1.0, 1.0};
    v = v >= zero ? v : zero;  // NaN gives 0 too
    v = v <= top ? v : top;
    const Double4 t = __builtin_convertvector(__builtin_convertvector(v, Int4), Double4);
    const Double4 fraction = v - t;
    const Double4 h = t * half;
    const Double4 hTruncated = __builtin_convertvector(__builtin_convertvector(h, Int4), Double4);
    const Mask4 up = (fraction > half) | ((fraction == half) & (h != hTruncated));
    v = up ? t + one : t;
}

// The horizontal contributor lists laid out for pass 1: every output column gets the
// same number of entries, the longest list's, as offsets into the row's channel values.
// Short lists are padded with weight 0 at their end; adding the 0 products changes no
// sum, and a fixed count lets the compiler unroll the inner loop.
struct ColumnTable {
    int count = 0;
    std::vector<std::uint32_t> offset;  // count entries per output column
    std::vector<double> weight;
};

ColumnTable MakeColumnTable(const ContributorLists& columns) {
    ColumnTable table;
    const std::size_t outWidth = columns.first.size() - 1;
    std::size_t longest = 1;
    for (std::size_t i = 0; i < outWidth; ++i) longest = std::max(longest, columns.first[i + 1] - columns.first[i]);
    table.count = static_cast<int>(longest);
    table.offset.assign(outWidth * longest, 0);
    table.weight.assign(outWidth * longest, 0.0);
    for (std::size_t i = 0; i < outWidth; ++i) {
        std::uint32_t last = 0;
        for (std::size_t k = 0; k < longest; ++k) {
            const std::size_t from = columns.first[i] + k;
            if (from < columns.first[i + 1]) {
                last = static_cast<std::uint32_t>(columns.source[from]) * 3;
                table.weight[i * longest + k] = columns.weight[from];
            }
            table.offset[i * longest + k] = last;
        }
    }
    return table;
}

// Rows of channel values as doubles are padded to whole vectors plus one spare vector.
std::size_t PaddedValues(std::size_t values) { return (values + 3) / 4 * 4 + 4; }

// Widens `count` bytes to doubles, sixteen at a time (`to` has room for whole vectors).
// The bytes are zero-extended by interleaving them with zeros, which needs no
// instruction beyond the baseline's.
PICTORIX_AVX2_CLONE void Widen(const std::uint8_t* from, std::size_t count, double* to) {
    typedef std::uint8_t Byte16 __attribute__((vector_size(16)));
    const Byte16 z = {};
    std::size_t e = 0;
    for (; e + 16 <= count; e += 16) {
        Byte16 b;
        std::memcpy(&b, from + e, sizeof b);
        const Byte16 q[4] = {
            __builtin_shufflevector(b, z, 0, 16, 16, 16, 1, 16, 16, 16, 2, 16, 16, 16, 3, 16, 16, 16),
            __builtin_shufflevector(b, z, 4, 16, 16, 16, 5, 16, 16, 16, 6, 16, 16, 16, 7, 16, 16, 16),
            __builtin_shufflevector(b, z, 8, 16, 16, 16, 9, 16, 16, 16, 10, 16, 16, 16, 11, 16, 16, 16),
            __builtin_shufflevector(b, z, 12, 16, 16, 16, 13, 16, 16, 16, 14, 16, 16, 16, 15, 16, 16, 16),
        };
        for (int i = 0; i < 4; ++i) {
            Int4 n;
            std::memcpy(&n, &q[i], sizeof n);  // little-endian: each group of four is one int
            const Double4 v = __builtin_convertvector(n, Double4);
            std::memcpy(to + e + 4 * std::size_t(i), &v, sizeof v);
        }
    }
    for (; e < count; ++e) to[e] = from[e];
}

// Rounds `count` sums in place as RoundSums does (`values` has room for whole vectors).
inline __attribute__((always_inline)) void RoundRow(double* values, std::size_t count) {
    for (std::size_t e = 0; e < count; e += 4) {
        Double4 v;
        std::memcpy(&v, values + e, sizeof v);
        RoundSums(v);
        std::memcpy(values + e, &v, sizeof v);
    }
}

// Pass 1 for one row, from the row's channel values as doubles: the blue, green and red
// sums of a pixel are three lanes of one vector, so each contributor costs one load, one
// multiply and one add; the fourth lane carries the next pixel's blue and is overwritten
// by the next pixel (or lands in the spare values). Every lane adds its products in the
// order of the list, exactly as three separate sums would. The sums are rounded once the
// row is done, four values at a time. Count is the table's count, or 0 for any count.
template <int Count>
inline __attribute__((always_inline)) void ScaleRowOf(const double* in, double* out, const ColumnTable& table,
                                                      std::size_t outWidth) {
    const int n = Count > 0 ? Count : table.count;
    const std::uint32_t* offset = table.offset.data();
    const double* weight = table.weight.data();
    double* sums = out;
    for (std::size_t i = 0; i < outWidth; ++i, offset += n, weight += n, sums += 3) {
        Double4 sum = {0.0, 0.0, 0.0, 0.0};
        for (int k = 0; k < n; ++k) {
            Double4 v;
            std::memcpy(&v, in + offset[k], sizeof v);
            sum += weight[k] * v;
        }
        std::memcpy(sums, &sum, sizeof sum);
    }
    RoundRow(out, outWidth * 3);
}

PICTORIX_AVX2_CLONE void ScaleRow(const double* in, double* out, const ColumnTable& table, std::size_t outWidth) {
    switch (table.count) {
        case 1: ScaleRowOf<1>(in, out, table, outWidth); break;
        case 2: ScaleRowOf<2>(in, out, table, outWidth); break;
        case 3: ScaleRowOf<3>(in, out, table, outWidth); break;
        case 4: ScaleRowOf<4>(in, out, table, outWidth); break;
        case 5: ScaleRowOf<5>(in, out, table, outWidth); break;
        case 6: ScaleRowOf<6>(in, out, table, outWidth); break;
        case 7: ScaleRowOf<7>(in, out, table, outWidth); break;
        case 8: ScaleRowOf<8>(in, out, table, outWidth); break;
        default: ScaleRowOf<0>(in, out, table, outWidth); break;
    }
}

// The intermediate picture (target width x source height) of the first pass, made
// a row at a time when the second pass first asks for it and kept in a ring just
// large enough for the rows of one output row. Every row holds exactly what a
// whole first pass would have written, so the result is the same, with a few rows
// of memory instead of a whole picture. `Element` is how a row holds its bytes: as
// doubles ready for the floating-point sums, or as the bytes themselves.
template <class Element>
class IntermediateRows {
public:
    // `make(y, out)` writes intermediate row y into `out`, which has `stride` elements.
    template <class Make>
    IntermediateRows(const ContributorLists& rows, std::size_t stride, Make make)
        : make_(std::move(make)), stride_(stride) {
        // Two rows used by one output row never share a slot: their distance is
        // below the ring size.
        std::size_t span = 1;
        for (std::size_t i = 0; i + 1 < rows.first.size(); ++i) {
            const auto first = rows.source.begin() + std::ptrdiff_t(rows.first[i]);
            const auto last = rows.source.begin() + std::ptrdiff_t(rows.first[i + 1]);
            if (first == last) continue;
            const auto [lo, hi] = std::minmax_element(first, last);
            span = std::max(span, std::size_t(*hi - *lo) + 1);
        }
        slots_.assign(span, -1);
        data_.assign(span * stride_, Element());
    }

    const Element* row(int y) {
        const std::size_t slot = std::size_t(y) % slots_.size();
        Element* out = data_.data() + slot * stride_;
        if (slots_[slot] != y) {
            make_(y, out);
            slots_[slot] = y;
        }
        return out;
    }

private:
    std::function<void(int, Element*)> make_;
    std::size_t stride_;      // elements per row
    std::vector<int> slots_;  // the row each slot holds, -1 for none
    std::vector<Element> data_;
};

// Vectors of a row of doubles (no alignment needed).
inline __attribute__((always_inline)) void Load4(Double4& v, const double* p) { std::memcpy(&v, p, sizeof v); }

// Vectors j0 .. j0 + Vectors - 1 of one output row of pass 2: the sums stay in
// registers while every contributor row is added, and are rounded at the end.
template <std::size_t Vectors>
inline __attribute__((always_inline)) void VerticalChunk(const double* const* in, const double* weight,
                                                         std::size_t count, std::size_t j0, Double4* rounded) {
    Double4 sum[Vectors];
    Double4 v;
    for (std::size_t i = 0; i < Vectors; ++i) {
        Load4(v, in[0] + 4 * (j0 + i));
        sum[i] = weight[0] * v;
    }
    for (std::size_t k = 1; k < count; ++k) {
        const double w = weight[k];
        const double* p = in[k] + 4 * j0;
        for (std::size_t i = 0; i < Vectors; ++i) {
            Load4(v, p + 4 * i);
            sum[i] += w * v;
        }
    }
    for (std::size_t i = 0; i < Vectors; ++i) {
        RoundSums(sum[i]);
        rounded[i] = sum[i];
    }
}

// One output row of pass 2 from its contributor rows `in` (count > 0) and weights. The
// terms of each value are added in list order, as in a walk down each column; the
// first term starts the sum (0 + a is a).
PICTORIX_AVX2_CLONE void VerticalRow(const double* const* in, const double* weight, std::size_t count,
                                     std::size_t values, std::uint8_t* out) {
    constexpr std::size_t kChunk = 8;
    const std::size_t vectors = (values + 3) / 4;
    const std::size_t whole = values / 4;
    Double4 rounded[kChunk];
    for (std::size_t j0 = 0; j0 < vectors;) {
        const std::size_t n = vectors - j0 >= kChunk ? kChunk : 1;
        if (n == kChunk) VerticalChunk<kChunk>(in, weight, count, j0, rounded);
        else VerticalChunk<1>(in, weight, count, j0, rounded);
        for (std::size_t i = 0; i < n; ++i, ++j0) {
            const Byte4 bytes = __builtin_convertvector(__builtin_convertvector(rounded[i], Int4), Byte4);
            // The row's padding bytes stay as they are.
            std::memcpy(out + 4 * j0, &bytes, j0 < whole ? 4 : values - 4 * j0);
        }
    }
}

// Pass 2: every output row from the intermediate rows its contributors name.
template <class Element, class RowSums>
void VerticalPass(IntermediateRows<Element>& in, Bitmap& out, const ContributorLists& rows, RowSums sums) {
    const std::size_t values = std::size_t(out.width()) * 3;
    std::vector<const Element*> sources;
    for (int i = 0; i < out.height(); ++i) {
        std::uint8_t* o = out.row(i);
        const std::size_t first = rows.first[i], last = rows.first[i + 1];
        if (first == last) {
            std::fill(o, o + values, std::uint8_t(0));
            continue;
        }
        sources.clear();
        for (std::size_t k = first; k < last; ++k) sources.push_back(in.row(rows.source[k]));
        sums(sources.data(), first, last - first, o);
    }
}

// The floating-point passes, for any weights.
void ResampleFloating(const Bitmap& source, Bitmap& result, const ContributorLists& columns,
                      const ContributorLists& rows) {
    const ColumnTable table = MakeColumnTable(columns);
    const std::size_t width = columns.first.size() - 1;
    std::vector<double> values(PaddedValues(std::size_t(source.width()) * 3));
    IntermediateRows<double> intermediate(rows, PaddedValues(width * 3), [&](int y, double* out) {
        Widen(source.row(y), std::size_t(source.width()) * 3, values.data());
        ScaleRow(values.data(), out, table, width);
    });
    const std::size_t outValues = width * 3;
    VerticalPass(intermediate, result, rows,
                 [&](const double* const* in, std::size_t first, std::size_t count, std::uint8_t* out) {
                     VerticalRow(in, rows.weight.data() + first, count, outValues, out);
                 });
}

// ---------------------------------------------------------------------------
// Whole-number passes. When every weight is a whole multiple of 2^-shift (the
// triangle filter at half, quarter or double size, for instance), every product and
// every partial sum of the floating-point passes is exact, so the same sums can be
// made in integers scaled by 2^shift and rounded the same way: clamped to 0..255, to
// the nearest, halves to even. The results are identical byte for byte. With AVX2 and
// sums that fit 16 bits (resample_avx2.h) this is several times faster; otherwise the
// floating-point passes run.

// The lists' weights times 2^shift, or nothing when some weight is not a multiple of
// 2^-7 or 255 times the magnitudes of one list's weights reaches 2^15.
std::optional<std::vector<std::int16_t>> SixteenBitWeights(const ContributorLists& lists, int& shift) {
    constexpr int kMaxShift = 7;  // 255 x 2^7 still fits
    shift = 1;                    // at least one, so that a half exists
    for (double w : lists.weight) {
        if (!std::isfinite(w)) return std::nullopt;
        int s = 0;
        while (s <= kMaxShift && std::ldexp(w, s) != std::trunc(std::ldexp(w, s))) ++s;
        if (s > kMaxShift) return std::nullopt;
        shift = std::max(shift, s);
    }
    std::vector<std::int16_t> weights;
    weights.reserve(lists.weight.size());
    for (std::size_t i = 0; i + 1 < lists.first.size(); ++i) {
        double total = 0;
        for (std::size_t k = lists.first[i]; k < lists.first[i + 1]; ++k) {
            const double w = std::ldexp(lists.weight[k], shift);
            total += std::fabs(w);
            if (total * 255.0 >= 32768.0) return std::nullopt;
            weights.push_back(static_cast<std::int16_t>(w));
        }
    }
    return weights;
}

struct WholeNumberWeights {
    int columnShift = 0, rowShift = 0;
    std::vector<std::int16_t> columns, rows;
};

std::optional<WholeNumberWeights> WholeNumberPasses(const ContributorLists& columns, const ContributorLists& rows) {
    if (!avx2::Available()) return std::nullopt;
    WholeNumberWeights w;
    auto c = SixteenBitWeights(columns, w.columnShift);
    if (!c) return std::nullopt;
    auto r = SixteenBitWeights(rows, w.rowShift);
    if (!r) return std::nullopt;
    w.columns = std::move(*c);
    w.rows = std::move(*r);
    return w;
}

void ResampleWholeNumbers(const Bitmap& source, Bitmap& result, const ContributorLists& columns,
                          const ContributorLists& rows, const WholeNumberWeights& weights) {
    // The floating table's entries, padded with weight 0 the same way, regrouped for
    // eight output pixels at a time (see resample_avx2.h).
    const ColumnTable layout = MakeColumnTable(columns);
    const std::size_t width = columns.first.size() - 1;
    const std::size_t count = std::size_t(layout.count);
    const std::size_t groups = (width + 7) / 8;
    std::vector<std::int32_t> groupOffset;
    std::vector<std::int16_t> groupWeight;
    groupOffset.reserve(groups * count * 8);
    groupWeight.reserve(groups * count * 32);
    for (std::size_t g = 0; g < groups; ++g)
        for (std::size_t k = 0; k < count; ++k) {
            for (std::size_t i = 8 * g; i < 8 * g + 8; ++i)
                groupOffset.push_back(i < width ? std::int32_t(layout.offset[i * count + k]) : 0);
            for (std::size_t i = 8 * g; i < 8 * g + 8; ++i) {
                const bool used = i < width && k < columns.first[i + 1] - columns.first[i];
                groupWeight.insert(groupWeight.end(), 4, used ? weights.columns[columns.first[i] + k] : 0);
            }
        }

    const std::size_t sourceValues = std::size_t(source.width()) * 3;
    std::vector<std::uint8_t> line(sourceValues + 1, 0);
    const std::size_t values = width * 3;
    // Room for the second pass's whole blocks and the first pass's spare bytes.
    const std::size_t stride = std::max((values + 31) / 32 * 32, groups * 24) + 32;
    IntermediateRows<std::uint8_t> intermediate(rows, stride, [&](int y, std::uint8_t* out) {
        // Each pixel is read as four bytes: the last one of the last row needs a copy.
        const std::uint8_t* in = source.row(y);
        if (y + 1 == source.height() && source.stride() == sourceValues) {
            std::memcpy(line.data(), in, sourceValues);
            in = line.data();
        }
        avx2::FixedRow(in, out, groupOffset.data(), groupWeight.data(), int(count), groups, weights.columnShift);
    });
    VerticalPass(intermediate, result, rows,
                 [&](const std::uint8_t* const* in, std::size_t first, std::size_t n, std::uint8_t* out) {
                     avx2::FixedVerticalRow(in, weights.rows.data() + first, n, values, weights.rowShift, out);
                 });
}

// The two passes on a 24-bit bitmap; the target size has been checked.
void Resample24(Bitmap& bitmap, int width, int height, const ResampleFilter& filter) {
    const ContributorLists columns = BuildContributors(width, bitmap.width(), filter);
    const ContributorLists rows = BuildContributors(height, bitmap.height(), filter);

    Bitmap result;
    result.resetForOverwrite(width, height, 24);  // the second pass writes every row
    if (const auto weights = WholeNumberPasses(columns, rows))
        ResampleWholeNumbers(bitmap, result, columns, rows, *weights);
    else
        ResampleFloating(bitmap, result, columns, rows);

    // Only the pixels change: fill colour, transparency and palette stay the bitmap's.
    result.setFillColor(bitmap.fillColor());
    result.setTransparent(bitmap.transparent(), bitmap.transparentColor());
    result.setPalette(bitmap.palette());
    bitmap = std::move(result);
}

}  // namespace

const ResampleFilter& GetResampleFilter(int filterIndex) {
    if (filterIndex < 1 || filterIndex > kResampleFilterCount)
        throw Error("Resampling filter " + std::to_string(filterIndex) + " does not exist");
    return kFilters[std::size_t(filterIndex - 1)];
}

void ResampleBitmap(Bitmap& bitmap, int targetWidth, int targetHeight, int filterIndex) {
    const ResampleFilter& filter = GetResampleFilter(filterIndex);
    if (bitmap.empty()) return;
    long long width = targetWidth, height = targetHeight;
    if (!ResolveTargetSize(bitmap.width(), bitmap.height(), width, height, filter.support)) return;

    const int format = bitmap.bitsPerPixel();
    if (format != 24) bitmap.setBitsPerPixel(24);
    Resample24(bitmap, static_cast<int>(width), static_cast<int>(height), filter);
    if (format != 24) bitmap.setBitsPerPixel(format);
}

void DoResize(const std::string& action, Bitmap& bitmap) {
    if (bitmap.width() <= 0 || bitmap.height() <= 0) return;
    const ActionFields fields(action);
    if (fields.text(0) != "resize") return;

    const long long w0 = bitmap.width(), h0 = bitmap.height();
    // A percentage of a dimension truncates toward zero.
    const auto size = [&](std::size_t valueField, std::size_t unitField, long long whole) {
        const long long value = fields.integer(valueField);
        return fields.percents(unitField) ? value * whole / 100 : value;
    };
    // The other dimension follows the aspect ratio: quotient first, then the product.
    const std::string& mode = fields.text(5);
    long long width = 0, height = 0;
    if (mode == "both") {
        width = size(1, 3, w0);
        height = size(2, 4, h0);
    } else if (mode == "width") {
        width = size(1, 3, w0);
        height = RoundToInt64(double(h0) * (double(width) / double(w0)));
    } else if (mode == "height") {
        height = size(2, 4, h0);
        width = RoundToInt64(double(w0) * (double(height) / double(h0)));
    } else {
        return;  // no other mode is ever written
    }

    // Checked before the format changes, so a refused resize leaves the bitmap as it was.
    if (!ResolveTargetSize(w0, h0, width, height, GetResampleFilter(kTriangleFilter).support)) return;
    const int format = bitmap.bitsPerPixel();
    bitmap.setBitsPerPixel(24);
    ResampleBitmap(bitmap, static_cast<int>(width), static_cast<int>(height), kTriangleFilter);
    bitmap.setBitsPerPixel(format);
}

}  // namespace pictorix
