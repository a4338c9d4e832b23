#pragma once
// Shared helpers of the codec tests: file bytes, byte builders, the first accepting
// reader of a table, ImageMagick's decoding and the shared picture corpus.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/bitmap.h"
#include "core/error.h"
#include "pictureio/codecs/codec.h"
#include "test_util.h"

namespace pictorix::test {

inline ByteVector ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return ByteVector(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, const ByteVector& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline void PutBE16(ByteVector& v, unsigned x) {
    v.push_back(static_cast<std::uint8_t>(x >> 8));
    v.push_back(static_cast<std::uint8_t>(x));
}
inline void PutBE32(ByteVector& v, std::uint32_t x) {
    for (int i = 3; i >= 0; --i) v.push_back(static_cast<std::uint8_t>(x >> (8 * i)));
}
inline void Append(ByteVector& v, const ByteVector& w) { v.insert(v.end(), w.begin(), w.end()); }
inline void Append(ByteVector& v, const std::string& s) { v.insert(v.end(), s.begin(), s.end()); }
// Writes `s` at `at`, growing the vector with zeros as needed.
inline void PutAt(ByteVector& v, std::size_t at, const std::string& s) {
    if (v.size() < at + s.size()) v.resize(at + s.size(), 0);
    std::copy(s.begin(), s.end(), v.begin() + static_cast<std::ptrdiff_t>(at));
}

// Whether the reader's probe takes the file; it gets a copy of exactly its header
// bytes, so that reading past them shows.
inline bool Accepts(const ProbingReader& r, ByteSpan file) {
    if (file.size() <= r.headerLength) return false;
    const ByteVector header(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(r.headerLength));
    return r.accepts(header, file.size());
}

// The reader of `readers` whose probe takes the file first, as the general route asks
// them in order; null if none.
inline const ProbingReader* Recognise(std::span<const ProbingReader> readers, ByteSpan file) {
    for (const ProbingReader& r : readers)
        if (Accepts(r, file)) return &r;
    return nullptr;
}

inline const ProbingReader& ReaderNamed(std::span<const ProbingReader> readers, const std::string& name) {
    for (const ProbingReader& r : readers)
        if (name == r.name) return r;
    throw std::logic_error("no reader " + name);
}

// A header held to the probe of the reader named `reader`.
struct ProbeCase {
    const char* what;
    const char* reader;
    ByteVector header;
    std::uint64_t size;  // 0: one byte more than the header length
    bool accepted;
};

inline void ExpectProbeAnswers(std::span<const ProbingReader> readers, std::span<const ProbeCase> cases) {
    for (const ProbeCase& c : cases) {
        SCOPED_TRACE(c.what);
        const ProbingReader& r = ReaderNamed(readers, c.reader);
        ASSERT_EQ(c.header.size(), r.headerLength);
        const std::uint64_t size = c.size ? c.size : r.headerLength + 1;
        EXPECT_EQ(r.accepts(c.header, size), c.accepted);
    }
}

// Reads `bytes` with `read`; the error text when it fails, empty on success.
inline std::string ErrorOf(void (*read)(ByteSpan, Bitmap&), const ByteVector& bytes, Bitmap& b) {
    try {
        read(bytes, b);
    } catch (const Error& e) {
        return e.what();
    }
    return {};
}

// A damaged file and the error that reading it must give.
struct BadFile {
    const char* what;
    ByteVector file;
    std::string message;
};

// Reads every file into one bitmap: each gives its error, and the bitmap stays as it was.
inline void ExpectErrorsKeepBitmap(void (*read)(ByteSpan, Bitmap&), std::span<const BadFile> cases) {
    Bitmap kept(2, 2, 24);
    kept.fill(RGB(1, 2, 3));
    for (const BadFile& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(ErrorOf(read, c.file, kept), c.message);
    }
    EXPECT_EQ(kept.width(), 2);
    EXPECT_EQ(kept.pixel(1, 1), RGB(1, 2, 3));
}

// How a good file is damaged: cut at every length below `everyCutBelow`, then at about
// `spreadCuts` further points; and `mutations` copies with one to four bytes changed,
// half of the changes within the first `headerBytes`.
struct Damage {
    std::size_t everyCutBelow;
    std::size_t spreadCuts;
    int mutations;
    std::size_t headerBytes;
};

inline std::vector<ByteVector> DamagedCopies(const ByteVector& good, const Damage& d, std::mt19937& random) {
    const std::size_t size = good.size();
    std::vector<ByteVector> cases;
    const std::size_t step = std::max<std::size_t>(1, size / d.spreadCuts);
    for (std::size_t n = 0; n < size; n += n < d.everyCutBelow ? 1 : step)
        cases.emplace_back(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n));
    for (int i = 0; i < d.mutations; ++i) {
        ByteVector bad = good;
        const int changes = 1 + static_cast<int>(random() % 4);
        for (int k = 0; k < changes; ++k) {
            const std::size_t limit = (random() % 2) ? std::min<std::size_t>(size, d.headerBytes) : size;
            bad[random() % limit] = static_cast<std::uint8_t>(random());
        }
        cases.push_back(std::move(bad));
    }
    return cases;
}

// Reads every damaged file: each gives a picture or an Error whose text begins with
// the reader's name, never anything else. Returns the number of errors.
inline int ReadDamaged(void (*read)(ByteSpan, Bitmap&), const std::string& name, const std::vector<ByteVector>& cases) {
    int errors = 0;
    for (const ByteVector& bad : cases) {
        Bitmap b;
        try {
            read(bad, b);
        } catch (const Error& e) {
            ++errors;
            const std::string text = e.what();
            EXPECT_EQ(text.rfind(name + ": ", 0), 0u) << text;
        } catch (const std::exception& e) {
            ADD_FAILURE() << "not a pictorix::Error: " << e.what() << " (" << bad.size() << " bytes)";
        }
    }
    return errors;
}

// A tool's standard output alone (its warnings go elsewhere); nullopt when it fails.
inline std::optional<ByteVector> Stdout(const std::string& command) {
    FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
    if (!pipe) return std::nullopt;
    ByteVector out;
    std::uint8_t buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.insert(out.end(), buffer, buffer + n);
    if (::pclose(pipe) != 0) return std::nullopt;
    return out;
}

// ImageMagick's reading of a picture, flattened on white, as R,G,B bytes; `command`
// is the "convert <source> [options]" that reads it. It is asked for 16-bit samples,
// which are brought to 8 bits by our rule, the nearest value: its own reduction to
// 8 bits truncates, which is a matter of taste, not of decoding.
inline bool ImageMagickRgb(const std::string& command, std::vector<std::uint8_t>& rgb) {
    // Its warnings must not mix with the pixels: RunCommand merges the two streams.
    const CommandResult r =
        RunCommand("(" + command + " -background white -flatten -depth 16 -endian MSB rgb:- 2>/dev/null)");
    rgb.clear();
    for (std::size_t i = 0; i + 1 < r.output.size(); i += 2) {
        const unsigned v = (static_cast<std::uint8_t>(r.output[i]) << 8) | static_cast<std::uint8_t>(r.output[i + 1]);
        rgb.push_back(static_cast<std::uint8_t>((v + 128) / 257));
    }
    return r.status == 0;
}

// Number of pixels that differ from the R,G,B bytes by more than `tolerance` in a
// channel; the first few are reported.
inline int CountDifferences(const Bitmap& b, const std::vector<std::uint8_t>& rgb, int tolerance = 0) {
    if (rgb.size() != std::size_t(b.width()) * std::size_t(b.height()) * 3) {
        ADD_FAILURE() << "ImageMagick gives " << rgb.size() << " bytes for " << b.width() << " x " << b.height();
        return -1;
    }
    int differing = 0;
    for (int y = 0; y < b.height(); ++y)
        for (int x = 0; x < b.width(); ++x) {
            const std::uint8_t* p = &rgb[(std::size_t(y) * std::size_t(b.width()) + std::size_t(x)) * 3];
            const Color c = b.pixel(x, y);
            if (std::abs(int(GetR(c)) - p[0]) <= tolerance && std::abs(int(GetG(c)) - p[1]) <= tolerance &&
                std::abs(int(GetB(c)) - p[2]) <= tolerance)
                continue;
            if (differing++ < 3)
                ADD_FAILURE() << "pixel " << x << "," << y << ": ours " << std::hex << c << ", ImageMagick "
                              << RGB(p[0], p[1], p[2]) << std::dec;
        }
    return differing;
}

// A folder of the shared picture corpus, or "" when the corpus is not here.
inline std::string CorpusDir(const std::string& folder) {
#ifdef PICTORIX_CORPUS_DIR
    const std::string dir = std::string(PICTORIX_CORPUS_DIR) + "/" + folder;
    if (std::filesystem::is_directory(dir)) return dir;
#endif
    return {};
}

// The files of a folder, sorted by path.
inline std::vector<std::filesystem::path> FilesIn(const std::string& dir) {
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        if (e.is_regular_file()) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace pictorix::test
