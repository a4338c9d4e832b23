// The general reading route: the content decides, the readers are asked in their order,
// and the routes by extension reach their own readers.
#include <gtest/gtest.h>

#include <string>

#include "core/error.h"
#include "pictureio/picture_io.h"
#include "test_util.h"

namespace pictorix {
namespace {

using test::Gradient;

FormatOptions Format(int index) {
    FormatOptions o;
    o.format = index;
    return o;
}

// The message of the error that decoding `data` under `name` gives, or "" if it decodes.
std::string DecodeError(const std::string& name, const ByteVector& data) {
    Bitmap b;
    try {
        DecodePicture(name, data, b);
    } catch (const Error& e) {
        return e.what();
    }
    return "";
}

using test::SamePixels;

// Our own outputs come back through the route their extension takes, whatever the
// extension of the general route is called.
TEST(GeneralRoute, OwnOutputsReadBackByContentOrByExtension) {
    const Bitmap picture = Gradient(13, 7);
    struct Case {
        int format;
        const char* name;
    };
    for (Case c : {Case{2, "a.xyz"}, Case{4, "a.dat"}, Case{4, "noextension"}, Case{5, "a.PCC"}, Case{6, "a.tga"},
                   Case{6, "a.vst"}, Case{7, "a.wmf"}, Case{8, "a.EMF"}}) {
        const ByteVector data = EncodePicture(picture, Format(c.format));
        Bitmap b;
        ASSERT_NO_THROW(DecodePicture(c.name, data, b)) << c.name;
        EXPECT_TRUE(SamePixels(b, picture)) << c.name;
    }
}

TEST(GeneralRoute, RefusalsAreErrorsNeverPlaceholders) {
    const ByteVector png = EncodePicture(Gradient(4, 4), Format(2));
    const ByteVector bmp = EncodePicture(Gradient(4, 4), Format(0));
    const ByteVector gif = EncodePicture(Gradient(4, 4), Format(3));
    ByteVector tiff8 = {'I', 'I', 42, 0, 8, 0, 0, 0};
    ByteVector p7 = {'P', '7', '\n', '4', ' ', '4', '\n', '2', '5', '5', '\n', 0, 0, 0};
    const std::string refused = "not a picture that Pictorix can read";
    EXPECT_EQ(DecodeError("a.dib", bmp), refused);  // bitmaps take no part in probing
    EXPECT_EQ(DecodeError("a.jfif", ByteVector{0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0}), refused);
    EXPECT_EQ(DecodeError("a.gifx", gif), refused);
    EXPECT_EQ(DecodeError("a.tif", tiff8), refused);  // the remaining size must exceed 8
    EXPECT_EQ(DecodeError("a.pnm", p7), refused);
    EXPECT_EQ(DecodeError("a.cut", ByteVector(64, 1)), refused);  // Dr. Halo is never recognised
    EXPECT_EQ(DecodeError("a.png.bak", png), "");
}

// A header that both the Targa and the PCX tests accept goes to the Targa reader, which
// comes first; its failure is an error, not a try of the next reader.
TEST(GeneralRoute, FirstAcceptingReaderDecidesAndItsFailureIsReported) {
    ByteVector data(200, 0);
    data[0] = 10;  // PCX manufacturer, Targa identification length
    data[1] = 0;   // PCX version, Targa colour-map type
    data[2] = 1;   // PCX encoding, Targa image type (colour-mapped)
    data[7] = 24;  // Targa colour-map entry size
    data[16] = 8;  // Targa pixel size
    EXPECT_EQ(DecodeError("a.pcx", data).rfind("TGA: ", 0), 0u) << DecodeError("a.pcx", data);
}

// The routes by extension: icons, WBMP and metafiles reach their readers.
TEST(GeneralRoute, ExtensionRoutes) {
    const Bitmap picture = Gradient(9, 5);
    Bitmap b;
    ASSERT_NO_THROW(DecodePicture("x.ico", EncodePicture(picture, Format(9)), b));
    EXPECT_EQ(b.bitsPerPixel(), 24);
    EXPECT_EQ(b.width(), 9);
    ASSERT_NO_THROW(DecodePicture("x.WBMP", EncodePicture(picture, Format(11)), b));
    EXPECT_EQ(b.bitsPerPixel(), 1);
    EXPECT_EQ(b.height(), 5);
    EXPECT_EQ(DecodeError("x.wbmp", ByteVector{1, 0, 4, 4, 0xFF}).rfind("WBMP: ", 0), 0u);
    EXPECT_EQ(DecodeError("x.wbmp", ByteVector{0, 0, 0, 4, 0xFF}).rfind("WBMP: ", 0), 0u);
}

}  // namespace
}  // namespace pictorix
