// Seed images for fuzzing the loaders, made from code: PNG (LodePNG), JPEG (colour, grey and
// progressive, libjpeg), BMP (24-bit, palettes, bit fields, RLE, top-down), GIF (giflib).
#pragma once

#include <string>
#include <utility>
#include <vector>

// (file name, content) pairs.
std::vector<std::pair<std::string, std::string>> MakeSeeds();
