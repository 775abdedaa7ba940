#include "platform/picture/orientation.h"

#include <cstring>

namespace platform {

bool swapsAxes(int orientation) { return orientation >= 5 && orientation <= 8; }

RgbaImage orientUpright(RgbaImage stored, int orientation) {
  if (orientation < 2 || orientation > 8) return stored;
  const int ws = stored.width;
  const int hs = stored.height;
  RgbaImage upright;
  upright.width = swapsAxes(orientation) ? hs : ws;
  upright.height = swapsAxes(orientation) ? ws : hs;
  upright.pixels.resize(stored.pixels.size());
  for (int y = 0; y < upright.height; ++y) {
    for (int x = 0; x < upright.width; ++x) {
      int sx = x;
      int sy = y;
      switch (orientation) {
        case 2:
          sx = ws - 1 - x;
          break;
        case 3:
          sx = ws - 1 - x;
          sy = hs - 1 - y;
          break;
        case 4:
          sy = hs - 1 - y;
          break;
        case 5:
          sx = y;
          sy = x;
          break;
        case 6:
          sx = y;
          sy = hs - 1 - x;
          break;
        case 7:
          sx = ws - 1 - y;
          sy = hs - 1 - x;
          break;
        case 8:
          sx = ws - 1 - y;
          sy = x;
          break;
      }
      std::memcpy(&upright.pixels[(static_cast<size_t>(y) * upright.width + x) * 4],
                  &stored.pixels[(static_cast<size_t>(sy) * ws + sx) * 4], 4);
    }
  }
  return upright;
}

}  // namespace platform
