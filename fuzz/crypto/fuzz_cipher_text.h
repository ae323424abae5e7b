// The fuzz entry over the decryption of ciphertext texts, callable from the replay tool.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// The first byte chooses mode, padding and encoding; the rest is the ciphertext text. Aborts when
// the fast paths disagree with the table engine and the plainly written rules.
void FuzzCipherText(std::string_view input);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
