/* The interface between Pictorix and its codec plug-ins.
 *
 * A plug-in is a shared library "*.so" in the program's folder that exports, with
 * C linkage and under these plain names:
 *
 *   LibLoadImage(fileName, extension, image)  read a file into the container
 *   LibSaveImage(fileName, extension, image)  write the container to a file
 *   LibFreeImage(image)                       release what LibLoadImage allocated
 *   LibGetLoadFilter()                        "Description|*.ext1;*.ext2|..." it reads
 *   LibGetSaveFilter()                        the same for what it writes
 *
 * A library is used when it exports LibFreeImage and at least one of LibLoadImage and
 * LibSaveImage; the filters are optional. The file name is the full path (UTF-8), the
 * extension the name's extension without the dot, upper-cased ("JP2"). Load and save
 * return 0 on success or a status: 2 cannot open the file, 3 bad picture data,
 * 4 unsupported pixel format, 5 cannot close the file, anything else another failure.
 *
 * This header is plain C so that a plug-in can be written in either language.
 */
#ifndef PICTORIX_PLUGIN_ABI_H
#define PICTORIX_PLUGIN_ABI_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Pixel data: rows from the top, packed without padding. A 3-byte pixel is stored
 * blue, green, red; for other colour spaces the first channel (Y, L) is byte 2.
 * A palette is 256 entries of 3 bytes, blue, green, red.
 *
 * PixelFormat on loading: the low 4 bits are the channel count.
 *   1 (or any code with low bits 1 but 33)  one 8-bit channel; Palette or, when null, grey
 *   33                                      one 16-bit grey channel, little-endian
 *   3                                       three interleaved 8-bit channels
 *   4                                       four interleaved 8-bit channels
 *   16 + n (n = 2..15)                      n planar 8-bit channels, Width*Height bytes each
 * On saving the program sends 1 (8-bit indexed with Palette) or 3 (24-bit, no palette).
 *
 * Options: on entry the program's option text (e.g. "rate=0.28" when saving); a loader
 * may point it at "YCbCr" or "Lab" to say which colour space it delivers. */
typedef struct TImageContainer {
    int32_t Width;
    int32_t Height;
    int32_t BytesPerLine; /* on saving: Width * bytes per pixel; not read on loading */
    int32_t PixelFormat;
    uint8_t* Pixels;      /* loading: owned by the library until LibFreeImage */
    uint8_t* Palette;     /* 256 * 3 bytes or null */
    const char* Options;
} TImageContainer;

enum {
    PICTORIX_PLUGIN_OK = 0,
    PICTORIX_PLUGIN_CANNOT_OPEN = 2,
    PICTORIX_PLUGIN_BAD_DATA = 3,
    PICTORIX_PLUGIN_BAD_PIXEL_FORMAT = 4,
    PICTORIX_PLUGIN_CANNOT_CLOSE = 5
};

typedef int32_t (*LibLoadImageFunc)(const char* fileName, const char* extension, TImageContainer* image);
typedef int32_t (*LibSaveImageFunc)(const char* fileName, const char* extension, TImageContainer* image);
typedef int32_t (*LibFreeImageFunc)(TImageContainer* image);
typedef const char* (*LibGetLoadFilterFunc)(void);
typedef const char* (*LibGetSaveFilterFunc)(void);

/* Marks a plug-in's exported functions when it is built with hidden visibility. */
#define PICTORIX_PLUGIN_EXPORT __attribute__((visibility("default")))

#ifdef __cplusplus
}
#endif

#endif /* PICTORIX_PLUGIN_ABI_H */
