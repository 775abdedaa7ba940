// GIF drawing for the batch command. Decoding a GIF needs Qt, whose libraries take longer to
// load than a small JPEG thumbnail takes to make; so Qt's reader lives in a module of its own,
// loaded when the first GIF is met. Plain C++.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/picture/gif_layout.h"

// The module's one entry point: draws the GIF (its layout as readGifLayout gave it) at exactly
// width x height into rgba (width * height * 4 bytes, straight alpha). Returns 0, or the run-time
// error number with its description in message (NUL-terminated, cut to messageSize). No exception
// leaves it.
extern "C" int quorvane_render_gif(const std::uint8_t* gif, std::size_t size,
                                   const platform::GifLayout* layout, int width, int height,
                                   std::uint8_t* rgba, char* message, std::size_t messageSize);
inline constexpr char kGifModuleEntry[] = "quorvane_render_gif";

namespace thumb {

// Makes the picture reader draw GIFs through the module, which is looked for beside the
// executable, then in the installed library folder. Loading happens on the first GIF; a missing
// module then makes every GIF fail with error 481 and says why.
void useGifModule();

// Ends the process with `status` once standard output and error are flushed (1 when writing
// standard output failed). With the GIF module loaded, Qt's exit-time teardown is left out.
[[noreturn]] void exitProcess(int status);

}  // namespace thumb
