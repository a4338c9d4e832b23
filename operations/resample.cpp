#include "operations/resample.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "actions/action_string.h"
#include "core/error.h"
#include "core/rounding.h"

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

// A channel sum as a byte: clamped to 0..255, otherwise rounded to the nearest with
// halves to even. Branch-free; v - trunc(v) is exact, so the half test is too.
inline std::uint8_t SumToByte(double v) {
    v = v >= 0.0 ? v : 0.0;
    v = v <= 255.0 ? v : 255.0;
    const int t = static_cast<int>(v);
    const double fraction = v - t;
    return static_cast<std::uint8_t>(t + ((fraction > 0.5) | ((fraction == 0.5) & (t & 1))));
}

// Pass 1 for one row: the source row scaled horizontally.
void ScaleRow(const std::uint8_t* in, std::uint8_t* out, const ContributorLists& columns) {
    const std::size_t outWidth = columns.first.size() - 1;
    const std::int32_t* sourceIndex = columns.source.data();
    const double* weight = columns.weight.data();
    for (std::size_t i = 0; i < outWidth; ++i) {
        double b = 0.0, g = 0.0, r = 0.0;
        for (std::size_t k = columns.first[i], end = columns.first[i + 1]; k < end; ++k) {
            const std::uint8_t* p = in + std::size_t(sourceIndex[k]) * 3;
            const double w = weight[k];
            b += w * p[0];
            g += w * p[1];
            r += w * p[2];
        }
        out[0] = SumToByte(b);
        out[1] = SumToByte(g);
        out[2] = SumToByte(r);
        out += 3;
    }
}

// The intermediate picture (target width x source height) of the first pass, made
// a row at a time when the second pass first asks for it and kept in a ring just
// large enough for the rows of one output row. Every row holds exactly what a
// whole first pass would have written, so the result is the same, with a few rows
// of memory instead of a whole picture.
class IntermediateRows {
public:
    IntermediateRows(const Bitmap& source, const ContributorLists& columns, const ContributorLists& rows)
        : source_(source), columns_(columns), stride_((columns.first.size() - 1) * 3) {
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
        data_.resize(span * stride_);
    }

    const std::uint8_t* row(int y) {
        const std::size_t slot = std::size_t(y) % slots_.size();
        std::uint8_t* out = data_.data() + slot * stride_;
        if (slots_[slot] != y) {
            ScaleRow(source_.row(y), out, columns_);
            slots_[slot] = y;
        }
        return out;
    }

private:
    const Bitmap& source_;
    const ContributorLists& columns_;
    std::size_t stride_;
    std::vector<int> slots_;  // the row each slot holds, -1 for none
    std::vector<std::uint8_t> data_;
};

// Pass 2: every output row from the intermediate rows its contributors name. A
// whole row of sums is accumulated contributor by contributor, which adds the terms
// of each pixel in the same order as a walk down each column but reads rows. The
// first term starts the sum (0 + a is a) and the last is added as the sum is
// rounded, which saves two sweeps over the sums.
void VerticalPass(IntermediateRows& in, Bitmap& out, const ContributorLists& rows) {
    const std::size_t count = std::size_t(out.width()) * 3;
    std::vector<double> sums(count);
    double* s = sums.data();
    for (int i = 0; i < out.height(); ++i) {
        std::uint8_t* o = out.row(i);
        const std::size_t first = rows.first[i], last = rows.first[i + 1];
        if (first == last) {
            std::fill(o, o + count, std::uint8_t(0));
            continue;
        }
        const std::uint8_t* p = in.row(rows.source[first]);
        double w = rows.weight[first];
        if (last - first == 1) {
            for (std::size_t x = 0; x < count; ++x) o[x] = SumToByte(w * p[x]);
            continue;
        }
        for (std::size_t x = 0; x < count; ++x) s[x] = w * p[x];
        for (std::size_t k = first + 1; k + 1 < last; ++k) {
            p = in.row(rows.source[k]);
            w = rows.weight[k];
            for (std::size_t x = 0; x < count; ++x) s[x] += w * p[x];
        }
        p = in.row(rows.source[last - 1]);
        w = rows.weight[last - 1];
        for (std::size_t x = 0; x < count; ++x) o[x] = SumToByte(s[x] + w * p[x]);
    }
}

// The two passes on a 24-bit bitmap; the target size has been checked.
void Resample24(Bitmap& bitmap, int width, int height, const ResampleFilter& filter) {
    const ContributorLists columns = BuildContributors(width, bitmap.width(), filter);
    const ContributorLists rows = BuildContributors(height, bitmap.height(), filter);
    IntermediateRows intermediate(bitmap, columns, rows);

    Bitmap result;
    result.reset(width, height, 24);
    VerticalPass(intermediate, result, rows);

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
