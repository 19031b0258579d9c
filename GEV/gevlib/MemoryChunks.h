// A memory block read as READMEM chunks: the request rounded to whole
// registers, one exchange per chunk, each acknowledge's data put in its place.
// Pure: the exchange of one chunk is the caller's (a socket in the library, a
// fake camera in the tests).
#pragma once

#include <cstdint>
#include <functional>

#include "GevStatus.h"
#include "GvcpExchange.h"

namespace Vantor {

// Rounds a memory request to whole registers: address down, size up.
void AlignMemoryRequest(uint32_t& address, uint32_t& size);

// Sends READMEM for `chunk` bytes at `address` and leaves the acknowledge in
// `ack`, which holds kReadMemAckData + kMemoryChunk bytes.
using ReadMemChunk = std::function<ExchangeResult(uint32_t address, uint32_t chunk, uint8_t* ack)>;

// Reads `size` bytes (a multiple of 4) at `address` into `out`. The first
// failed or short acknowledge ends the read with an error; `out` then holds
// only the chunks before it.
GevStatus ReadMemoryInChunks(uint32_t address, uint32_t size, uint8_t* out,
                             const ReadMemChunk& exchange);

}  // namespace Vantor
