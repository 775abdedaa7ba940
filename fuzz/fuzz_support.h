// What every fuzz target shares: Qt started as the program starts it, and checks that stop the
// run with a message when a property of the code under test does not hold.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fuzz {

// Starts Qt once and installs its GIF decoder (the readers use its image reader and the user's
// locale).
void startQt(int* argc, char*** argv);

// Stops the run (a crash libFuzzer records) when `holds` is false.
void check(bool holds, const char* what);

// A hash of the input, for choices that must stay the same for the same input.
std::uint32_t hashOf(const std::uint8_t* data, std::size_t size);

}  // namespace fuzz
