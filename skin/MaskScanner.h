#pragma once

#include <QImage>
#include <QList>
#include <QRect>

// Finds the opaque runs of a mask picture: a pixel is a hole when its first three bytes equal
// key0, key1 and key2 (in the picture's own byte order); the fourth byte of a 4-byte pixel does not
// count. Returns one rectangle of height 1 per run of other pixels, rows top to bottom and runs
// left to right. Only the pixel bytes of each row are read, never the padding after them.
// The scan looks at 16 pixels at a time (SSE2 where the processor has it).
QList<QRect> scanMaskRuns(const QImage &image, int bytesPerPixel, uchar key0, uchar key1, uchar key2);
