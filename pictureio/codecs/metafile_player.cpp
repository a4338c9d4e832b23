#include "pictureio/codecs/metafile_player.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <numbers>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "core/error.h"
#include "core/rounding.h"
#include "pictureio/codecs/bmp.h"
#include "pictureio/codecs/jpeg.h"
#include "pictureio/codecs/png.h"

namespace pictorix::metafile {

Canvas::Canvas(int width, int height, Color background) : width_(width), height_(height) {
    // A frame is a few header bytes however large it claims to be: the canvas (four
    // bytes a pixel) is held to the memory limit of a bitmap before it is allocated.
    CheckPictureBytes(width, height, 32, "Metafile");
    pixels_.assign(std::size_t(width) * std::size_t(height), background & 0x00FFFFFF);
}

namespace {

constexpr std::uint32_t kPlaceableKey = 0x9AC6CDD7;
constexpr std::size_t kPlaceableSize = 22;
constexpr std::size_t kWmfHeaderSize = 18;
constexpr std::uint32_t kEmfSignature = 0x464D4520;  // " EMF"
constexpr std::uint32_t kEmrHeader = 1;
constexpr std::size_t kEmfMinHeaderSize = 88;
constexpr double kScreenDpi = 96;
constexpr double kPi = std::numbers::pi;
// Coordinates are clamped to this: far outside any canvas, yet exact in a double and
// safe to convert to a 64-bit integer.
constexpr double kFar = 1e9;
// Bounds on the work that one shape may cause, whatever the file says.
constexpr int kMaxCurveSegments = 1024;
constexpr std::size_t kMaxSavedStates = 65536;

const char* Prefix(Kind kind) { return kind == Kind::Wmf ? "WMF: " : "EMF: "; }
[[noreturn]] void Fail(Kind kind, const std::string& what) { throw Error(Prefix(kind) + what); }

std::string Hex(std::uint32_t v, int digits) {
    static const char* const kDigits = "0123456789ABCDEF";
    std::string s = "0x";
    for (int i = digits - 1; i >= 0; --i) s += kDigits[(v >> (4 * i)) & 0xF];
    return s;
}

// One record's bytes, read through checked accessors: a field beyond the record's end
// means the file is damaged.
struct Record {
    Kind kind;
    ByteSpan data;       // WMF: the parameters after the 6-byte record header; EMF: the whole record
    std::size_t offset;  // in the file
    unsigned type;

