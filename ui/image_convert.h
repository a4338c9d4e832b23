#pragma once
// The working bitmap as a QImage for display.
#include <QImage>

#include "core/bitmap.h"

// A QImage (RGB32) with the bitmap's pixels in every pixel format; a null image for
// an empty bitmap. Palette indices beyond a short palette show black.
QImage ToQImage(const pictorix::Bitmap& bitmap);
