// The fuzz entry over the image loaders, callable from the replay tool.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

void FuzzImageLoaders(std::string_view input);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