    [[noreturn]] void damaged(const std::string& why = "its fields do not fit in it") const {
        Fail(kind, "record " + (kind == Kind::Wmf ? Hex(type, 4) : "type " + std::to_string(type)) + " at offset " +
                       std::to_string(offset) + " is damaged: " + why);
    }
    void need(std::uint64_t end) const {
        if (end > data.size()) damaged();
    }
    std::uint16_t u16(std::size_t at) const { need(std::uint64_t(at) + 2); return ReadLE16(data, at); }
    std::int16_t s16(std::size_t at) const { return static_cast<std::int16_t>(u16(at)); }
    std::uint32_t u32(std::size_t at) const { need(std::uint64_t(at) + 4); return ReadLE32(data, at); }
    std::int32_t s32(std::size_t at) const { return static_cast<std::int32_t>(u32(at)); }
    float f32(std::size_t at) const { return std::bit_cast<float>(u32(at)); }
    ByteSpan bytes(std::uint64_t at, std::uint64_t count) const {
        need(at + count);
        return data.subspan(static_cast<std::size_t>(at), static_cast<std::size_t>(count));
    }
};

// Drawing work is bounded: a small hostile file could otherwise ask for millions of
// canvas-sized fills. Real pictures stay far below 1024 fills of the whole canvas.
class Budget {
public:
    Budget(Kind kind, std::uint64_t canvasPixels) : kind_(kind), limit_(1024 * canvasPixels + (1u << 24)) {}
    void spend(std::uint64_t operations) {
        used_ += operations;
        if (used_ > limit_)
            Fail(kind_, "the records ask for more drawing than a picture of this size needs (over " +
                            std::to_string(limit_) + " pixel operations); the file is damaged");
    }

private:
    Kind kind_;
    std::uint64_t used_ = 0;
    std::uint64_t limit_;
};

// ---------------------------------------------------------------------------
// Geometry

struct PointD {
    double x = 0, y = 0;
};

double Sane(double v) { return std::isnan(v) ? 0.0 : std::clamp(v, -kFar, kFar); }
PointD Sane(PointD p) { return {Sane(p.x), Sane(p.y)}; }
double Pixel(double v) { return static_cast<double>(RoundToInt64(Sane(v))); }
// Vertices land on whole pixels, as GDI's device coordinates do; a mapping that is
// off by a hair then changes nothing.
PointD Snap(PointD p) { return {Pixel(p.x), Pixel(p.y)}; }

// x' = a*x + c*y + e, y' = b*x + d*y + f: the layout of an EMF XFORM (eM11, eM12, eM21,
// eM22, eDx, eDy).
struct Affine {
    double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;
    PointD operator()(PointD p) const { return Sane(PointD{a * p.x + c * p.y + e, b * p.x + d * p.y + f}); }
    bool keepsAxes() const { return b == 0 && c == 0; }
    double det() const { return a * d - b * c; }
    double scale() const {
        const double s = std::sqrt(std::abs(det()));
        return std::isfinite(s) ? s : 1.0;
    }
    bool finite() const {
        return std::isfinite(a) && std::isfinite(b) && std::isfinite(c) && std::isfinite(d) && std::isfinite(e) &&
               std::isfinite(f);
    }
};

// A transform whose results are snapped to whole pixels.
struct Snapped {
    Affine m;
    PointD operator()(PointD p) const { return Snap(m(p)); }
};

// `first` applied, then `second`.
Affine Then(const Affine& first, const Affine& second) {
    Affine r;
    r.a = second.a * first.a + second.c * first.b;
    r.b = second.b * first.a + second.d * first.b;
    r.c = second.a * first.c + second.c * first.d;
    r.d = second.b * first.c + second.d * first.d;
    r.e = second.a * first.e + second.c * first.f + second.e;
    r.f = second.b * first.e + second.d * first.f + second.f;
    return r;
}

// Pixel rectangle, right and bottom excluded.
struct IRect {
    long long left = 0, top = 0, right = 0, bottom = 0;
    bool empty() const { return right <= left || bottom <= top; }
};

IRect Intersect(const IRect& a, const IRect& b) {
    return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
}

using Contour = std::vector<PointD>;
using SpanFn = std::function<void(int y, int x0, int x1)>;

// Scanline fill of closed contours by the alternate (even-odd) or winding (non-zero)
// rule. As in GDI, pixel x,y stands for the point x,y (a one-pixel line through that
// point lies on it): it is inside when the point is, edges on the left and top
// counting as inside. Only rows and columns of `box` are visited.
void ScanFill(const std::vector<Contour>& contours, bool winding, const IRect& box, Budget& budget, const SpanFn& span) {
    if (box.empty()) return;
    struct Edge {
        double top, bottom, xTop, xBottom;
        int dir;
    };
    std::vector<Edge> edges;
    for (const Contour& c : contours) {
        const std::size_t n = c.size();
        if (n < 3) continue;
        for (std::size_t i = 0; i < n; ++i) {
            PointD p = c[i], q = c[(i + 1) % n];
            if (p.y == q.y) continue;
            const int dir = q.y > p.y ? 1 : -1;
            if (p.y > q.y) std::swap(p, q);
            edges.push_back({p.y, q.y, p.x, q.x, dir});
        }
    }
    if (edges.empty()) return;
    std::sort(edges.begin(), edges.end(), [](const Edge& a, const Edge& b) { return a.top < b.top; });
    double lowest = edges.front().bottom;
    for (const Edge& e : edges) lowest = std::max(lowest, e.bottom);

    // Rows y in [top, bottom) of some edge.
    const long long firstRow = std::max<long long>(box.top, static_cast<long long>(std::ceil(edges.front().top)));
    const long long endRow = std::min<long long>(box.bottom, static_cast<long long>(std::ceil(lowest)));
    std::vector<const Edge*> active;
    std::vector<std::pair<double, int>> crossings;
    std::size_t next = 0;
    auto emit = [&](long long y, double xa, double xb) {
        const long long x0 = std::max<long long>(box.left, static_cast<long long>(std::ceil(xa)));
        const long long x1 = std::min<long long>(box.right, static_cast<long long>(std::ceil(xb)));
        if (x0 < x1) {
            budget.spend(std::uint64_t(x1 - x0));
            span(static_cast<int>(y), static_cast<int>(x0), static_cast<int>(x1));
        }
    };
    for (long long y = firstRow; y < endRow; ++y) {
        const double sampleY = static_cast<double>(y);
        while (next < edges.size() && edges[next].top <= sampleY) active.push_back(&edges[next++]);
        std::erase_if(active, [sampleY](const Edge* e) { return e->bottom <= sampleY; });
        budget.spend(active.size() + 1);
        crossings.clear();
        for (const Edge* e : active) {
            // By the fraction of the edge's height, which stays finite for any edge.
            const double t = std::clamp((sampleY - e->top) / (e->bottom - e->top), 0.0, 1.0);
            const double x = e->xTop + (e->xBottom - e->xTop) * t;
            if (!std::isnan(x)) crossings.emplace_back(x, e->dir);
        }
        std::sort(crossings.begin(), crossings.end());
        if (!winding) {
            for (std::size_t i = 0; i + 1 < crossings.size(); i += 2) emit(y, crossings[i].first, crossings[i + 1].first);
        } else {
            int count = 0;
            double start = 0;
            for (const auto& [x, dir] : crossings) {
                const int before = count;
                count += dir;
                if (before == 0 && count != 0) start = x;
                else if (before != 0 && count == 0) emit(y, start, x);
            }
        }
    }
}

double SignedArea(const Contour& c) {
    double area = 0;
    for (std::size_t i = 0; i < c.size(); ++i) {
        const PointD& p = c[i];
        const PointD& q = c[(i + 1) % c.size()];
        area += p.x * q.y - q.x * p.y;
    }
    return area / 2;
}

// Pieces of a wide line all turn the same way, so that the winding rule paints their
// union once.
void AddTurningLeft(std::vector<Contour>& out, Contour c) {
    if (SignedArea(c) < 0) std::reverse(c.begin(), c.end());
    out.push_back(std::move(c));
}

Contour Disc(PointD centre, double radius) {
    const int n = std::clamp(static_cast<int>(std::ceil(radius * 2)), 8, 128);
    Contour c;
    c.reserve(std::size_t(n));
    for (int i = 0; i < n; ++i) {
        const double t = 2 * kPi * i / n;
        c.push_back({centre.x + radius * std::cos(t), centre.y + radius * std::sin(t)});
    }
    return c;
}

constexpr unsigned kEndCapMask = 0x0F00;
constexpr unsigned kEndCapSquare = 0x0100;
constexpr unsigned kEndCapFlat = 0x0200;

// The outline of a line `halfWidth` either side of the points: one quadrilateral per
// segment, round joins, and the pen's end caps on an open figure.
std::vector<Contour> WideOutline(const std::vector<PointD>& points, bool closed, double halfWidth, unsigned cap) {
    std::vector<PointD> p;
    for (const PointD& q : points)
        if (p.empty() || q.x != p.back().x || q.y != p.back().y) p.push_back(q);
    if (closed && p.size() > 1 && p.front().x == p.back().x && p.front().y == p.back().y) p.pop_back();
    std::vector<Contour> out;
    if (p.empty()) return out;
    const bool round = (cap & kEndCapMask) != kEndCapSquare && (cap & kEndCapMask) != kEndCapFlat;
    const bool square = (cap & kEndCapMask) == kEndCapSquare;
    const std::size_t segments = p.size() == 1 ? 0 : (closed ? p.size() : p.size() - 1);
    for (std::size_t i = 0; i < segments; ++i) {
        PointD a = p[i], b = p[(i + 1) % p.size()];
        const double dx = b.x - a.x, dy = b.y - a.y, length = std::hypot(dx, dy);
        const double ux = dx / length, uy = dy / length;
        if (!closed && square) {
            if (i == 0) a = {a.x - ux * halfWidth, a.y - uy * halfWidth};
            if (i + 1 == segments) b = {b.x + ux * halfWidth, b.y + uy * halfWidth};
        }
        const double nx = -uy * halfWidth, ny = ux * halfWidth;
        AddTurningLeft(out, {{a.x + nx, a.y + ny}, {b.x + nx, b.y + ny}, {b.x - nx, b.y - ny}, {a.x - nx, a.y - ny}});
    }
    for (std::size_t i = 0; i < p.size(); ++i) {
        const bool end = !closed && (i == 0 || i + 1 == p.size());
        if (end && !round) continue;
        AddTurningLeft(out, Disc(p[i], halfWidth));
    }
    return out;
}

// Points of an elliptic arc from `start` over `sweep` radians (x = cx + rx cos t,
// y = cy + ry sin t), mapped by `m`; `segments` straight pieces.
void AppendArc(std::vector<PointD>& out, PointD centre, double rx, double ry, double start, double sweep, int segments,
               const Affine& m, bool withEnd = true) {
    const int last = withEnd ? segments : segments - 1;
    for (int i = 0; i <= last; ++i) {
        const double t = start + sweep * i / segments;
        out.push_back(m({centre.x + rx * std::cos(t), centre.y + ry * std::sin(t)}));
    }
}

int ArcSegments(double sweep, double radiusInPixels) {
    const double n = std::ceil(std::abs(sweep) * std::max(radiusInPixels, 1.0) / 2);
    if (!std::isfinite(n)) return kMaxCurveSegments;
    return std::clamp(static_cast<int>(std::min(n, 1e6)), 4, kMaxCurveSegments);
}

void AppendBezier(std::vector<PointD>& out, PointD p0, PointD p1, PointD p2, PointD p3) {
    const double length = std::hypot(p1.x - p0.x, p1.y - p0.y) + std::hypot(p2.x - p1.x, p2.y - p1.y) +
                          std::hypot(p3.x - p2.x, p3.y - p2.y);
    const int n = std::isfinite(length) ? std::clamp(static_cast<int>(std::min(length / 2, 1e6)), 1, 256) : 256;
    for (int i = 1; i <= n; ++i) {
        const double t = double(i) / n, s = 1 - t;
        const double a = s * s * s, b = 3 * s * s * t, c = 3 * s * t * t, d = t * t * t;
        out.push_back({a * p0.x + b * p1.x + c * p2.x + d * p3.x, a * p0.y + b * p1.y + c * p2.y + d * p3.y});
    }
}

// ---------------------------------------------------------------------------
// Raster operations

// Binary raster operation (R2_BLACK = 1 .. R2_WHITE = 16): code - 1 is the truth table
// over (pen bit, destination bit).
Color Rop2(int code, Color pen, Color dst) {
    const unsigned table = unsigned(code - 1) & 0xF;
    std::uint32_t r = 0;
    for (unsigned i = 0; i < 4; ++i)
        if ((table >> i) & 1) r |= ((i & 2) ? pen : ~pen) & ((i & 1) ? dst : ~dst);
    return r & 0x00FFFFFF;
}

// Ternary raster operation: bits 16..23 of the code are the truth table over
// (pattern, source, destination).
Color Rop3(unsigned table, Color pattern, Color source, Color dst) {
    switch (table) {
        case 0xCC: return source;
        case 0xF0: return pattern;
        case 0x00: return kBlack;
        case 0xFF: return kWhite;
        default: break;
    }
    std::uint32_t r = 0;
    for (unsigned i = 0; i < 8; ++i)
        if ((table >> i) & 1)
            r |= ((i & 4) ? pattern : ~pattern) & ((i & 2) ? source : ~source) & ((i & 1) ? dst : ~dst);
    return r & 0x00FFFFFF;
}
bool Rop3UsesSource(unsigned table) { return (((table >> 2) ^ table) & 0x33) != 0; }
bool Rop3UsesPattern(unsigned table) { return (((table >> 4) ^ table) & 0x0F) != 0; }

constexpr int kR2CopyPen = 13;

// COLORREF: the top byte marks palette-relative colours, which are taken as RGB.
Color ColorRef(std::uint32_t v) { return v & 0x00FFFFFF; }

// ---------------------------------------------------------------------------
// Device-independent bitmaps inside records

struct DibImage {
    Bitmap bitmap;   // top row first, as displayed
    bool topDown = false;  // the DIB's own row order: source coordinates count from its first row
    std::vector<std::uint8_t> alpha;  // for 32-bit BI_RGB DIBs, when asked
};

constexpr unsigned kDibPalColors = 1;
constexpr std::uint32_t kBiRgb = 0, kBiRle8 = 1, kBiRle4 = 2, kBiBitfields = 3, kBiJpeg = 4, kBiPng = 5,
                        kBiAlphaBitfields = 6;

// Size of BITMAPINFO (header, masks, colour table) at the start of a packed DIB.
std::uint64_t PackedInfoSize(const Record& rec, ByteSpan dib, unsigned usage) {
    if (dib.size() < 4) rec.damaged("its bitmap is cut short");
    const std::uint32_t headerSize = ReadLE32(dib, 0);
    const std::size_t entry = usage == kDibPalColors ? 2 : 4;
    if (headerSize == 12) {
        if (dib.size() < 12) rec.damaged("its bitmap is cut short");
        const unsigned bpp = ReadLE16(dib, 10);
        const std::uint64_t colours = bpp <= 8 ? std::uint64_t(1) << bpp : 0;
        return 12 + colours * (usage == kDibPalColors ? 2 : 3);
    }
    if (headerSize < 16 || headerSize > dib.size()) rec.damaged("its bitmap header is not valid");
    const unsigned bpp = ReadLE16(dib, 14);
    const std::uint32_t compression = headerSize >= 20 ? ReadLE32(dib, 16) : kBiRgb;
    const std::uint32_t used = headerSize >= 36 ? ReadLE32(dib, 32) : 0;
    std::uint64_t size = headerSize;
    if (headerSize == 40 && compression == kBiBitfields) size += 12;
    if (headerSize == 40 && compression == kBiAlphaBitfields) size += 16;
    const std::uint64_t colours = used != 0 ? used : (bpp <= 8 ? std::uint64_t(1) << bpp : 0);
    return size + colours * entry;
}

// Decodes BITMAPINFO + bits. nullopt: a DIB that the player does not draw (palette
// indices as colours, unknown compression). A damaged DIB throws.
std::optional<DibImage> DecodeDib(const Record& rec, ByteSpan info, ByteSpan bits, unsigned usage, bool wantAlpha) {
    if (info.size() < 12) rec.damaged("its bitmap header is cut short");
    const std::uint32_t headerSize = ReadLE32(info, 0);
    unsigned bpp;
    std::uint32_t compression = kBiRgb;
    long long width, height;
    if (headerSize == 12) {
        width = ReadLE16(info, 4);
        height = ReadLE16(info, 6);
        bpp = ReadLE16(info, 10);
    } else {
        if (headerSize < 16 || info.size() < std::min<std::uint32_t>(headerSize, 20))
            rec.damaged("its bitmap header is not valid");
        width = static_cast<std::int32_t>(ReadLE32(info, 4));
        height = static_cast<std::int32_t>(ReadLE32(info, 8));
        bpp = ReadLE16(info, 14);
        if (headerSize >= 20) compression = ReadLE32(info, 16);
    }
    if (usage == kDibPalColors && bpp <= 8 && compression != kBiJpeg && compression != kBiPng) return std::nullopt;
    if (compression != kBiRgb && compression != kBiRle8 && compression != kBiRle4 && compression != kBiBitfields &&
        compression != kBiJpeg && compression != kBiPng && compression != kBiAlphaBitfields)
        return std::nullopt;

    DibImage image;
    image.topDown = height < 0;
    try {
        if (compression == kBiJpeg) {
            jpeg::Read(bits, image.bitmap);
        } else if (compression == kBiPng) {
            png::Read(bits, image.bitmap);
        } else {
            // The BMP reader takes a file: a 14-byte file header in front of the DIB.
            ByteVector file;
            file.reserve(14 + info.size() + bits.size());
            file.push_back('B');
            file.push_back('M');
            PutLE32(file, static_cast<std::uint32_t>(std::min<std::uint64_t>(0xFFFFFFFFu, 14 + info.size() + bits.size())));
            PutLE32(file, 0);
            PutLE32(file, static_cast<std::uint32_t>(14 + info.size()));
            file.insert(file.end(), info.begin(), info.end());
            file.insert(file.end(), bits.begin(), bits.end());
            bmp::Read(file, image.bitmap);
        }
    } catch (const Error& e) {
        rec.damaged(std::string("its bitmap cannot be read (") + e.what() + ")");
    }

    // The BMP reader drops alpha; AlphaBlend needs it from 32-bit BI_RGB pixels.
    if (wantAlpha && bpp == 32 && compression == kBiRgb && headerSize >= 40 && width > 0) {
        const std::size_t w = std::size_t(image.bitmap.width()), h = std::size_t(image.bitmap.height());
        if (bits.size() >= w * h * 4) {
            image.alpha.resize(w * h);
            for (std::size_t r = 0; r < h; ++r) {
                const std::size_t shown = image.topDown ? r : h - 1 - r;
                for (std::size_t x = 0; x < w; ++x) image.alpha[shown * w + x] = bits[(r * w + x) * 4 + 3];
            }
        }
    }
    return image;
}

// ---------------------------------------------------------------------------
// Device context

struct Pen {
    bool visible = true;
    bool cosmetic = true;  // one pixel wide whatever the mapping
    double width = 0;      // logical units, for geometric pens
    Color color = kBlack;
    unsigned style = 0;    // end cap bits
};

struct Brush {
    enum class Style { Null, Solid, Hatched, Pattern };
    Style style = Style::Solid;
    Color color = kWhite;
    unsigned hatch = 0;
    std::shared_ptr<const Bitmap> pattern;
};

using GdiObject = std::variant<std::monostate, Pen, Brush>;

constexpr int kMmText = 1, kMmLoMetric = 2, kMmHiMetric = 3, kMmLoEnglish = 4, kMmHiEnglish = 5, kMmTwips = 6,
              kMmIsotropic = 7, kMmAnisotropic = 8;

struct DcState {
    Affine world;
    int mapMode = kMmText;
    PointD windowOrg{0, 0}, windowExt{1, 1}, viewportOrg{0, 0}, viewportExt{1, 1};
    Pen pen;
    Brush brush;
    Color textColor = kBlack;
    Color bkColor = kWhite;
    bool opaqueBackground = true;
    bool winding = false;
    int rop2 = kR2CopyPen;
    bool clockwise = false;
    bool clipped = false;
    IRect clip;
    PointD position;  // logical
};

struct Figure {
    std::vector<PointD> points;  // output pixels
    bool closed = false;
};

enum class ArcKind { Arc, ArcTo, Chord, Pie };

// Source of a blit: a rectangle of a decoded DIB in its displayed (top-down) pixels; a
// negative size mirrors.
struct BlitSource {
    const DibImage* image = nullptr;
    double x = 0, y = 0, width = 0, height = 0;
};

struct Blend {
    enum class Mode { Rop, Transparent, Alpha };
    Mode mode = Mode::Rop;
    unsigned rop = 0xCC;       // truth table of the ternary raster operation
    Color key = 0;             // Transparent: source colour that is not drawn
    int constantAlpha = 255;   // Alpha
    bool sourceAlpha = false;  // Alpha: per-pixel alpha, premultiplied source
};

// The drawing engine common to both formats: device context, mapping, path and the
// rasteriser. Coordinates come in as logical units.
class Renderer {
public:
    Renderer(Canvas& canvas, Kind kind, const Affine& deviceToOutput)
        : canvas_(canvas),
          deviceToOutput_(deviceToOutput),
          budget_(kind, std::uint64_t(canvas.width()) * std::uint64_t(canvas.height())) {}

