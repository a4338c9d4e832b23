#include "pictureio/pdf.h"

#include <time.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>
#include <utility>

#include "core/error.h"
#include "pictureio/codecs/jpeg.h"

namespace pictorix {
namespace {

[[noreturn]] void Fail(const std::string& what) { throw Error("PDF: " + what); }

// Objects in the order they are written; the numbers are fixed by this order.
enum ObjectNumber : int { kCatalog = 1, kPages, kPage, kContents, kImage, kInfo, kObjectCount };

// The image as it goes into the document.
struct Image {
    const char* name;
    std::string colorSpace;  // the /ColorSpace value
    const char* filter;      // the /Filter value, or nullptr
    const char* procSet;     // the procedure set that paints it
    ByteVector data;
};

// The palette as a hex string of 256 entries "RRGGBB ", padded with black.
std::string PaletteHexString(const Palette& palette) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string s = "<";
    s.reserve(2 + 256 * 7);
    for (std::size_t i = 0; i < 256; ++i) {
        const Color c = i < palette.size() ? palette[i] : kBlack;
        for (unsigned channel : {GetR(c), GetG(c), GetB(c)}) {
            s += kHex[channel >> 4];
            s += kHex[channel & 15];
        }
        s += ' ';
    }
    s += '>';
    return s;
}

Image RawImage(const Bitmap& bitmap) {
    const int width = bitmap.width(), height = bitmap.height();
    Image image{"primage", "", nullptr, nullptr, {}};
    const bool indexed = bitmap.bitsPerPixel() <= 8;
    image.data.reserve(std::size_t(width) * std::size_t(height) * (indexed ? 1 : 3));
    if (indexed) {
        image.colorSpace = "[/Indexed /DeviceRGB 255 " + PaletteHexString(bitmap.palette()) + "]";
        image.procSet = "/ImageI";
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) image.data.push_back(static_cast<std::uint8_t>(bitmap.index(x, y)));
    } else if (bitmap.bitsPerPixel() == 24) {
        image.colorSpace = "/DeviceRGB";
        image.procSet = "/ImageC";
        image.data.resize(std::size_t(width) * std::size_t(height) * 3);
        std::uint8_t* out = image.data.data();
        for (int y = 0; y < height; ++y) {
            const std::uint8_t* p = bitmap.row(y);
            for (int x = 0; x < width; ++x, p += 3, out += 3) {
                out[0] = p[2];
                out[1] = p[1];
                out[2] = p[0];
            }
        }
    } else {
        image.colorSpace = "/DeviceRGB";
        image.procSet = "/ImageC";
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const Color c = bitmap.pixel(x, y);
                image.data.push_back(static_cast<std::uint8_t>(GetR(c)));
                image.data.push_back(static_cast<std::uint8_t>(GetG(c)));
                image.data.push_back(static_cast<std::uint8_t>(GetB(c)));
            }
    }
    return image;
}

Image JpegImage(const Bitmap& bitmap) {
    return Image{"prjpegimage", "/DeviceRGB", "[/DCTDecode]", "/ImageC",
                 jpeg::Write(bitmap, 100, /*progressive=*/false)};
}

// Appends objects and remembers where each starts, for the cross-reference table.
class Document {
public:
    // `dataSize`: the bytes of streams to come, so the document is allocated once.
    explicit Document(std::size_t dataSize) { out_.reserve(dataSize + 4096); }

    void append(std::string_view text) { out_.insert(out_.end(), text.begin(), text.end()); }
    void append(const ByteVector& bytes) { out_.insert(out_.end(), bytes.begin(), bytes.end()); }

    void beginObject(int number) {
        offsets_[number] = out_.size();
        append(std::to_string(number) + " 0 obj\n");
    }
    void endObject() { append("endobj\n"); }

    // A dictionary object with a stream; `dictionary` lacks only the /Length entry.
    void streamObject(int number, const std::string& dictionary, const ByteVector& data) {
        beginObject(number);
        append("<< " + dictionary + (dictionary.empty() ? "" : " ") + "/Length " + std::to_string(data.size()) + " >>\nstream\n");
        append(data);
        append("\nendstream\n");
        endObject();
    }

