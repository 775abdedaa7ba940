// The canvas: the picture box the preview is drawn into and whose drawing area becomes the
// thumbnail. Its geometry is shared by the window and by quorvane-thumb, so that both turn the
// same twips into the same pixels and lay the same drawing on the same back colour. Plain C++.
//
// Lengths are twips (15 to the pixel) where a name says so, else whole pixels.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/picture/picture.h"

namespace platform {

inline constexpr double kTwipsPerPixel = 15.0;

// Twips that a canvas's Width and Height add to its drawing area: the sunken frame and the gap
// around the drawing.
inline constexpr double kCanvasBorderTwips = 55.0;

struct Color {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
  friend bool operator==(const Color&, const Color&) = default;
};

// Whole pixels for a length in twips, halves up; saturates far beyond any screen or canvas.
int twipsToPixels(double twips);

// The drawing area's length in pixels for a canvas Width or Height in twips: at least 1.
int canvasAreaPixels(double twips);

// The length in pixels of a drawing `twips` long that starts `start` pixels into an area
// `areaLength` pixels long: at least 1, and taken to the area's edge when it would end one pixel
// short of it or one past it. The area and the drawing are rounded from the same twips by
// different routes (a canvas's size is a Single), and rounding must never leave a strip of
// background showing.
int drawnPixels(int start, double twips, int areaLength);

// Raises run-time error 480 "Can't create AutoRedraw image", naming the size and the limits,
// for a canvas or drawing over kMaxPictureSide a side or kMaxPicturePixels in all.
void checkCanvasSize(int width, int height);

// How canvas pixels are laid out in memory: blue, green, red, and for kBgrx a fourth byte of 255
// (Qt's RGB32, a 32-bit DIB).
enum class CanvasPixels { kBgr, kBgrx };

// Paints a width x height canvas at `out` (rows `stride` bytes apart, top row first): the back
// colour, with `drawn` laid over it at the top-left corner, its straight alpha over the back colour
// and cut at the canvas's edges.
void paintCanvas(const RgbaImage& drawn, Color back, int width, int height, CanvasPixels layout,
                 std::uint8_t* out, std::size_t stride);

}  // namespace platform