    DcState dc;

    // ---- state
    void saveDc() {
        if (saved_.size() < kMaxSavedStates) saved_.push_back(dc);
    }
    void restoreDc(long long which) {
        // Negative: relative to the current level; positive: an absolute level (1 = first save).
        const long long depth = static_cast<long long>(saved_.size());
        const long long keep = which < 0 ? depth + which : which - 1;
        if (which == 0 || keep < 0 || keep >= depth) return;
        dc = saved_[std::size_t(keep)];
        saved_.resize(std::size_t(keep));
    }

    Affine transform() const {
        double sx = 1, sy = 1;
        if (dc.mapMode != kMmText) {
            sx = dc.viewportExt.x / dc.windowExt.x;
            sy = dc.viewportExt.y / dc.windowExt.y;
            if (dc.mapMode == kMmIsotropic) {
                const double s = std::min(std::abs(sx), std::abs(sy));
                sx = std::copysign(s, sx);
                sy = std::copysign(s, sy);
            }
        }
        const Affine page{sx, 0, 0, sy, dc.viewportOrg.x - dc.windowOrg.x * sx, dc.viewportOrg.y - dc.windowOrg.y * sy};
        Affine total = Then(Then(dc.world, page), deviceToOutput_);
        if (!total.finite()) total = deviceToOutput_;
        return total;
    }
    PointD toOutput(PointD p) const { return Snap(transform()(p)); }
    Snapped vertexMap() const { return {transform()}; }
    const Affine& deviceToOutput() const { return deviceToOutput_; }

    void intersectClip(const IRect& r) {
        dc.clip = dc.clipped ? Intersect(dc.clip, r) : r;
        dc.clipped = true;
    }
    void setClip(const IRect& r) {
        dc.clip = r;
        dc.clipped = true;
    }
    void clearClip() { dc.clipped = false; }
    // A logical rectangle as pixels (corners rounded, sides ordered).
    IRect pixelRect(double l, double t, double r, double b) const { return PixelRect(transform(), l, t, r, b); }
    static IRect PixelRect(const Affine& m, double l, double t, double r, double b) {
        const PointD p = m({l, t}), q = m({r, b});
        const double x0 = Pixel(p.x), x1 = Pixel(q.x), y0 = Pixel(p.y), y1 = Pixel(q.y);
        return {static_cast<long long>(std::min(x0, x1)), static_cast<long long>(std::min(y0, y1)),
                static_cast<long long>(std::max(x0, x1)), static_cast<long long>(std::max(y0, y1))};
    }

    // ---- current position and lines
    void moveTo(PointD p) {
        dc.position = p;
        figureOpen_ = false;
    }
    void lineTo(PointD p) { continueFigure({toOutput(p)}, p); }
    void polylineTo(const std::vector<PointD>& points) {
        if (points.empty()) return;
        std::vector<PointD> out;
        out.reserve(points.size());
        const Snapped m = vertexMap();
        for (const PointD& p : points) out.push_back(m(p));
        continueFigure(out, points.back());
    }
    void polyBezierTo(const std::vector<PointD>& points) {
        const std::size_t n = points.size() / 3 * 3;
        if (n == 0) return;
        const Snapped m = vertexMap();
        std::vector<PointD> out;
        PointD from = m(dc.position);
        for (std::size_t i = 0; i < n; i += 3) {
            const PointD p1 = m(points[i]), p2 = m(points[i + 1]), p3 = m(points[i + 2]);
            AppendBezier(out, from, p1, p2, p3);
            from = p3;
        }
        continueFigure(out, points[n - 1]);
    }

    // ---- whole figures
    void polyline(const std::vector<PointD>& points) {
        if (points.empty()) return;
        Figure f;
        const Snapped m = vertexMap();
        for (const PointD& p : points) f.points.push_back(m(p));
        draw({std::move(f)}, false, true);
    }
    void polyBezier(const std::vector<PointD>& points) {
        if (points.size() < 4) return;
        const Snapped m = vertexMap();
        Figure f;
        f.points.push_back(m(points[0]));
        for (std::size_t i = 1; i + 2 < points.size(); i += 3)
            AppendBezier(f.points, f.points.back(), m(points[i]), m(points[i + 1]), m(points[i + 2]));
        draw({std::move(f)}, false, true);
    }
    void polyPolygon(const std::vector<std::vector<PointD>>& polygons) {
        std::vector<Figure> figures;
        const Snapped m = vertexMap();
        for (const auto& polygon : polygons) {
            if (polygon.empty()) continue;
            Figure f;
            f.closed = true;
            for (const PointD& p : polygon) f.points.push_back(m(p));
            figures.push_back(std::move(f));
        }
        draw(std::move(figures), true, true);
    }
    void polyPolyline(const std::vector<std::vector<PointD>>& lines) {
        std::vector<Figure> figures;
        const Snapped m = vertexMap();
        for (const auto& line : lines) {
            if (line.empty()) continue;
            Figure f;
            for (const PointD& p : line) f.points.push_back(m(p));
            figures.push_back(std::move(f));
        }
        draw(std::move(figures), false, true);
    }
    // PolyDraw: point types PT_MOVETO 6, PT_LINETO 2, PT_BEZIERTO 4, each possibly with
    // PT_CLOSEFIGURE 1.
    void polyDraw(const std::vector<PointD>& points, const std::vector<std::uint8_t>& types) {
        const Snapped m = vertexMap();
        std::vector<Figure> figures;
        Figure current;
        current.points.push_back(m(dc.position));
        auto finish = [&] {
            if (current.points.size() > 1) figures.push_back(current);
            current = Figure{};
        };
        PointD last = dc.position;
        for (std::size_t i = 0; i < points.size(); ++i) {
            const unsigned type = types[i] & ~1u;
            if (type == 6) {
                finish();
                current.points.push_back(m(points[i]));
                last = points[i];
                continue;
            }
            if (type == 4) {
                if (i + 2 >= points.size()) break;
                if (current.points.empty()) current.points.push_back(m(last));
                AppendBezier(current.points, current.points.back(), m(points[i]), m(points[i + 1]), m(points[i + 2]));
                i += 2;
            } else if (type == 2) {
                if (current.points.empty()) current.points.push_back(m(last));
                current.points.push_back(m(points[i]));
            } else {
                continue;
            }
            last = points[i];
            if (types[i] & 1) {
                current.closed = true;
                const PointD start = current.points.front();
                finish();
                current.points.push_back(start);
            }
        }
        finish();
        dc.position = last;
        if (inPath_) {
            figureOpen_ = false;
            for (Figure& f : figures) path_.push_back(std::move(f));
        } else {
            for (const Figure& f : figures) stroke(f);
        }
    }

    // GDI rectangles cover l..r-1, t..b-1: the outline runs along the last pixel inside.
    void rectangle(double l, double t, double r, double b) {
        const Affine m = transform();
        if (m.keepsAxes()) {
            const IRect px = PixelRect(m, l, t, r, b);
            if (px.right - px.left < 1 || px.bottom - px.top < 1) return;
            const double L = double(px.left), T = double(px.top), R = double(px.right - 1), B = double(px.bottom - 1);
            draw({Figure{{{L, T}, {R, T}, {R, B}, {L, B}}, true}}, true, true);
        } else {
            const Snapped v{m};
            draw({Figure{{v({l, t}), v({r, t}), v({r, b}), v({l, b})}, true}}, true, true);
        }
    }
    void ellipse(double l, double t, double r, double b) {
        const Affine m = transform();
        Figure f;
        f.closed = true;
        if (m.keepsAxes()) {
            const IRect px = PixelRect(m, l, t, r, b);
            if (px.right - px.left < 1 || px.bottom - px.top < 1) return;
            const double rx = double(px.right - 1 - px.left) / 2, ry = double(px.bottom - 1 - px.top) / 2;
            const PointD centre{double(px.left) + rx, double(px.top) + ry};
            AppendArc(f.points, centre, rx, ry, 0, 2 * kPi, ArcSegments(2 * kPi, std::max(rx, ry)), Affine{}, false);
        } else {
            const double rx = std::abs(r - l) / 2, ry = std::abs(b - t) / 2;
            AppendArc(f.points, {(l + r) / 2, (t + b) / 2}, rx, ry, 0, 2 * kPi,
                      ArcSegments(2 * kPi, std::max(rx, ry) * m.scale()), m, false);
        }
        draw({std::move(f)}, true, true);
    }
    void roundRect(double l, double t, double r, double b, double cornerWidth, double cornerHeight) {
        const Affine m = transform();
        double L = std::min(l, r), R = std::max(l, r), T = std::min(t, b), B = std::max(t, b);
        double rx = std::abs(cornerWidth) / 2, ry = std::abs(cornerHeight) / 2;
        Affine shape = m;
        if (m.keepsAxes()) {
            const IRect px = PixelRect(m, l, t, r, b);
            if (px.right - px.left < 1 || px.bottom - px.top < 1) return;
            L = double(px.left), T = double(px.top), R = double(px.right - 1), B = double(px.bottom - 1);
            rx *= std::abs(m.a);
            ry *= std::abs(m.d);
            shape = Affine{};
        }
        rx = std::min(rx, (R - L) / 2);
        ry = std::min(ry, (B - T) / 2);
        const int n = ArcSegments(kPi / 2, std::max(rx, ry) * shape.scale());
        Figure f;
        f.closed = true;
        AppendArc(f.points, {R - rx, T + ry}, rx, ry, -kPi / 2, kPi / 2, n, shape);
        AppendArc(f.points, {R - rx, B - ry}, rx, ry, 0, kPi / 2, n, shape);
        AppendArc(f.points, {L + rx, B - ry}, rx, ry, kPi / 2, kPi / 2, n, shape);
        AppendArc(f.points, {L + rx, T + ry}, rx, ry, kPi, kPi / 2, n, shape);
        draw({std::move(f)}, true, true);
    }
    // Arc, ArcTo, Chord and Pie: the ellipse in the box, from the ray towards `start` to
    // the ray towards `end`, counterclockwise on the device unless the arc direction
    // says clockwise.
    void arc(ArcKind kind, double l, double t, double r, double b, PointD start, PointD end) {
        const Affine m = transform();
        const PointD centre{(l + r) / 2, (t + b) / 2};
        const double rx = std::abs(r - l) / 2, ry = std::abs(b - t) / 2;
        if (rx == 0 || ry == 0) return;
        const double a0 = std::atan2((start.y - centre.y) / ry, (start.x - centre.x) / rx);
        const double a1 = std::atan2((end.y - centre.y) / ry, (end.x - centre.x) / rx);
        if (!std::isfinite(a0) || !std::isfinite(a1)) return;
        // Angles grow clockwise on a y-down device; a mapping that flips y turns that round.
        const bool decreasing = (m.det() > 0) != dc.clockwise;
        double sweep = std::fmod(decreasing ? a0 - a1 : a1 - a0, 2 * kPi);
        if (sweep <= 0) sweep += 2 * kPi;
        if (decreasing) sweep = -sweep;
        std::vector<PointD> points;
        AppendArc(points, centre, rx, ry, a0, sweep, ArcSegments(sweep, std::max(rx, ry) * m.scale()), m);
        switch (kind) {
            case ArcKind::Arc: draw({Figure{std::move(points), false}}, false, true); break;
            case ArcKind::ArcTo: {
                const double ae = a0 + sweep;
                continueFigure(points, {centre.x + rx * std::cos(ae), centre.y + ry * std::sin(ae)});
                break;
            }
            case ArcKind::Chord: draw({Figure{std::move(points), true}}, true, true); break;
            case ArcKind::Pie:
                points.insert(points.begin(), Snap(m(centre)));
                draw({Figure{std::move(points), true}}, true, true);
                break;
        }
    }
    // AngleArc: a line from the current position to the arc's start, then the arc;
    // angles in degrees, counterclockwise from the x axis of logical space.
    void angleArc(PointD centre, double radius, double startDegrees, double sweepDegrees) {
        if (!std::isfinite(startDegrees) || !std::isfinite(sweepDegrees)) return;
        const Affine m = transform();
        const double start = -startDegrees * kPi / 180;
        const double sweep = -std::clamp(sweepDegrees, -360.0, 360.0) * kPi / 180;
        std::vector<PointD> points;
        AppendArc(points, centre, radius, radius, start, sweep, ArcSegments(sweep, radius * m.scale()), m);
        continueFigure(points, {centre.x + radius * std::cos(start + sweep), centre.y + radius * std::sin(start + sweep)});
    }

