#include "pictureio/codecs/gif.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "core/error.h"

namespace pictorix::gif {

namespace {

// The file's bytes as giflib's input: it asks for exact byte counts and treats a
// short count as a read failure, which is how truncated files are reported.
struct SpanInput {
    ByteSpan data;
    std::size_t pos = 0;
};

int ReadFromSpan(GifFileType* gif, GifByteType* buffer, int length) {
    auto* input = static_cast<SpanInput*>(gif->UserData);
    if (length <= 0) return 0;
    const std::size_t n = std::min(static_cast<std::size_t>(length), input->data.size() - input->pos);
    if (n == 0) return 0;
    std::memcpy(buffer, input->data.data() + input->pos, n);
    input->pos += n;
    return static_cast<int>(n);
}

struct GifCloser {
    void operator()(GifFileType* gif) const {
        int ignored = 0;
        DGifCloseFile(gif, &ignored);
    }
};
using GifHandle = std::unique_ptr<GifFileType, GifCloser>;

[[noreturn]] void Fail(int code) {
    const char* text = GifErrorString(code);
    throw Error(std::string("GIF: ") + (text ? text : "error " + std::to_string(code)));
}

void Check(GifFileType* gif, int result) {
    if (result == GIF_ERROR) Fail(gif->Error);
}

Palette PaletteOf(const ColorMapObject* map) {
    if (!map || !map->Colors || map->ColorCount <= 0) return GreyPalette256();
    Palette palette;
    const int count = std::min(map->ColorCount, 256);
    palette.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const GifColorType& c = map->Colors[i];
        palette.push_back(RGB(c.Red, c.Green, c.Blue));
    }
    return palette;
}

// Reads the image whose descriptor giflib has just read into `picture`.
void ReadFrame(GifFileType* gif, Bitmap& picture) {
    const GifImageDesc& desc = gif->Image;
    if (desc.Width <= 0 || desc.Height <= 0)
        throw Error("GIF: picture size " + std::to_string(desc.Width) + " x " + std::to_string(desc.Height) +
                    " is not supported");
    CheckPictureSize(desc.Width, desc.Height, "GIF");

    picture.reset(desc.Width, desc.Height, 8);
    picture.setPalette(PaletteOf(desc.ColorMap ? desc.ColorMap : gif->SColorMap));

    if (desc.Interlace) {
        // Four passes: every 8th row from 0, every 8th from 4, every 4th from 2,
        // every 2nd from 1.
        static constexpr int kStart[4] = {0, 4, 2, 1};
        static constexpr int kStep[4] = {8, 8, 4, 2};
        for (int pass = 0; pass < 4; ++pass)
            for (int y = kStart[pass]; y < desc.Height; y += kStep[pass])
                Check(gif, DGifGetLine(gif, picture.row(y), desc.Width));
    } else {
        for (int y = 0; y < desc.Height; ++y) Check(gif, DGifGetLine(gif, picture.row(y), desc.Width));
    }
}

}  // namespace

void Read(ByteSpan file, Bitmap& out) {
    SpanInput input{file, 0};
    int error = 0;
    GifHandle gif(DGifOpen(&input, ReadFromSpan, &error));
    if (!gif) Fail(error);

    Bitmap picture;
    picture.setFillColor(out.fillColor());
    picture.setTransparent(out.transparent(), out.transparentColor());

    // Walk the records up to the first image; extensions before it are skipped, and
    // nothing after it is read, so a long animation costs no more than its first frame.
    for (;;) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        Check(gif.get(), DGifGetRecordType(gif.get(), &type));
        if (type == IMAGE_DESC_RECORD_TYPE) {
            Check(gif.get(), DGifGetImageDesc(gif.get()));
            ReadFrame(gif.get(), picture);
            break;
        }
        if (type == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* block = nullptr;
            Check(gif.get(), DGifGetExtension(gif.get(), &code, &block));
            while (block) Check(gif.get(), DGifGetExtensionNext(gif.get(), &block));
        } else if (type == TERMINATE_RECORD_TYPE) {
            throw Error("GIF: the file holds no picture");
        }
    }
    out = std::move(picture);
}

}  // namespace pictorix::gif
