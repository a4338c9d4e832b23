// Tests of the WMF, EMF and PDF writers: their byte layouts, checked field by field,
// and their pixels as independent programs show them (ImageMagick with libwmf for WMF,
// LibreOffice for EMF, qpdf, pdfimages and Ghostscript for PDF). Tests that need a
// program skip themselves when it is not installed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "core/bitmap.h"
#include "core/error.h"
#include "core/rounding.h"
#include "pictureio/codecs/bmp.h"
#include "pictureio/codecs/jpeg.h"
#include "pictureio/codecs/metafile.h"
#include "pictureio/pdf.h"
#include "test_util.h"

namespace pictorix {
namespace {

using test::HaveCommand;
using test::Quote;
using test::RunCommand;
using test::TempDir;

constexpr int kAllDepths[] = {1, 4, 8, 16, 24, 32};

// A gradient in the given pixel format, framed in black so that its edges never
// match a white page (LibreOffice's rendering is cut out by trimming the page).
Bitmap Picture(int bpp, int width = 37, int height = 23) {
    Bitmap b = test::Gradient(width, height, bpp);
    for (int x = 0; x < width; ++x) b.setPixel(x, 0, kBlack), b.setPixel(x, height - 1, kBlack);
    for (int y = 0; y < height; ++y) b.setPixel(0, y, kBlack), b.setPixel(width - 1, y, kBlack);
    b.setBitsPerPixel(bpp);
    return b;
}

void WriteFile(const std::string& path, const ByteVector& data) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
}

ByteVector ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return ByteVector(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// R, G, B bytes of the bitmap's pixels, rows from the top.
ByteVector RgbBytes(const Bitmap& b) {
    ByteVector v;
    for (int y = 0; y < b.height(); ++y)
        for (int x = 0; x < b.width(); ++x) {
            const Color c = b.pixel(x, y);
            v.insert(v.end(), {std::uint8_t(GetR(c)), std::uint8_t(GetG(c)), std::uint8_t(GetB(c))});
        }
    return v;
}

int MaxDifference(const ByteVector& a, const ByteVector& b) {
    if (a.size() != b.size()) return 256;
    int d = 0;
    for (std::size_t i = 0; i < a.size(); ++i) d = std::max(d, std::abs(int(a[i]) - int(b[i])));
    return d;
}

// The DIB that a BMP file of the bitmap holds after its 14-byte file header.
ByteVector Dib(const Bitmap& b) {
    const ByteVector file = bmp::Write(b);
    return ByteVector(file.begin() + 14, file.end());
}

std::uint32_t LE32(const ByteVector& v, std::size_t at) { return ReadLE32(ByteSpan(v), at); }
std::uint16_t LE16(const ByteVector& v, std::size_t at) { return ReadLE16(ByteSpan(v), at); }
std::int32_t S32(const ByteVector& v, std::size_t at) { return static_cast<std::int32_t>(LE32(v, at)); }

std::string Text(const ByteVector& v) { return std::string(v.begin(), v.end()); }

// ---------------------------------------------------------------------------
// WMF

TEST(WmfWrite, PlaceableHeaderHasTheKeyBoxUnitsAndChecksum) {
    // Checksum worked out by hand: 0xCDD7 ^ 0x9AC6 ^ 300 ^ 200 ^ 96 (the other words are 0).
    const ByteVector wmf = metafile::WriteWmf(Bitmap(300, 200, 24));
    const ByteVector expected = {0xD7, 0xCD, 0xC6, 0x9A, 0, 0, 0, 0, 0,    0, 0x2C,
                                 0x01, 0xC8, 0x00, 0x60, 0, 0, 0, 0, 0, 0x95, 0x56};
    EXPECT_EQ(ByteVector(wmf.begin(), wmf.begin() + 22), expected);

    const ByteVector small = metafile::WriteWmf(Bitmap(13, 7, 1));
    EXPECT_EQ(LE16(small, 20), 0xCDD7 ^ 0x9AC6 ^ 13 ^ 7 ^ 96);
}

TEST(WmfWrite, RecordsDrawTheDibOnceAtItsSize) {
    for (int bpp : kAllDepths) {
        SCOPED_TRACE(bpp);
        const Bitmap b = Picture(bpp, 21, 9);
        const ByteVector wmf = metafile::WriteWmf(b);
        const ByteVector dib = Dib(b);

        // META_HEADER after the placeable header; sizes count 16-bit words.
        constexpr std::size_t h = 22;
        ASSERT_EQ((wmf.size() - h) % 2, 0u);
        EXPECT_EQ(LE16(wmf, h), 1);  // memory metafile
        EXPECT_EQ(LE16(wmf, h + 2), 9);
        EXPECT_EQ(LE16(wmf, h + 4), 0x0300);
        EXPECT_EQ(LE32(wmf, h + 6), (wmf.size() - h) / 2);
        EXPECT_EQ(LE16(wmf, h + 10), 0);  // objects
        const std::uint32_t stretchWords = (28 + dib.size()) / 2;
        EXPECT_EQ(LE32(wmf, h + 12), stretchWords);  // largest record

        // The records, walked by their sizes, must end exactly at the end of the file.
        std::vector<unsigned> functions;
        std::size_t at = h + 18;
        while (at + 6 <= wmf.size()) {
            const std::size_t size = std::size_t(LE32(wmf, at)) * 2;
            ASSERT_GE(size, 6u);
            const unsigned function = LE16(wmf, at + 4);
            functions.push_back(function);
            if (function == 0x020B) {  // SetWindowOrg y, x
                EXPECT_EQ(size, 10u);
                EXPECT_EQ(LE32(wmf, at + 6), 0u);
            } else if (function == 0x020C) {  // SetWindowExt y, x
                EXPECT_EQ(size, 10u);
                EXPECT_EQ(LE16(wmf, at + 6), 9);
                EXPECT_EQ(LE16(wmf, at + 8), 21);
            } else if (function == 0x0F43) {  // StretchDIB
                EXPECT_EQ(size, stretchWords * 2u);
                EXPECT_EQ(LE32(wmf, at + 6), 0x00CC0020u);  // SRCCOPY
                EXPECT_EQ(LE16(wmf, at + 10), 0);           // DIB_RGB_COLORS
                const std::vector<int> params = {9, 21, 0, 0, 9, 21, 0, 0};  // source h w y x, dest h w y x
                for (std::size_t i = 0; i < params.size(); ++i) EXPECT_EQ(LE16(wmf, at + 12 + 2 * i), params[i]) << i;
                EXPECT_EQ(ByteVector(wmf.begin() + long(at) + 28, wmf.begin() + long(at + size)), dib);
            }
            at += size;
        }
        EXPECT_EQ(at, wmf.size());
        EXPECT_EQ(functions, (std::vector<unsigned>{0x020B, 0x020C, 0x0F43, 0x0000}));
        EXPECT_EQ(LE32(wmf, wmf.size() - 6), 3u);  // META_EOF
    }
}

TEST(WmfWrite, RefusesWhatSixteenBitCoordinatesCannotHold) {
    EXPECT_THROW(metafile::WriteWmf(Bitmap()), Error);
    EXPECT_THROW(metafile::WriteWmf(Bitmap(32768, 1, 1)), Error);
    EXPECT_THROW(metafile::WriteWmf(Bitmap(1, 32768, 1)), Error);
    const ByteVector wmf = metafile::WriteWmf(Bitmap(32767, 2, 1));
    EXPECT_EQ(LE16(wmf, 10), 32767);
}

TEST(WmfWrite, ImageMagickShowsOurPixels) {
    if (!HaveCommand("convert")) GTEST_SKIP() << "ImageMagick's convert is not installed";
    TempDir dir;
    for (int bpp : kAllDepths) {
        SCOPED_TRACE(bpp);
        const Bitmap b = Picture(bpp);
        const std::string wmf = dir.file("p.wmf"), rgb = dir.file("p.rgb");
        WriteFile(wmf, metafile::WriteWmf(b));
        // The box is in 1/96 inch: at 96 dpi the metafile is the picture's size in pixels.
        const auto r = RunCommand("convert -density 96 " + Quote(wmf) + " -depth 8 rgb:" + Quote(rgb));
        ASSERT_EQ(r.status, 0) << r.output;
        EXPECT_EQ(ReadFile(rgb), RgbBytes(b));
    }
}

// ---------------------------------------------------------------------------
// EMF

TEST(EmfWrite, HeaderStretchDibitsAndEndRecords) {
    for (int bpp : kAllDepths) {
        SCOPED_TRACE(bpp);
        const Bitmap b = Picture(bpp, 301, 7);
        const ByteVector emf = metafile::WriteEmf(b);
        const ByteVector dib = Dib(b);
        const std::uint32_t infoSize = LE32(bmp::Write(b), 10) - 14;

        // EMR_HEADER
        EXPECT_EQ(LE32(emf, 0), 1u);
        ASSERT_EQ(LE32(emf, 4), 108u);
        EXPECT_EQ(std::vector<std::int32_t>({S32(emf, 8), S32(emf, 12), S32(emf, 16), S32(emf, 20)}),
                  std::vector<std::int32_t>({0, 0, 300, 6}));  // bounds, inclusive
        // Frame in 0.01 mm, inclusive: 301 px are 7964.27 -> 7964 hundredths, 7 px 185.21 -> 185.
        EXPECT_EQ(std::vector<std::int32_t>({S32(emf, 24), S32(emf, 28), S32(emf, 32), S32(emf, 36)}),
                  std::vector<std::int32_t>({0, 0, 7963, 184}));
        EXPECT_EQ(LE32(emf, 40), 0x464D4520u);  // " EMF"
        EXPECT_EQ(LE32(emf, 44), 0x00010000u);
        EXPECT_EQ(LE32(emf, 48), emf.size());
        EXPECT_EQ(LE32(emf, 52), 3u);  // records
        EXPECT_EQ(LE16(emf, 56), 1);   // handles
        EXPECT_EQ(LE32(emf, 60), 0u);  // description
        EXPECT_EQ(LE32(emf, 68), 0u);  // palette entries
        // The reference screen: 1920 x 1440 pixels, 508 x 381 mm (96 dpi).
        EXPECT_EQ(LE32(emf, 72), 1920u);
        EXPECT_EQ(LE32(emf, 76), 1440u);
        EXPECT_EQ(LE32(emf, 80), 508u);
        EXPECT_EQ(LE32(emf, 84), 381u);
        EXPECT_EQ(LE32(emf, 100), 508000u);
        EXPECT_EQ(LE32(emf, 104), 381000u);

        // EMR_STRETCHDIBITS
        constexpr std::size_t s = 108;
        EXPECT_EQ(LE32(emf, s), 81u);
        const std::uint32_t size = LE32(emf, s + 4);
        ASSERT_EQ(size, 80 + dib.size());
        const std::vector<std::int32_t> fields = {
            0, 0, 300, 6,  // bounds
            0, 0, 0, 0,    // destination x, y; source x, y
            301, 7,        // source size
            80, std::int32_t(infoSize), std::int32_t(80 + infoSize), std::int32_t(dib.size() - infoSize),
            0,           // DIB_RGB_COLORS
            0x00CC0020,  // SRCCOPY
            301, 7,      // destination size
        };
        for (std::size_t i = 0; i < fields.size(); ++i) EXPECT_EQ(S32(emf, s + 8 + 4 * i), fields[i]) << i;
        EXPECT_EQ(ByteVector(emf.begin() + s + 80, emf.begin() + s + size), dib);

        // EMR_EOF closes the file.
        const std::size_t e = s + size;
        ASSERT_EQ(emf.size(), e + 20);
        EXPECT_EQ(std::vector<std::uint32_t>({LE32(emf, e), LE32(emf, e + 4), LE32(emf, e + 8), LE32(emf, e + 12),
                                              LE32(emf, e + 16)}),
                  std::vector<std::uint32_t>({14, 20, 0, 16, 20}));
    }
    EXPECT_THROW(metafile::WriteEmf(Bitmap()), Error);
}

TEST(MetafileWrite, LibreOfficeShowsOurPixels) {
    const std::string office = HaveCommand("soffice") ? "soffice" : HaveCommand("libreoffice") ? "libreoffice" : "";
    if (office.empty()) GTEST_SKIP() << "LibreOffice (soffice) is not installed";
    if (!HaveCommand("convert")) GTEST_SKIP() << "ImageMagick's convert is not installed";
    // LibreOffice enlarges a plain metafile whose larger side is under an inch, so the
    // picture is wider than 96 pixels.
    constexpr int kWidth = 101, kHeight = 23;
    TempDir dir;
    std::string files;
    for (int bpp : kAllDepths) {
        const Bitmap b = Picture(bpp, kWidth, kHeight);
        const std::string name = dir.file(std::to_string(bpp));
        WriteFile(name + "w.wmf", metafile::WriteWmf(b));
        WriteFile(name + "e.emf", metafile::WriteEmf(b));
        files += " " + Quote(name + "w.wmf") + " " + Quote(name + "e.emf");
    }
    // One start of LibreOffice for all files, with a profile of its own.
    const auto r = RunCommand(office + " --headless -env:UserInstallation=file://" + dir.path() +
                              "/profile --convert-to png --outdir " + Quote(dir.path()) + files);
    ASSERT_EQ(r.status, 0) << r.output;
    for (int bpp : kAllDepths)
        for (const char* kind : {"w", "e"}) {
            SCOPED_TRACE(std::to_string(bpp) + kind);
            // The picture is placed on a white page; its black frame makes trimming exact.
            const std::string png = dir.file(std::to_string(bpp) + kind + ".png"), rgb = dir.file("p.rgb");
            const auto c = RunCommand("convert " + Quote(png) + " -trim +repage -depth 8 rgb:" + Quote(rgb));
            ASSERT_EQ(c.status, 0) << c.output;
            // LibreOffice shows 16-bit DIB colours a few levels off; the others exactly.
            EXPECT_LE(MaxDifference(ReadFile(rgb), RgbBytes(Picture(bpp, kWidth, kHeight))), bpp == 16 ? 8 : 0);
        }
}

// ---------------------------------------------------------------------------
// PDF

const PdfDateTime kTime{2024, 3, 5, 7, 8, 9};

// The stream of the object that starts with `objectHeader`, e.g. "5 0 obj".
ByteVector StreamOf(const std::string& pdf, const std::string& objectHeader) {
    const std::size_t obj = pdf.find(objectHeader);
    const std::size_t start = pdf.find("stream\n", obj) + 7;
    const std::size_t end = pdf.find("\nendstream", start);
    if (obj == std::string::npos || end == std::string::npos) return {};
    return ByteVector(pdf.begin() + long(start), pdf.begin() + long(end));
}

TEST(PdfWrite, PageImageAndInformationOfARawPicture) {
    const Bitmap b = Picture(24, 640, 480);
    const std::string pdf = Text(WritePdf(b, kPdfCompressionNone, kTime));
    EXPECT_EQ(pdf.rfind("%PDF-1.2\n", 0), 0u);
    EXPECT_NE(pdf.find("/Type /Page /Parent 2 0 R /MediaBox [0 0 640 480]"), std::string::npos);
    EXPECT_NE(pdf.find("/XObject << /primage 5 0 R >>"), std::string::npos);
    EXPECT_EQ(Text(StreamOf(pdf, "4 0 obj")), "q\n640 0 0 480 1 -1 cm\n/primage Do\nQ\n");
    EXPECT_NE(pdf.find("<< /Type /XObject /Subtype /Image /Name /primage /Width 640 /Height 480 "
                       "/BitsPerComponent 8 /ColorSpace /DeviceRGB /Length 921600 >>"),
              std::string::npos);
    EXPECT_EQ(pdf.find("/Filter"), std::string::npos);
    EXPECT_EQ(StreamOf(pdf, "5 0 obj"), RgbBytes(b));
    EXPECT_NE(pdf.find("<< /Producer () /Author () /Creator () /Keywords () /Subject () /Title () "
                       "/CreationDate (D:20240305070809) /ModDate (D:20240305070809) >>"),
              std::string::npos);
    EXPECT_NE(pdf.find("<< /Type /Catalog /Pages 2 0 R >>"), std::string::npos);

    // Cross-reference table: startxref points at it; each entry is 20 bytes and points at its object.
    const std::size_t startxref = pdf.rfind("startxref\n");
    ASSERT_NE(startxref, std::string::npos);
    const std::size_t xref = std::stoul(pdf.substr(startxref + 10));
    ASSERT_EQ(pdf.compare(xref, 9, "xref\n0 7\n"), 0);
    EXPECT_EQ(pdf.substr(xref + 9, 20), "0000000000 65535 f \n");
    for (int i = 1; i < 7; ++i) {
        const std::string entry = pdf.substr(xref + 9 + 20 * std::size_t(i), 20);
        ASSERT_EQ(entry.substr(10), " 00000 n \n") << i;
        EXPECT_EQ(pdf.compare(std::stoul(entry.substr(0, 10)), 8, std::to_string(i) + " 0 obj\n"), 0) << i;
    }
    EXPECT_EQ(pdf.substr(xref + 9 + 140), "trailer\n<< /Size 7 /Root 1 0 R /Info 6 0 R >>\nstartxref\n" +
                                              std::to_string(xref) + "\n%%EOF\n");
}

TEST(PdfWrite, PalettePicturesAreIndexedWithTheirPalettePadded) {
    for (int bpp : {1, 4, 8}) {
        SCOPED_TRACE(bpp);
        const Bitmap b = Picture(bpp, 11, 5);
        const std::string pdf = Text(WritePdf(b, kPdfCompressionNone, kTime));
        std::string palette;
        char entry[8];
        for (std::size_t i = 0; i < 256; ++i) {
            const Color c = i < b.palette().size() ? b.palette()[i] : kBlack;
            std::snprintf(entry, sizeof entry, "%02X%02X%02X ", GetR(c), GetG(c), GetB(c));
            palette += entry;
        }
        EXPECT_NE(pdf.find("/ColorSpace [/Indexed /DeviceRGB 255 <" + palette + ">] /Length 55 >>"),
                  std::string::npos);
        ByteVector indices;
        for (int y = 0; y < b.height(); ++y)
            for (int x = 0; x < b.width(); ++x) indices.push_back(std::uint8_t(b.index(x, y)));
        EXPECT_EQ(StreamOf(pdf, "5 0 obj"), indices);
    }
    // A palette shorter than the format's: missing entries are black.
    Bitmap two(3, 1, 8);
    two.setPalette({RGB(1, 2, 3), RGB(0xAB, 0xCD, 0xEF)});
    const std::string pdf = Text(WritePdf(two, kPdfCompressionNone, kTime));
    EXPECT_NE(pdf.find("<010203 ABCDEF 000000 "), std::string::npos);
}

TEST(PdfWrite, JpegIsTheBaselineQuality100Stream) {
    const Bitmap b = Picture(8, 30, 20);
    const std::string pdf = Text(WritePdf(b, kPdfCompressionJpeg, kTime));
    const ByteVector jpeg = jpeg::Write(b, 100, false);
    EXPECT_NE(pdf.find("/XObject << /prjpegimage 5 0 R >>"), std::string::npos);
    EXPECT_NE(pdf.find("/prjpegimage Do"), std::string::npos);
    EXPECT_NE(pdf.find("<< /Type /XObject /Subtype /Image /Name /prjpegimage /Width 30 /Height 20 "
                       "/BitsPerComponent 8 /ColorSpace /DeviceRGB /Filter [/DCTDecode] /Length " +
                       std::to_string(jpeg.size()) + " >>"),
              std::string::npos);
    const ByteVector stream = StreamOf(pdf, "5 0 obj");
    EXPECT_EQ(stream, jpeg);
    ASSERT_GE(stream.size(), 2u);
    EXPECT_EQ(stream[0], 0xFF);
    EXPECT_EQ(stream[1], 0xD8);
}

TEST(PdfWrite, OnlyTheDatesDependOnTheTime) {
    // A second apart across a year's end: every digit of the date changes.
    const PdfDateTime before{2024, 12, 31, 23, 59, 59}, after{2025, 1, 1, 0, 0, 0};
    for (int bpp : kAllDepths)
        for (int compression : {kPdfCompressionNone, kPdfCompressionJpeg}) {
            SCOPED_TRACE(std::to_string(bpp) + " bits, compression " + std::to_string(compression));
            const Bitmap b = Picture(bpp, 9, 6);
            const std::string one = Text(WritePdf(b, compression, before));
            std::string two = Text(WritePdf(b, compression, after));
            ASSERT_EQ(one.size(), two.size());
            const std::string oldDates = "/CreationDate (D:20241231235959) /ModDate (D:20241231235959)";
            const std::string newDates = "/CreationDate (D:20250101000000) /ModDate (D:20250101000000)";
            const std::size_t at = two.find(newDates);
            ASSERT_NE(at, std::string::npos);
            two.replace(at, newDates.size(), oldDates);
            EXPECT_EQ(one, two);
        }

    const std::string now = Text(WritePdf(Picture(24, 2, 2), kPdfCompressionNone));
    const std::string dated = FormatPdfDate(CurrentPdfDateTime());
    EXPECT_NE(now.find("/CreationDate (D:"), std::string::npos);
    ASSERT_EQ(dated.size(), 16u);
    EXPECT_TRUE(std::all_of(dated.begin() + 2, dated.end(), [](char c) { return c >= '0' && c <= '9'; }));
}

TEST(PdfWrite, RefusesAnEmptyPictureAndAnUnknownCompression) {
    EXPECT_THROW(WritePdf(Bitmap(), kPdfCompressionNone, kTime), Error);
    EXPECT_THROW(WritePdf(Bitmap(), kPdfCompressionJpeg, kTime), Error);
    for (int compression : {-1, 2})
        EXPECT_THROW(WritePdf(Bitmap(4, 4, 24), compression, kTime), Error) << compression;
}

TEST(PdfWrite, QpdfAndPdfimagesAcceptEveryDepth) {
    if (!HaveCommand("qpdf") || !HaveCommand("pdfimages"))
        GTEST_SKIP() << "qpdf or pdfimages (poppler-utils) is not installed";
    TempDir dir;
    for (int bpp : kAllDepths)
        for (int compression : {kPdfCompressionNone, kPdfCompressionJpeg}) {
            SCOPED_TRACE(std::to_string(bpp) + " bits, compression " + std::to_string(compression));
            const std::string path = dir.file("p.pdf");
            WriteFile(path, WritePdf(Picture(bpp), compression, kTime));

            const auto check = RunCommand("qpdf --check " + Quote(path));
            EXPECT_EQ(check.status, 0) << check.output;
            EXPECT_NE(check.output.find("PDF Version: 1.2"), std::string::npos) << check.output;
            EXPECT_NE(check.output.find("No syntax or stream encoding errors"), std::string::npos) << check.output;

            // page num type width height color comp bpc enc ...
            const auto list = RunCommand("pdfimages -list " + Quote(path));
            ASSERT_EQ(list.status, 0) << list.output;
            std::istringstream lines(list.output);
            std::vector<std::vector<std::string>> rows;
            for (std::string line; std::getline(lines, line);) {
                std::istringstream words(line);
                std::vector<std::string> row;
                for (std::string w; words >> w;) row.push_back(w);
                if (!row.empty() && row[0] == "1") rows.push_back(row);
            }
            ASSERT_EQ(rows.size(), 1u) << list.output;
            const bool indexed = compression == kPdfCompressionNone && bpp <= 8;
            EXPECT_EQ(std::vector<std::string>(rows[0].begin() + 2, rows[0].begin() + 9),
                      (std::vector<std::string>{"image", "37", "23", indexed ? "index" : "rgb", indexed ? "1" : "3",
                                                "8", compression == kPdfCompressionJpeg ? "jpeg" : "image"}));
        }
}

TEST(PdfWrite, IdentifyAcceptsEveryDepth) {
    if (!HaveCommand("identify") || !HaveCommand("gs"))
        GTEST_SKIP() << "ImageMagick's identify or Ghostscript is not installed";
    TempDir dir;
    for (int bpp : kAllDepths)
        for (int compression : {kPdfCompressionNone, kPdfCompressionJpeg}) {
            SCOPED_TRACE(std::to_string(bpp) + " bits, compression " + std::to_string(compression));
            const std::string path = dir.file("p.pdf");
            WriteFile(path, WritePdf(Picture(bpp), compression, kTime));
            const auto identify = RunCommand("identify " + Quote(path));
            // Debian's ImageMagick ships a policy that forbids reading PDF.
            if (identify.output.find("security policy") != std::string::npos)
                GTEST_SKIP() << "ImageMagick's security policy does not allow reading PDF";
            EXPECT_EQ(identify.status, 0) << identify.output;
            EXPECT_NE(identify.output.find("PDF 37x23"), std::string::npos) << identify.output;
        }
}

// Reads a binary PPM (P6, maxval 255) as Ghostscript writes it, comments included.
bool ReadPpm(const ByteVector& file, int& width, int& height, ByteVector& rgb) {
    std::size_t at = 2;
    auto number = [&](int& value) {
        while (at < file.size() && (std::isspace(file[at]) || file[at] == '#')) {
            if (file[at] == '#')
                while (at < file.size() && file[at] != '\n') ++at;
            else
                ++at;
        }
        value = 0;
        const std::size_t start = at;
        while (at < file.size() && std::isdigit(file[at])) value = value * 10 + (file[at++] - '0');
        return at > start;
    };
    int maxval = 0;
    if (file.size() < 2 || file[0] != 'P' || file[1] != '6') return false;
    if (!number(width) || !number(height) || !number(maxval) || maxval != 255) return false;
    ++at;  // the single whitespace byte before the samples
    if (file.size() - at != std::size_t(width) * std::size_t(height) * 3) return false;
    rgb.assign(file.begin() + long(at), file.end());
    return true;
}

TEST(PdfWrite, GhostscriptShowsThePictureOnePointInFromTheTopLeft) {
    if (!HaveCommand("gs")) GTEST_SKIP() << "Ghostscript (gs) is not installed";
    TempDir dir;
    for (int bpp : kAllDepths) {
        SCOPED_TRACE(bpp);
        const Bitmap b = Picture(bpp);
        const std::string pdf = dir.file("p.pdf"), ppm = dir.file("p.ppm");
        WriteFile(pdf, WritePdf(b, kPdfCompressionNone, kTime));
        // 72 dpi: one point is one device pixel.
        const auto r = RunCommand("gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=ppmraw -r72 -sOutputFile=" + Quote(ppm) +
                                  " " + Quote(pdf));
        ASSERT_EQ(r.status, 0) << r.output;
        int width = 0, height = 0;
        ByteVector page;
        ASSERT_TRUE(ReadPpm(ReadFile(ppm), width, height, page));
        ASSERT_EQ(width, b.width());
        ASSERT_EQ(height, b.height());
        // Page pixel (x, y) shows picture pixel (x - 1, y - 1); the top row and left column stay white.
        ByteVector expected;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const Color c = x == 0 || y == 0 ? kWhite : b.pixel(x - 1, y - 1);
                expected.insert(expected.end(), {std::uint8_t(GetR(c)), std::uint8_t(GetG(c)), std::uint8_t(GetB(c))});
            }
        EXPECT_EQ(page, expected);
    }
}

}  // namespace
}  // namespace pictorix