    void setPixel(PointD p, Color c) {
        const PointD q = toOutput(p);
        const long long x = RoundToInt64(q.x), y = RoundToInt64(q.y);
        const IRect box = clipBox();
        if (x >= box.left && x < box.right && y >= box.top && y < box.bottom) put(int(x), int(y), c);
    }

    // Fills pixel rectangles (right and bottom excluded) with a brush, as FillRgn does.
    void fillRects(const std::vector<IRect>& rects, const Brush& brush) {
        const IRect box = clipBox();
        for (const IRect& r : rects) {
            const IRect area = Intersect(r, box);
            if (area.empty()) continue;
            budget_.spend(std::uint64_t(area.right - area.left) * std::uint64_t(area.bottom - area.top));
            for (long long y = area.top; y < area.bottom; ++y)
                for (long long x = area.left; x < area.right; ++x)
                    if (const auto c = brushAt(brush, int(x), int(y))) put(int(x), int(y), *c);
        }
    }
    // The opaque background of ExtTextOut, painted whatever the ROP2.
    void opaqueRect(const IRect& r) {
        const IRect area = Intersect(r, clipBox());
        if (area.empty()) return;
        budget_.spend(std::uint64_t(area.right - area.left) * std::uint64_t(area.bottom - area.top));
        for (long long y = area.top; y < area.bottom; ++y)
            for (long long x = area.left; x < area.right; ++x) canvas_.draw(int(x), int(y), dc.bkColor);
    }

    // ---- paths
    void beginPath() {
        path_.clear();
        inPath_ = true;
        figureOpen_ = false;
        widened_ = false;
    }
    void endPath() { inPath_ = false; }
    void abortPath() {
        path_.clear();
        inPath_ = false;
        widened_ = false;
    }
    void closeFigure() {
        if (inPath_ && figureOpen_ && !path_.empty()) path_.back().closed = true;
        figureOpen_ = false;
    }
    void widenPath() {
        if (!inPath_) widened_ = true;
    }
    void fillPath() { finishPath(true, false); }
    void strokePath() { finishPath(false, true); }
    void strokeAndFillPath() { finishPath(true, true); }
    // A clip path counts as its bounding rectangle.
    void selectClipPath(unsigned mode) {
        if (inPath_) return;
        double l = kFar, t = kFar, r = -kFar, b = -kFar;
        for (const Figure& f : path_)
            for (const PointD& p : f.points) {
                l = std::min(l, p.x), t = std::min(t, p.y), r = std::max(r, p.x), b = std::max(b, p.y);
            }
        path_.clear();
        widened_ = false;
        if (l > r) return;
        const IRect box{RoundToInt64(l), RoundToInt64(t), RoundToInt64(r), RoundToInt64(b)};
        if (mode == 1) intersectClip(box);       // RGN_AND
        else if (mode == 5) setClip(box);        // RGN_COPY
    }

    // ---- bitmaps
    // Draws the source rectangle into the logical destination rectangle x,y,w,h (a
    // negative size mirrors), scaled nearest-neighbour, clipped.
    void blit(const BlitSource& source, double x, double y, double w, double h, const Blend& blend) {
        if (blend.mode == Blend::Mode::Rop && blend.rop == 0xAA) return;  // the destination itself
        const Affine m = transform();
        const PointD p0 = m({x, y}), p1 = m({x + w, y + h});
        long long x0 = RoundToInt64(p0.x), x1 = RoundToInt64(p1.x), y0 = RoundToInt64(p0.y), y1 = RoundToInt64(p1.y);
        if (x0 == x1 || y0 == y1) return;
        const bool flipX = x1 < x0, flipY = y1 < y0;
        if (flipX) std::swap(x0, x1);
        if (flipY) std::swap(y0, y1);
        const IRect area = Intersect({x0, y0, x1, y1}, clipBox());
        if (area.empty()) return;

        const bool needSource = blend.mode != Blend::Mode::Rop || Rop3UsesSource(blend.rop);
        const Bitmap* src = source.image ? &source.image->bitmap : nullptr;
        if (needSource && (!src || src->empty())) return;
        const bool needPattern = blend.mode == Blend::Mode::Rop && Rop3UsesPattern(blend.rop);

        // Source column and row of every destination column and row; -1 outside the source.
        auto sample = [](long long d, long long d0, long long d1, bool flip, double s0, double size, int limit) {
            double f = (double(d) + 0.5 - double(d0)) / double(d1 - d0);
            if (flip) f = 1 - f;
            const double s = std::floor(s0 + f * size);
            return (s >= 0 && s < limit) ? int(s) : -1;
        };
        std::vector<int> columns;
        if (needSource) {
            columns.resize(std::size_t(area.right - area.left));
            for (long long px = area.left; px < area.right; ++px)
                columns[std::size_t(px - area.left)] =
                    sample(px, x0, x1, flipX, source.x, source.width, src->width());
        }
        const std::vector<std::uint8_t>* alpha =
            source.image && !source.image->alpha.empty() ? &source.image->alpha : nullptr;
        for (long long py = area.top; py < area.bottom; ++py) {
            budget_.spend(std::uint64_t(area.right - area.left) + 1);
            const int row = needSource ? sample(py, y0, y1, flipY, source.y, source.height, src->height()) : 0;
            if (row < 0) continue;
            for (long long px = area.left; px < area.right; ++px) {
                const int column = needSource ? columns[std::size_t(px - area.left)] : 0;
                if (column < 0) continue;
                const int ox = int(px), oy = int(py);
                const Color s = needSource ? src->pixel(column, row) : kBlack;
                switch (blend.mode) {
                    case Blend::Mode::Rop: {
                        Color pattern = kBlack;
                        if (needPattern) {
                            const auto c = brushAt(dc.brush, ox, oy);
                            if (!c) continue;
                            pattern = *c;
                        }
                        canvas_.draw(ox, oy, Rop3(blend.rop, pattern, s, canvas_.pixel(ox, oy)));
                        break;
                    }
                    case Blend::Mode::Transparent:
                        if (s != blend.key) canvas_.draw(ox, oy, s);
                        break;
                    case Blend::Mode::Alpha: {
                        const double constant = blend.constantAlpha / 255.0;
                        double a = constant;
                        if (blend.sourceAlpha && alpha)
                            a = (*alpha)[std::size_t(row) * std::size_t(src->width()) + std::size_t(column)] / 255.0 *
                                constant;
                        const double keep = 1 - a;
                        const Color d = canvas_.pixel(ox, oy);
                        // With per-pixel alpha the source is premultiplied.
                        const double sf = blend.sourceAlpha && alpha ? constant : a;
                        canvas_.draw(ox, oy,
                                     RGB(RoundToByte(GetR(s) * sf + GetR(d) * keep),
                                         RoundToByte(GetG(s) * sf + GetG(d) * keep),
                                         RoundToByte(GetB(s) * sf + GetB(d) * keep)));
                        break;
                    }
                }
            }
        }
    }

private:
    IRect clipBox() const {
        const IRect all{0, 0, canvas_.width(), canvas_.height()};
        return dc.clipped ? Intersect(all, dc.clip) : all;
    }

    // A pen or brush pixel, through the ROP2.
    void put(int x, int y, Color c) {
        if (dc.rop2 == kR2CopyPen) canvas_.draw(x, y, c);
        else canvas_.draw(x, y, Rop2(dc.rop2, c, canvas_.pixel(x, y)));
    }

    static bool HatchOn(unsigned hatch, int x, int y) {
        const bool horizontal = (y & 7) == 0, vertical = (x & 7) == 0;
        const bool forward = ((x - y) & 7) == 0, backward = ((x + y) & 7) == 0;
        switch (hatch) {
            case 0: return horizontal;
            case 1: return vertical;
            case 2: return forward;
            case 3: return backward;
            case 4: return horizontal || vertical;
            case 5: return forward || backward;
            default: return false;
        }
    }
    // The brush's colour at a pixel; nullopt where it leaves the pixel alone.
    std::optional<Color> brushAt(const Brush& brush, int x, int y) const {
        switch (brush.style) {
            case Brush::Style::Null: return std::nullopt;
            case Brush::Style::Solid: return brush.color;
            case Brush::Style::Hatched:
                if (HatchOn(brush.hatch, x, y)) return brush.color;
                if (dc.opaqueBackground) return dc.bkColor;
                return std::nullopt;
            case Brush::Style::Pattern: {
                const Bitmap& p = *brush.pattern;
                return p.pixel(x % p.width(), y % p.height());
            }
        }
        return std::nullopt;
    }

    double penWidth() const {
        if (dc.pen.cosmetic || dc.pen.width <= 0) return 1;
        return std::min(dc.pen.width * transform().scale(), kFar);
    }

