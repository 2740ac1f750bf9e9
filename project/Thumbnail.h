#pragma once
// Thumbnails of image files and icons of embedded pictures.
#include <cstdint>

#include <QIcon>
#include <QImage>
#include <QSize>

// Image thumbnails and group icons alike fit this box.
inline constexpr QSize kThumbnailSize{192, 192};

// The size of an image of `imageSize` scaled to fit `box`, keeping its aspect ratio.
QSize fitSize(QSize imageSize, QSize box);

// The reduction 1/d at which a JPEG of that size is decoded for a thumbnail fitting `box`: the strongest
// power-of-two reduction (TurboJPEG's 1/2, 1/4, 1/8 keep whole 8 x 8 blocks together and so match a box
// filter over the full image closely; 3/8, 5/8, 7/8 resample and match it less well) that still leaves
// several times the thumbnail's pixels; 1 for a full decode.
uint32_t jpegThumbnailReduction(uint32_t width, uint32_t height, QSize box);

// The thumbnail of an image file, fitting `box`. JPEGs decode straight to a reduced size through the DCT
// and are then averaged down; HEIF and AVIF decode in full. Each thread reuses one reader. Throws the image
// reader's errors.
QImage makeThumbnail(const char* file, QSize box);
QIcon makeQIcon(const char* file, QSize size);

// The same thumbnail through a full decode scaled as a pixmap: the reference the fast path must match.
QImage makeFullDecodeThumbnail(const char* file, QSize box);
QIcon makeFullDecodeQIcon(const char* file, QSize size);

// An icon from an encoded picture in memory ("PNG" and the like), fitting `size`. A picture that does not
// decode fails the assertion "success".
QIcon makeQIcon(const unsigned char* data, unsigned long long length, const char* format, QSize size);