    // Cross-reference table, trailer and end; each table entry is exactly 20 bytes.
    ByteVector finish() {
        const std::size_t xref = out_.size();
        append("xref\n0 " + std::to_string(int(kObjectCount)) + "\n");
        append("0000000000 65535 f \n");
        for (int i = 1; i < kObjectCount; ++i) {
            if (offsets_[i] > 9999999999ull) Fail("the document is too large");
            char entry[21];
            std::snprintf(entry, sizeof entry, "%010llu 00000 n \n", static_cast<unsigned long long>(offsets_[i]));
            append(std::string_view(entry, 20));
        }
        append("trailer\n<< /Size " + std::to_string(int(kObjectCount)) + " /Root " + std::to_string(int(kCatalog)) +
               " 0 R /Info " + std::to_string(int(kInfo)) + " 0 R >>\nstartxref\n" + std::to_string(xref) +
               "\n%%EOF\n");
        return std::move(out_);
    }

private:
    ByteVector out_;
    std::array<std::size_t, kObjectCount> offsets_{};
};

std::string Ref(int number) { return std::to_string(number) + " 0 R"; }

}  // namespace

PdfDateTime CurrentPdfDateTime() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (!localtime_r(&now, &local)) Fail("the local time is not available");
    return PdfDateTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                       local.tm_hour,        local.tm_min,     local.tm_sec};
}

std::string FormatPdfDate(const PdfDateTime& t) {
    char text[24];
    std::snprintf(text, sizeof text, "D:%04d%02d%02d%02d%02d%02d", std::clamp(t.year, 0, 9999),
                  std::clamp(t.month, 1, 12), std::clamp(t.day, 1, 31), std::clamp(t.hour, 0, 23),
                  std::clamp(t.minute, 0, 59), std::clamp(t.second, 0, 60));
    return text;
}

ByteVector WritePdf(const Bitmap& bitmap, int compression) {
    return WritePdf(bitmap, compression, CurrentPdfDateTime());
}

ByteVector WritePdf(const Bitmap& bitmap, int compression, const PdfDateTime& written) {
    if (bitmap.empty()) Fail("the bitmap is empty");
    if (compression != kPdfCompressionNone && compression != kPdfCompressionJpeg)
        Fail("picture compression " + std::to_string(compression) + " is not known (0 none, 1 JPEG)");
    const Image image = compression == kPdfCompressionNone ? RawImage(bitmap) : JpegImage(bitmap);
    const std::string w = std::to_string(bitmap.width()), h = std::to_string(bitmap.height());
    const std::string name = std::string("/") + image.name;

    Document doc(image.data.size());
    // The second line marks the file as binary for programs that guess.
    doc.append("%PDF-1.2\n%\xE2\xE3\xCF\xD3\n");

    doc.beginObject(kCatalog);
    doc.append("<< /Type /Catalog /Pages " + Ref(kPages) + " >>\n");
    doc.endObject();

    doc.beginObject(kPages);
    doc.append("<< /Type /Pages /Kids [" + Ref(kPage) + "] /Count 1 >>\n");
    doc.endObject();

    doc.beginObject(kPage);
    doc.append("<< /Type /Page /Parent " + Ref(kPages) + " /MediaBox [0 0 " + w + " " + h +
               "] /Resources << /ProcSet [/PDF " + image.procSet + "] /XObject << " + name + " " + Ref(kImage) +
               " >> >> /Contents " + Ref(kContents) + " >>\n");
    doc.endObject();

    // Image space is the unit square: scale it to W x H with its lower-left corner at 1, -1.
    const std::string content = "q\n" + w + " 0 0 " + h + " 1 -1 cm\n" + name + " Do\nQ\n";
    doc.streamObject(kContents, "", ByteVector(content.begin(), content.end()));

    std::string imageDictionary = "/Type /XObject /Subtype /Image /Name " + name + " /Width " + w + " /Height " + h +
                                  " /BitsPerComponent 8 /ColorSpace " + image.colorSpace;
    if (image.filter) imageDictionary += std::string(" /Filter ") + image.filter;
    doc.streamObject(kImage, imageDictionary, image.data);

    const std::string date = "(" + FormatPdfDate(written) + ")";
    doc.beginObject(kInfo);
    doc.append("<< /Producer () /Author () /Creator () /Keywords () /Subject () /Title () /CreationDate " + date +
               " /ModDate " + date + " >>\n");
    doc.endObject();

    return doc.finish();
}

}  // namespace pictorix