    // One-pixel line from p to q (output coordinates), the end point left out as GDI does.
    void thinLine(PointD p, PointD q, Color color) {
        const long long x0 = RoundToInt64(p.x), y0 = RoundToInt64(p.y), x1 = RoundToInt64(q.x), y1 = RoundToInt64(q.y);
        const long long dx = x1 - x0, dy = y1 - y0;
        if (dx == 0 && dy == 0) return;
        const IRect box = clipBox();
        const bool xMajor = std::llabs(dx) >= std::llabs(dy);
        const long long from = xMajor ? x0 : y0, to = xMajor ? x1 : y1;
        const long long step = to > from ? 1 : -1;
        // The pixels along the major axis, without the last, limited to the box.
        long long lo = step > 0 ? from : to + 1, hi = step > 0 ? to - 1 : from;
        lo = std::max(lo, xMajor ? box.left : box.top);
        hi = std::min(hi, (xMajor ? box.right : box.bottom) - 1);
        const double slope = xMajor ? double(dy) / double(dx) : double(dx) / double(dy);
        if (lo <= hi) budget_.spend(std::uint64_t(hi - lo + 1));
        for (long long a = lo; a <= hi; ++a) {
            const long long b = RoundToInt64(double(xMajor ? y0 : x0) + double(a - from) * slope);
            const long long x = xMajor ? a : b, y = xMajor ? b : a;
            if (x >= box.left && x < box.right && y >= box.top && y < box.bottom) put(int(x), int(y), color);
        }
    }

    void stroke(const Figure& f) {
        if (!dc.pen.visible || f.points.size() < 2) return;
        const double width = penWidth();
        const std::vector<PointD>& p = f.points;
        if (width < 1.5) {
            for (std::size_t i = 0; i + 1 < p.size(); ++i) thinLine(p[i], p[i + 1], dc.pen.color);
            if (f.closed) thinLine(p.back(), p.front(), dc.pen.color);
            return;
        }
        const Color color = dc.pen.color;
        ScanFill(WideOutline(p, f.closed, width / 2, dc.pen.style), true, clipBox(), budget_, [&](int y, int x0, int x1) {
            for (int x = x0; x < x1; ++x) put(x, y, color);
        });
    }

    void fill(const std::vector<Figure>& figures, const Brush& brush) {
        if (brush.style == Brush::Style::Null) return;
        std::vector<Contour> contours;
        contours.reserve(figures.size());
        for (const Figure& f : figures) contours.push_back(f.points);
        fillContours(contours, dc.winding, brush);
    }
    void fillContours(const std::vector<Contour>& contours, bool winding, const Brush& brush) {
        ScanFill(contours, winding, clipBox(), budget_, [&](int y, int x0, int x1) {
            for (int x = x0; x < x1; ++x)
                if (const auto c = brushAt(brush, x, y)) put(x, y, *c);
        });
    }

    // Draws figures now, or adds them to the path while one is being recorded.
    void draw(std::vector<Figure> figures, bool filled, bool stroked) {
        if (inPath_) {
            figureOpen_ = false;
            for (Figure& f : figures) path_.push_back(std::move(f));
            return;
        }
        if (filled) fill(figures, dc.brush);
        if (stroked)
            for (const Figure& f : figures) stroke(f);
    }

    // LineTo-like drawing from the current position; `end` becomes the current position.
    void continueFigure(const std::vector<PointD>& points, PointD end) {
        if (inPath_) {
            if (!figureOpen_) {
                path_.push_back(Figure{{toOutput(dc.position)}, false});
                figureOpen_ = true;
            }
            auto& target = path_.back().points;
            target.insert(target.end(), points.begin(), points.end());
        } else {
            Figure f;
            f.points.push_back(toOutput(dc.position));
            f.points.insert(f.points.end(), points.begin(), points.end());
            stroke(f);
        }
        dc.position = end;
    }

    void finishPath(bool filled, bool stroked) {
        if (inPath_) return;  // only a closed path can be drawn
        if (widened_ && filled && !stroked) {
            // The widened path is the pen's outline: fill that with the brush.
            const double width = penWidth();
            std::vector<Contour> outline;
            for (const Figure& f : path_) {
                auto pieces = WideOutline(f.points, f.closed, width / 2, dc.pen.style);
                for (auto& piece : pieces) outline.push_back(std::move(piece));
            }
            if (dc.brush.style != Brush::Style::Null) fillContours(outline, true, dc.brush);
        } else {
            if (filled) fill(path_, dc.brush);
            if (stroked)
                for (const Figure& f : path_) stroke(f);
        }
        path_.clear();
        widened_ = false;
    }

