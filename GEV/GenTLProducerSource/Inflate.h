// Inflate: raw DEFLATE data (stored, fixed and dynamic Huffman blocks) unpacked,
// as a zipped camera description holds it. The data come from the camera: every
// code is checked, every back reference bounded, the output limited; broken
// data give nothing, never a read or write out of bounds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace GenTL {

// The unpacked bytes of the DEFLATE stream at `data` (up to its final block),
// or nothing when it is broken or would unpack to more than `maxOutput` bytes.
std::optional<std::string> Inflate(const uint8_t* data, size_t size, size_t maxOutput);

}  // namespace GenTL
