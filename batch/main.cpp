// quorvane-thumb: Quorvane's thumbnails for whole folders, from the command line.
#include <string>
#include <vector>

#include "batch/format_module.h"
#include "batch/gif_module.h"
#include "batch/runner.h"

int main(int argc, char** argv) {
  thumb::useGifModule();
  thumb::useFormatModules();
  thumb::exitProcess(thumb::runCommand(std::vector<std::string>(argv + 1, argv + argc)));
}