    Canvas& canvas_;
    Affine deviceToOutput_;
    Budget budget_;
    std::vector<DcState> saved_;
    std::vector<Figure> path_;
    bool inPath_ = false;
    bool figureOpen_ = false;
    bool widened_ = false;
};

// Stock objects of GDI, selected by index | 0x80000000.
std::optional<GdiObject> StockObject(std::uint32_t index) {
    auto solid = [](Color c) {
        Brush b;
        b.color = c;
        return GdiObject(b);
    };
    auto pen = [](Color c, bool visible) {
        Pen p;
        p.color = c;
        p.visible = visible;
        return GdiObject(p);
    };
    switch (index) {
        case 0: return solid(kWhite);
        case 1: return solid(RGB(192, 192, 192));
        case 2: return solid(RGB(128, 128, 128));
        case 3: return solid(RGB(64, 64, 64));
        case 4: return solid(kBlack);
        case 5: {
            Brush b;
            b.style = Brush::Style::Null;
            return GdiObject(b);
        }
        case 6: return pen(kWhite, true);
        case 7: return pen(kBlack, true);
        case 8: return pen(kBlack, false);
        case 18: return solid(kWhite);  // DC_BRUSH
        case 19: return pen(kBlack, true);  // DC_PEN
        default: return std::nullopt;  // fonts, palette
    }
}

void Select(Renderer& r, const GdiObject& object) {
    if (const Pen* pen = std::get_if<Pen>(&object)) r.dc.pen = *pen;
    else if (const Brush* brush = std::get_if<Brush>(&object)) r.dc.brush = *brush;
}

constexpr unsigned kPsNull = 5;
constexpr unsigned kBsSolid = 0, kBsNull = 1, kBsHatched = 2;

Pen MakePen(unsigned style, double width, Color color, bool cosmetic) {
    Pen pen;
    pen.visible = (style & 0xF) != kPsNull;
    pen.cosmetic = cosmetic || width <= 0;
    pen.width = width;
    pen.color = color;
    pen.style = style;
    return pen;
}

Brush MakeBrush(unsigned style, Color color, unsigned hatch) {
    Brush brush;
    brush.color = color;
    brush.hatch = hatch;
    brush.style = style == kBsNull ? Brush::Style::Null : style == kBsHatched ? Brush::Style::Hatched : Brush::Style::Solid;
    return brush;
}

Brush PatternBrush(std::optional<DibImage> image) {
    Brush brush;
    if (!image || image->bitmap.empty()) {
        brush.style = Brush::Style::Null;  // a pattern that cannot be shown paints nothing
        return brush;
    }
    brush.style = Brush::Style::Pattern;
    brush.pattern = std::make_shared<const Bitmap>(std::move(image->bitmap));
    return brush;
}

// Source rectangle of a DIB given in the DIB's own coordinates: for a bottom-up DIB the
// origin is its lower-left corner. `firstScan` is the DIB row (from the bottom) that
// the bitmap's last row holds, as SetDIBitsToDevice gives it.
BlitSource DibSource(const DibImage& image, double x, double y, double w, double h, double firstScan = 0) {
    BlitSource s{&image, x, y, w, h};
    if (!image.topDown) s.y = double(image.bitmap.height()) - (y - firstScan) - h;
    return s;
}

// ---------------------------------------------------------------------------
// WMF

// The WMF object table: every object creation takes the lowest free index.
class WmfObjects {
public:
    void add(GdiObject object) {
        if (!free_.empty()) {
            const std::size_t i = *free_.begin();
            free_.erase(free_.begin());
            slots_[i] = std::move(object);
        } else {
            slots_.push_back(std::move(object));
        }
    }
    const GdiObject* find(std::size_t i) const { return i < slots_.size() && slots_[i] ? &*slots_[i] : nullptr; }
    void remove(std::size_t i) {
        if (i < slots_.size() && slots_[i]) {
            slots_[i].reset();
            free_.insert(i);
        }
    }

private:
    std::vector<std::optional<GdiObject>> slots_;
    std::set<std::size_t> free_;
};

std::vector<PointD> WmfPoints(const Record& rec, std::size_t at, std::size_t count) {
    rec.need(at + std::uint64_t(count) * 4);
    std::vector<PointD> points(count);
    for (std::size_t i = 0; i < count; ++i)
        points[i] = {double(rec.s16(at + 4 * i)), double(rec.s16(at + 4 * i + 2))};
    return points;
}

// The DIB at the end of a WMF record, split into BITMAPINFO and bits.
std::optional<DibImage> WmfDib(const Record& rec, std::size_t at, unsigned usage) {
    rec.need(at);
    const ByteSpan dib = rec.data.subspan(at);
    const std::uint64_t infoSize = PackedInfoSize(rec, dib, usage);
    if (infoSize > dib.size()) rec.damaged("its bitmap's colour table does not fit in it");
    return DecodeDib(rec, dib.first(std::size_t(infoSize)), dib.subspan(std::size_t(infoSize)), usage, false);
}

void PlayWmfRecord(Renderer& r, WmfObjects& objects, const Record& rec, unsigned recordWords) {
    const unsigned function = rec.type;
    switch (function & 0xFF) {
        case 0x01: r.dc.bkColor = ColorRef(rec.u32(0)); break;                 // SETBKCOLOR
        case 0x02: r.dc.opaqueBackground = rec.u16(0) == 2; break;            // SETBKMODE
        case 0x04: {                                                           // SETROP2
            const int rop = rec.u16(0);
            if (rop >= 1 && rop <= 16) r.dc.rop2 = rop;
            break;
        }
        case 0x06: r.dc.winding = rec.u16(0) == 2; break;  // SETPOLYFILLMODE
        case 0x09: r.dc.textColor = ColorRef(rec.u32(0)); break;  // SETTEXTCOLOR
        case 0x0B: r.dc.windowOrg = {double(rec.s16(2)), double(rec.s16(0))}; break;  // SETWINDOWORG
        case 0x0C: {                                                                    // SETWINDOWEXT
            const double y = rec.s16(0), x = rec.s16(2);
            if (x != 0 && y != 0) r.dc.windowExt = {x, y};
            break;
        }
        case 0x0F:  // OFFSETWINDOWORG
            r.dc.windowOrg.x += rec.s16(2);
            r.dc.windowOrg.y += rec.s16(0);
            break;
        case 0x10: {  // SCALEWINDOWEXT
            const double yDenom = rec.s16(0), yNum = rec.s16(2), xDenom = rec.s16(4), xNum = rec.s16(6);
            if (xDenom == 0 || yDenom == 0 || xNum == 0 || yNum == 0) break;
            r.dc.windowExt = {r.dc.windowExt.x * xNum / xDenom, r.dc.windowExt.y * yNum / yDenom};
            break;
        }
        case 0x13: r.lineTo({double(rec.s16(2)), double(rec.s16(0))}); break;  // LINETO
        case 0x14: r.moveTo({double(rec.s16(2)), double(rec.s16(0))}); break;  // MOVETO
        case 0x16:                                                             // INTERSECTCLIPRECT
            r.intersectClip(r.pixelRect(rec.s16(6), rec.s16(4), rec.s16(2), rec.s16(0)));
            break;
        case 0x17: case 0x1A: case 0x30: {  // ARC, PIE, CHORD
            const unsigned which = function & 0xFF;
            const ArcKind kind = which == 0x17 ? ArcKind::Arc : which == 0x1A ? ArcKind::Pie : ArcKind::Chord;
            r.arc(kind, rec.s16(14), rec.s16(12), rec.s16(10), rec.s16(8), {double(rec.s16(6)), double(rec.s16(4))},
                  {double(rec.s16(2)), double(rec.s16(0))});
            break;
        }
        case 0x18: r.ellipse(rec.s16(6), rec.s16(4), rec.s16(2), rec.s16(0)); break;    // ELLIPSE
        case 0x1B: r.rectangle(rec.s16(6), rec.s16(4), rec.s16(2), rec.s16(0)); break;  // RECTANGLE
        case 0x1C:                                                                        // ROUNDRECT
            r.roundRect(rec.s16(10), rec.s16(8), rec.s16(6), rec.s16(4), rec.s16(2), rec.s16(0));
            break;
        case 0x1D: {  // PATBLT
            Blend blend;
            blend.rop = (rec.u32(0) >> 16) & 0xFF;
            if (!Rop3UsesSource(blend.rop)) r.blit({}, rec.s16(10), rec.s16(8), rec.s16(6), rec.s16(4), blend);
            break;
        }
        case 0x1E: r.saveDc(); break;                 // SAVEDC
        case 0x27: r.restoreDc(rec.s16(0)); break;    // RESTOREDC
        case 0x1F: r.setPixel({double(rec.s16(6)), double(rec.s16(4))}, ColorRef(rec.u32(0))); break;  // SETPIXEL
        case 0x24: case 0x25: {  // POLYGON, POLYLINE
            const std::vector<PointD> points = WmfPoints(rec, 2, rec.u16(0));
            if ((function & 0xFF) == 0x24) r.polyPolygon({points});
            else r.polyline(points);
            break;
        }
        case 0x38: {  // POLYPOLYGON
            const std::size_t polygons = rec.u16(0);
            std::size_t at = 2 + 2 * polygons;
            rec.need(at);
            std::vector<std::vector<PointD>> all;
            for (std::size_t i = 0; i < polygons; ++i) {
                const std::size_t count = rec.u16(2 + 2 * i);
                all.push_back(WmfPoints(rec, at, count));
                at += 4 * count;
            }
            r.polyPolygon(all);
            break;
        }
        case 0x2D: {  // SELECTOBJECT
            if (const GdiObject* object = objects.find(rec.u16(0))) Select(r, *object);
            break;
        }
        case 0xF0: objects.remove(rec.u16(0)); break;  // DELETEOBJECT
        case 0xFA:                                      // CREATEPENINDIRECT
            objects.add(MakePen(rec.u16(0), rec.s16(2), ColorRef(rec.u32(6)), false));
            break;
        case 0xFC: objects.add(MakeBrush(rec.u16(0), ColorRef(rec.u32(2)), rec.u16(6))); break;  // CREATEBRUSHINDIRECT
        case 0x42: objects.add(PatternBrush(WmfDib(rec, 4, rec.u16(2)))); break;  // DIBCREATEPATTERNBRUSH
        case 0xF7: case 0xF8: case 0xF9: case 0xFB: case 0xFF:  // palette, brush, pattern brush, font, region
            objects.add(std::monostate{});
            break;
        case 0x32: {  // EXTTEXTOUT: only the opaque rectangle
            const unsigned options = rec.u16(6);
            if (options & 0x0002)
                r.opaqueRect(r.pixelRect(rec.s16(8), rec.s16(10), rec.s16(12), rec.s16(14)));
            break;
        }
        case 0x40: case 0x41: {  // DIBBITBLT, DIBSTRETCHBLT
            const bool stretch = (function & 0xFF) == 0x41;
            const bool withBitmap = recordWords != (function >> 8) + 3;
            const std::size_t at = withBitmap ? 4 : 6;  // the form without a bitmap has a reserved word
            Blend blend;
            blend.rop = (rec.u32(0) >> 16) & 0xFF;
            double srcW, srcH, ySrc, xSrc, destW, destH, yDest, xDest;
            std::size_t dibAt;
            if (stretch) {
                srcH = rec.s16(at), srcW = rec.s16(at + 2), ySrc = rec.s16(at + 4), xSrc = rec.s16(at + 6);
                destH = rec.s16(at + 8), destW = rec.s16(at + 10), yDest = rec.s16(at + 12), xDest = rec.s16(at + 14);
                dibAt = at + 16;
            } else {
                ySrc = rec.s16(at), xSrc = rec.s16(at + 2), destH = rec.s16(at + 4), destW = rec.s16(at + 6);
                yDest = rec.s16(at + 8), xDest = rec.s16(at + 10);
                srcW = destW, srcH = destH;
                dibAt = at + 12;
            }
            if (!withBitmap) {
                if (!Rop3UsesSource(blend.rop)) r.blit({}, xDest, yDest, destW, destH, blend);
                break;
            }
            const auto image = WmfDib(rec, dibAt, 0);
            if (image) r.blit(DibSource(*image, xSrc, ySrc, srcW, srcH), xDest, yDest, destW, destH, blend);
            break;
        }
        case 0x43: {  // STRETCHDIB
            Blend blend;
            blend.rop = (rec.u32(0) >> 16) & 0xFF;
            const unsigned usage = rec.u16(4);
            const double srcH = rec.s16(6), srcW = rec.s16(8), ySrc = rec.s16(10), xSrc = rec.s16(12);
            const double destH = rec.s16(14), destW = rec.s16(16), yDest = rec.s16(18), xDest = rec.s16(20);
            const auto image = WmfDib(rec, 22, usage);
            if (image) r.blit(DibSource(*image, xSrc, ySrc, srcW, srcH), xDest, yDest, destW, destH, blend);
            break;
        }
        case 0x33: {  // SETDIBTODEV
            const unsigned usage = rec.u16(0);
            const double startScan = rec.u16(4);
            const double yDib = rec.s16(6), xDib = rec.s16(8), height = rec.s16(10), width = rec.s16(12);
            const double yDest = rec.s16(14), xDest = rec.s16(16);
            const auto image = WmfDib(rec, 18, usage);
            if (image) r.blit(DibSource(*image, xDib, yDib, width, height, startScan), xDest, yDest, width, height, Blend{});
            break;
        }
        default: break;  // text, palettes, regions, escapes and the rest
    }
}

void PlayWmf(ByteSpan file, const PictureInfo& info, Canvas& canvas) {
    // The placeable box is the initial window; the viewport is the picture.
    Renderer r(canvas, Kind::Wmf, Affine{});
    r.dc.mapMode = kMmAnisotropic;
    r.dc.windowOrg = {double(info.boxLeft), double(info.boxTop)};
    r.dc.windowExt = {double(info.boxRight - info.boxLeft), double(info.boxBottom - info.boxTop)};
    r.dc.viewportExt = {double(info.width), double(info.height)};
    WmfObjects objects;
    std::size_t pos = info.firstRecord;
    while (pos < file.size()) {
        if (file.size() - pos < 6)
            Fail(Kind::Wmf, "file is truncated: the record at offset " + std::to_string(pos) + " is cut short");
        const std::uint64_t words = ReadLE32(file, pos);
        const unsigned function = ReadLE16(file, pos + 4);
        if (words < 3)
            Fail(Kind::Wmf, "record at offset " + std::to_string(pos) + " has a size of " + std::to_string(words) +
                                " words, less than its own header");
        if (words * 2 > file.size() - pos)
            Fail(Kind::Wmf, "file is truncated: record " + Hex(function, 4) + " at offset " + std::to_string(pos) +
                                " runs past the end of the file");
        if (function == 0x0000) break;  // META_EOF
        const Record rec{Kind::Wmf, file.subspan(pos + 6, std::size_t(words * 2 - 6)), pos, function};
        PlayWmfRecord(r, objects, rec, static_cast<unsigned>(words));
        pos += std::size_t(words * 2);
    }
}

// ---------------------------------------------------------------------------
// EMF

std::vector<PointD> EmfPoints(const Record& rec, std::size_t at, std::uint64_t count, bool small) {
    const std::size_t size = small ? 4 : 8;
    rec.need(at + count * size);
    std::vector<PointD> points(static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < points.size(); ++i) {
        const std::size_t p = at + i * size;
        points[i] = small ? PointD{double(rec.s16(p)), double(rec.s16(p + 2))}
                          : PointD{double(rec.s32(p)), double(rec.s32(p + 4))};
    }
    return points;
}

// The rectangles of a RegionData object (header of 32 bytes, then RECTL entries).
std::vector<std::array<double, 4>> RegionRects(const Record& rec, std::size_t at, std::uint64_t size) {
    rec.need(at + size);
    if (size < 32) rec.damaged("its region is cut short");
    const std::uint64_t count = rec.u32(at + 8);
    if (32 + count * 16 > size) rec.damaged("its region's rectangles do not fit in it");
    std::vector<std::array<double, 4>> rects(static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < rects.size(); ++i) {
        const std::size_t p = at + 32 + 16 * i;
        rects[i] = {double(rec.s32(p)), double(rec.s32(p + 4)), double(rec.s32(p + 8)), double(rec.s32(p + 12))};
    }
    return rects;
}

// A DIB at offsets inside an EMF record; nullopt when the record carries none.
std::optional<DibImage> EmfDib(const Record& rec, std::uint32_t offInfo, std::uint32_t infoSize, std::uint32_t offBits,
                               std::uint32_t bitsSize, unsigned usage, bool wantAlpha = false) {
    if (infoSize == 0) return std::nullopt;
    const ByteSpan info = rec.bytes(offInfo, infoSize);
    const ByteSpan bits = rec.bytes(offBits, bitsSize);
    return DecodeDib(rec, info, bits, usage, wantAlpha);
}

Affine ReadXform(const Record& rec, std::size_t at) {
    return {rec.f32(at), rec.f32(at + 4), rec.f32(at + 8), rec.f32(at + 12), rec.f32(at + 16), rec.f32(at + 20)};
}

struct EmfPlayer {
    Renderer& r;
    const PictureInfo& info;
    std::map<std::uint32_t, GdiObject> objects;

    void setMapMode(int mode) {
        // Fixed modes: units per millimetre, y up.
        double unitsPerMm = 0;
        switch (mode) {
            case kMmText: r.dc.windowExt = r.dc.viewportExt = {1, 1}; break;
            case kMmLoMetric: unitsPerMm = 10; break;
            case kMmHiMetric: unitsPerMm = 100; break;
            case kMmLoEnglish: unitsPerMm = 100 / 25.4; break;
            case kMmHiEnglish: unitsPerMm = 1000 / 25.4; break;
            case kMmTwips: unitsPerMm = 1440 / 25.4; break;
            case kMmIsotropic:
                if (r.dc.mapMode != kMmIsotropic) unitsPerMm = 10;  // starts as MM_LOMETRIC
                break;
            case kMmAnisotropic: break;
            default: return;
        }
        if (unitsPerMm > 0) {
            r.dc.windowExt = {unitsPerMm, unitsPerMm};
            r.dc.viewportExt = {info.pixelsPerMmX, -info.pixelsPerMmY};
        }
        r.dc.mapMode = mode;
    }
    // An object by index: created by the file, or a stock object (index | 0x80000000).
    std::optional<GdiObject> lookup(std::uint32_t index) const {
        if (index & 0x80000000u) return StockObject(index & 0x7FFFFFFFu);
        const auto it = objects.find(index);
        if (it == objects.end()) return std::nullopt;
        return it->second;
    }

    bool extentsAdjustable() const { return r.dc.mapMode == kMmIsotropic || r.dc.mapMode == kMmAnisotropic; }

    void bitmapRecord(const Record& rec) {
        switch (rec.type) {
            case 76: case 77: case 114: case 116: {  // BITBLT, STRETCHBLT, ALPHABLEND, TRANSPARENTBLT
                const double xDest = rec.s32(24), yDest = rec.s32(28), cxDest = rec.s32(32), cyDest = rec.s32(36);
                const std::uint32_t op = rec.u32(40);
                const double xSrc = rec.s32(44), ySrc = rec.s32(48);
                Affine xformSrc = ReadXform(rec, 52);
                if (!xformSrc.finite()) xformSrc = Affine{};
                const unsigned usage = rec.u32(80);
                const std::uint32_t offBmi = rec.u32(84), cbBmi = rec.u32(88), offBits = rec.u32(92),
                                    cbBits = rec.u32(96);
                double cxSrc = cxDest, cySrc = cyDest;
                if (rec.type != 76) cxSrc = rec.s32(100), cySrc = rec.s32(104);
                Blend blend;
                if (rec.type == 114) {
                    blend.mode = Blend::Mode::Alpha;
                    blend.constantAlpha = int((op >> 16) & 0xFF);
                    blend.sourceAlpha = ((op >> 24) & 0x01) != 0;  // AC_SRC_ALPHA
                } else if (rec.type == 116) {
                    blend.mode = Blend::Mode::Transparent;
                    blend.key = ColorRef(op);
                } else {
                    blend.rop = (op >> 16) & 0xFF;
                }
                const auto image = EmfDib(rec, offBmi, cbBmi, offBits, cbBits, usage, rec.type == 114);
                if (!image) {
                    if (blend.mode == Blend::Mode::Rop && !Rop3UsesSource(blend.rop))
                        r.blit({}, xDest, yDest, cxDest, cyDest, blend);
                    break;
                }
                // The source is a device context: its origin is the top left.
                const PointD s0 = xformSrc({xSrc, ySrc}), s1 = xformSrc({xSrc + cxSrc, ySrc + cySrc});
                r.blit({&*image, s0.x, s0.y, s1.x - s0.x, s1.y - s0.y}, xDest, yDest, cxDest, cyDest, blend);
                break;
            }
            case 80: {  // SETDIBITSTODEVICE
                const double xDest = rec.s32(24), yDest = rec.s32(28), xSrc = rec.s32(32), ySrc = rec.s32(36);
                const double cx = rec.s32(40), cy = rec.s32(44);
                const auto image = EmfDib(rec, rec.u32(48), rec.u32(52), rec.u32(56), rec.u32(60), rec.u32(64));
                const double startScan = rec.u32(68);
                if (image) r.blit(DibSource(*image, xSrc, ySrc, cx, cy, startScan), xDest, yDest, cx, cy, Blend{});
                break;
            }
            case 81: {  // STRETCHDIBITS
                const double xDest = rec.s32(24), yDest = rec.s32(28), xSrc = rec.s32(32), ySrc = rec.s32(36);
                const double cxSrc = rec.s32(40), cySrc = rec.s32(44);
                Blend blend;
                blend.rop = (rec.u32(68) >> 16) & 0xFF;
                const double cxDest = rec.s32(72), cyDest = rec.s32(76);
                const auto image = EmfDib(rec, rec.u32(48), rec.u32(52), rec.u32(56), rec.u32(60), rec.u32(64));
                if (image) r.blit(DibSource(*image, xSrc, ySrc, cxSrc, cySrc), xDest, yDest, cxDest, cyDest, blend);
                else if (!Rop3UsesSource(blend.rop)) r.blit({}, xDest, yDest, cxDest, cyDest, blend);
                break;
            }
            default: break;
        }
    }

    void play(const Record& rec) {
        switch (rec.type) {
            case 2: case 3: case 4: case 5: case 6:        // POLYBEZIER .. POLYLINETO
            case 85: case 86: case 87: case 88: case 89: {  // the same with 16-bit points
                const bool small = rec.type >= 85;
                const unsigned kind = small ? rec.type - 83 : rec.type;
                const std::vector<PointD> points = EmfPoints(rec, 28, rec.u32(24), small);
                switch (kind) {
                    case 2: r.polyBezier(points); break;
                    case 3: r.polyPolygon({points}); break;
                    case 4: r.polyline(points); break;
                    case 5: r.polyBezierTo(points); break;
                    case 6: r.polylineTo(points); break;
                }
                break;
            }
            case 7: case 8: case 90: case 91: {  // POLYPOLYLINE, POLYPOLYGON (and 16-bit)
                const bool small = rec.type >= 90;
                const std::uint64_t polys = rec.u32(24), total = rec.u32(28);
                rec.need(32 + polys * 4);
                std::uint64_t sum = 0;
                for (std::uint64_t i = 0; i < polys; ++i) sum += rec.u32(32 + std::size_t(i) * 4);
                if (sum > total) rec.damaged("its point counts add up to more than its points");
                std::size_t at = 32 + std::size_t(polys) * 4;
                const std::vector<PointD> all = EmfPoints(rec, at, sum, small);
                std::vector<std::vector<PointD>> shapes;
                std::size_t first = 0;
                for (std::uint64_t i = 0; i < polys; ++i) {
                    const std::size_t count = rec.u32(32 + std::size_t(i) * 4);
                    shapes.emplace_back(all.begin() + std::ptrdiff_t(first), all.begin() + std::ptrdiff_t(first + count));
                    first += count;
                }
                if (rec.type == 8 || rec.type == 91) r.polyPolygon(shapes);
                else r.polyPolyline(shapes);
                break;
            }
            case 56: case 92: {  // POLYDRAW, POLYDRAW16
                const bool small = rec.type == 92;
                const std::uint64_t count = rec.u32(24);
                const std::vector<PointD> points = EmfPoints(rec, 28, count, small);
                const ByteSpan types = rec.bytes(28 + count * (small ? 4 : 8), count);
                r.polyDraw(points, std::vector<std::uint8_t>(types.begin(), types.end()));
                break;
            }
            case 9: case 11: {  // SETWINDOWEXTEX, SETVIEWPORTEXTEX
                const double x = rec.s32(8), y = rec.s32(12);
                if (!extentsAdjustable() || x == 0 || y == 0) break;
                (rec.type == 9 ? r.dc.windowExt : r.dc.viewportExt) = {x, y};
                break;
            }
            case 10: r.dc.windowOrg = {double(rec.s32(8)), double(rec.s32(12))}; break;    // SETWINDOWORGEX
            case 12: r.dc.viewportOrg = {double(rec.s32(8)), double(rec.s32(12))}; break;  // SETVIEWPORTORGEX
            case 31: case 32: {  // SCALEVIEWPORTEXTEX, SCALEWINDOWEXTEX
                const double xNum = rec.s32(8), xDenom = rec.s32(12), yNum = rec.s32(16), yDenom = rec.s32(20);
                if (!extentsAdjustable() || xNum == 0 || xDenom == 0 || yNum == 0 || yDenom == 0) break;
                PointD& ext = rec.type == 31 ? r.dc.viewportExt : r.dc.windowExt;
                ext = {ext.x * xNum / xDenom, ext.y * yNum / yDenom};
                break;
            }
            case 15: r.setPixel({double(rec.s32(8)), double(rec.s32(12))}, ColorRef(rec.u32(16))); break;  // SETPIXELV
            case 17: setMapMode(int(rec.u32(8))); break;
            case 18: r.dc.opaqueBackground = rec.u32(8) == 2; break;  // SETBKMODE
            case 19: r.dc.winding = rec.u32(8) == 2; break;           // SETPOLYFILLMODE
            case 20: {                                                 // SETROP2
                const std::uint32_t rop = rec.u32(8);
                if (rop >= 1 && rop <= 16) r.dc.rop2 = int(rop);
                break;
            }
            case 24: r.dc.textColor = ColorRef(rec.u32(8)); break;  // SETTEXTCOLOR
            case 25: r.dc.bkColor = ColorRef(rec.u32(8)); break;    // SETBKCOLOR
            case 27: r.moveTo({double(rec.s32(8)), double(rec.s32(12))}); break;  // MOVETOEX
            case 30:                                                              // INTERSECTCLIPRECT
                r.intersectClip(r.pixelRect(rec.s32(8), rec.s32(12), rec.s32(16), rec.s32(20)));
                break;
            case 33: r.saveDc(); break;
            case 34: r.restoreDc(rec.s32(8)); break;
            case 35: {  // SETWORLDTRANSFORM
                const Affine x = ReadXform(rec, 8);
                if (x.finite()) r.dc.world = x;
                break;
            }
            case 36: {  // MODIFYWORLDTRANSFORM
                const Affine x = ReadXform(rec, 8);
                const std::uint32_t mode = rec.u32(32);
                if (mode == 1) r.dc.world = Affine{};
                else if (!x.finite()) break;
                else if (mode == 2) r.dc.world = Then(x, r.dc.world);
                else if (mode == 3) r.dc.world = Then(r.dc.world, x);
                else if (mode == 4) r.dc.world = x;
                break;
            }
            case 37: {  // SELECTOBJECT
                if (const auto object = lookup(rec.u32(8))) Select(r, *object);
                break;
            }
            case 38:  // CREATEPEN
                objects[rec.u32(8)] = MakePen(rec.u32(12), rec.s32(16), ColorRef(rec.u32(24)), false);
                break;
            case 39:  // CREATEBRUSHINDIRECT
                objects[rec.u32(8)] = MakeBrush(rec.u32(12), ColorRef(rec.u32(16)), rec.u32(20));
                break;
            case 40: objects.erase(rec.u32(8)); break;  // DELETEOBJECT
            case 95: {                                   // EXTCREATEPEN
                const std::uint32_t style = rec.u32(28);
                const bool geometric = (style & 0x000F0000u) == 0x00010000u;
                Pen pen = MakePen(style, rec.u32(32), ColorRef(rec.u32(40)), !geometric);
                if (rec.u32(36) == kBsNull) pen.visible = false;
                objects[rec.u32(8)] = pen;
                break;
            }
            case 93: case 94:  // CREATEMONOBRUSH, CREATEDIBPATTERNBRUSHPT
                objects[rec.u32(8)] =
                    PatternBrush(EmfDib(rec, rec.u32(16), rec.u32(20), rec.u32(24), rec.u32(28), rec.u32(12)));
                break;
            case 41:  // ANGLEARC
                r.angleArc({double(rec.s32(8)), double(rec.s32(12))}, rec.u32(16), rec.f32(20), rec.f32(24));
                break;
            case 42: r.ellipse(rec.s32(8), rec.s32(12), rec.s32(16), rec.s32(20)); break;
            case 43: r.rectangle(rec.s32(8), rec.s32(12), rec.s32(16), rec.s32(20)); break;
            case 44: r.roundRect(rec.s32(8), rec.s32(12), rec.s32(16), rec.s32(20), rec.s32(24), rec.s32(28)); break;
            case 45: case 46: case 47: case 55: {  // ARC, CHORD, PIE, ARCTO
                const ArcKind kind = rec.type == 45 ? ArcKind::Arc
                                     : rec.type == 46 ? ArcKind::Chord
                                     : rec.type == 47 ? ArcKind::Pie
                                                      : ArcKind::ArcTo;
                r.arc(kind, rec.s32(8), rec.s32(12), rec.s32(16), rec.s32(20), {double(rec.s32(24)), double(rec.s32(28))},
                      {double(rec.s32(32)), double(rec.s32(36))});
                break;
            }
            case 54: r.lineTo({double(rec.s32(8)), double(rec.s32(12))}); break;  // LINETO
            case 57: r.dc.clockwise = rec.u32(8) == 2; break;                      // SETARCDIRECTION
            case 59: r.beginPath(); break;
            case 60: r.endPath(); break;
            case 61: r.closeFigure(); break;
            case 62: r.fillPath(); break;
            case 63: r.strokeAndFillPath(); break;
            case 64: r.strokePath(); break;
            case 66: r.widenPath(); break;
            case 67: r.selectClipPath(rec.u32(8)); break;
            case 68: r.abortPath(); break;
            case 71: case 74: {  // FILLRGN, PAINTRGN: rectangles in logical units
                const std::uint32_t size = rec.u32(24);
                Brush brush = r.dc.brush;
                std::size_t at = 28;
                if (rec.type == 71) {
                    const auto object = lookup(rec.u32(28));
                    const Brush* chosen = object ? std::get_if<Brush>(&*object) : nullptr;
                    if (!chosen) break;
                    brush = *chosen;
                    at = 32;
                }
                std::vector<IRect> rects;
                for (const auto& q : RegionRects(rec, at, size)) rects.push_back(r.pixelRect(q[0], q[1], q[2], q[3]));
                r.fillRects(rects, brush);
                break;
            }
            case 75: {  // EXTSELECTCLIPRGN: the region (device units) counts as its bounding box
                const std::uint32_t size = rec.u32(8), mode = rec.u32(12);
                if (size == 0) {
                    if (mode == 5) r.clearClip();  // RGN_COPY without a region: no clipping
                    break;
                }
                const auto rects = RegionRects(rec, 16, size);
                if (rects.empty() || (mode != 1 && mode != 5)) break;
                double l = kFar, t = kFar, rr = -kFar, b = -kFar;
                for (const auto& q : rects) {
                    l = std::min(l, q[0]), t = std::min(t, q[1]), rr = std::max(rr, q[2]), b = std::max(b, q[3]);
                }
                const IRect box = Renderer::PixelRect(r.deviceToOutput(), l, t, rr, b);
                if (mode == 1) r.intersectClip(box);
                else r.setClip(box);
                break;
            }
            case 83: case 84: {  // EXTTEXTOUTA/W: only the opaque rectangle
                if (rec.u32(52) & 0x0002)
                    r.opaqueRect(r.pixelRect(rec.s32(56), rec.s32(60), rec.s32(64), rec.s32(68)));
                break;
            }
            case 76: case 77: case 80: case 81: case 114: case 116: bitmapRecord(rec); break;
            default: break;  // text, fonts, palettes, comments and the rest
        }
    }
};

void PlayEmf(ByteSpan file, const PictureInfo& info, Canvas& canvas) {
    // Reference-device pixels to picture pixels: the frame fills the picture.
    const double sx = info.width / info.frameWidth, sy = info.height / info.frameHeight;
    Renderer r(canvas, Kind::Emf, Affine{sx, 0, 0, sy, -info.frameLeft * sx, -info.frameTop * sy});
    EmfPlayer player{r, info, {}};
    std::size_t pos = info.firstRecord;
    while (pos < file.size()) {
        if (file.size() - pos < 8)
            Fail(Kind::Emf, "file is truncated: the record at offset " + std::to_string(pos) + " is cut short");
        const std::uint32_t type = ReadLE32(file, pos), size = ReadLE32(file, pos + 4);
        if (size < 8)
            Fail(Kind::Emf, "record at offset " + std::to_string(pos) + " has a size of " + std::to_string(size) +
                                " bytes, less than its own header");
        if (size > file.size() - pos)
            Fail(Kind::Emf, "file is truncated: record " + std::to_string(type) + " at offset " + std::to_string(pos) +
                                " runs past the end of the file");
        if (type == 14) break;  // EMR_EOF
        player.play(Record{Kind::Emf, file.subspan(pos, size), pos, type});
        pos += size;
    }
}

// ---------------------------------------------------------------------------
// Headers

PictureInfo InspectWmf(ByteSpan file) {
    if (file.size() < kPlaceableSize + kWmfHeaderSize)
        Fail(Kind::Wmf, "file is truncated: it is shorter than the placeable and metafile headers");
    unsigned checksum = 0;
    for (std::size_t i = 0; i < 20; i += 2) checksum ^= ReadLE16(file, i);
    const unsigned stored = ReadLE16(file, 20);
    if (checksum != stored)
        Fail(Kind::Wmf, "the placeable header's checksum is " + Hex(stored, 4) + ", but its fields give " +
                            Hex(checksum, 4));
    PictureInfo info;
    info.kind = Kind::Wmf;
    info.boxLeft = static_cast<std::int16_t>(ReadLE16(file, 6));
    info.boxTop = static_cast<std::int16_t>(ReadLE16(file, 8));
    info.boxRight = static_cast<std::int16_t>(ReadLE16(file, 10));
    info.boxBottom = static_cast<std::int16_t>(ReadLE16(file, 12));
    const unsigned unitsPerInch = ReadLE16(file, 14);
    if (unitsPerInch == 0) Fail(Kind::Wmf, "the placeable header gives 0 units per inch");

    const unsigned type = ReadLE16(file, kPlaceableSize), headerWords = ReadLE16(file, kPlaceableSize + 2);
    if ((type != 1 && type != 2) || headerWords != kWmfHeaderSize / 2)
        Fail(Kind::Wmf, "the metafile header after the placeable header is not valid");
    info.firstRecord = kPlaceableSize + kWmfHeaderSize;

    const double width = std::abs(info.boxRight - info.boxLeft) * kScreenDpi / unitsPerInch;
    const double height = std::abs(info.boxBottom - info.boxTop) * kScreenDpi / unitsPerInch;
    info.width = RoundToInt(width);
    info.height = RoundToInt(height);
    if (info.width < 1 || info.height < 1)
        Fail(Kind::Wmf, "the placeable bounding box is empty (" + std::to_string(info.boxLeft) + "," +
                            std::to_string(info.boxTop) + " to " + std::to_string(info.boxRight) + "," +
                            std::to_string(info.boxBottom) + ")");
    CheckPictureSize(info.width, info.height, "WMF");
    return info;
}

PictureInfo InspectEmf(ByteSpan file) {
    if (file.size() < kEmfMinHeaderSize) Fail(Kind::Emf, "file is truncated: the header is cut short");
    const std::uint32_t headerSize = ReadLE32(file, 4);
    if (headerSize < kEmfMinHeaderSize) Fail(Kind::Emf, "the header's size " + std::to_string(headerSize) + " is not valid");
    if (headerSize > file.size()) Fail(Kind::Emf, "file is truncated: the header runs past the end of the file");
    PictureInfo info;
    info.kind = Kind::Emf;
    info.firstRecord = headerSize;
    const auto s32 = [&](std::size_t at) { return double(static_cast<std::int32_t>(ReadLE32(file, at))); };
    const double boundsLeft = s32(8), boundsTop = s32(12), boundsRight = s32(16), boundsBottom = s32(20);
    double frameLeft = s32(24), frameTop = s32(28), frameRight = s32(32), frameBottom = s32(36);
    const double devicePxX = ReadLE32(file, 72), devicePxY = ReadLE32(file, 76);
    double deviceMmX = ReadLE32(file, 80), deviceMmY = ReadLE32(file, 84);
    // The micrometre sizes, when the header has them, are the precise ones.
    const std::uint32_t descriptionChars = ReadLE32(file, 60), descriptionAt = ReadLE32(file, 64);
    if (headerSize >= 108 && (descriptionChars == 0 || descriptionAt >= 108)) {
        const double umX = ReadLE32(file, 100), umY = ReadLE32(file, 104);
        if (umX > 0 && umY > 0) deviceMmX = umX / 1000, deviceMmY = umY / 1000;
    }
    if (devicePxX > 0 && devicePxY > 0 && deviceMmX > 0 && deviceMmY > 0) {
        info.pixelsPerMmX = devicePxX / deviceMmX;
        info.pixelsPerMmY = devicePxY / deviceMmY;
    }
    if (frameRight <= frameLeft || frameBottom <= frameTop) {
        // No frame: take the bounds, inclusive device pixels, as the picture.
        if (boundsRight < boundsLeft || boundsBottom < boundsTop)
            Fail(Kind::Emf, "the picture has no size: its frame and bounds are empty");
        frameLeft = boundsLeft * 100 / info.pixelsPerMmX;
        frameTop = boundsTop * 100 / info.pixelsPerMmY;
        frameRight = (boundsRight + 1) * 100 / info.pixelsPerMmX;
        frameBottom = (boundsBottom + 1) * 100 / info.pixelsPerMmY;
    }
    // The frame is in 0.01 mm; the picture is its size at 96 dpi.
    const double width = (frameRight - frameLeft) * kScreenDpi / 2540;
    const double height = (frameBottom - frameTop) * kScreenDpi / 2540;
    CheckPictureSize(static_cast<long long>(std::min(width, 1e12)), static_cast<long long>(std::min(height, 1e12)), "EMF");
    info.width = RoundToInt(width);
    info.height = RoundToInt(height);
    if (info.width < 1 || info.height < 1)
        Fail(Kind::Emf, "the picture frame is smaller than one pixel");
    CheckPictureSize(info.width, info.height, "EMF");
    info.frameLeft = frameLeft / 100 * info.pixelsPerMmX;
    info.frameTop = frameTop / 100 * info.pixelsPerMmY;
    info.frameWidth = (frameRight - frameLeft) / 100 * info.pixelsPerMmX;
    info.frameHeight = (frameBottom - frameTop) / 100 * info.pixelsPerMmY;
    return info;
}

}  // namespace

PictureInfo Inspect(ByteSpan file) {
    if (file.size() >= 4 && ReadLE32(file, 0) == kPlaceableKey) return InspectWmf(file);
    if (file.size() >= 8 && ReadLE32(file, 0) == kEmrHeader) {
        if (file.size() < 44) Fail(Kind::Emf, "file is truncated: the header is cut short");
        if (ReadLE32(file, 40) != kEmfSignature)
            Fail(Kind::Emf, "the header has no \" EMF\" signature (found " + Hex(ReadLE32(file, 40), 8) + ")");
        return InspectEmf(file);
    }
    // META_HEADER right at the start: a Windows metafile without the placeable header.
    if (file.size() >= 6) {
        const unsigned type = ReadLE16(file, 0), words = ReadLE16(file, 2), version = ReadLE16(file, 4);
        if ((type == 1 || type == 2) && words == 9 && (version == 0x0100 || version == 0x0300))
            Fail(Kind::Wmf, "not a valid metafile: the placeable header (key 0x9AC6CDD7) is missing");
    }
    Fail(Kind::Wmf, "not a Windows metafile or an enhanced metafile (no placeable or EMF header)");
}

void Play(ByteSpan file, const PictureInfo& info, Canvas& canvas) {
    if (info.kind == Kind::Wmf) PlayWmf(file, info, canvas);
    else PlayEmf(file, info, canvas);
}

}  // namespace pictorix::metafile
