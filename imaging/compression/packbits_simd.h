#pragma once
// The packet loop of the PackBits decoder where the processor has per-byte
// store masks: decodes whole packets while a packet of the largest size
// (control byte included) lies in the source and the next packet fits in the
// target, and moves both cursors past them. Returns false, having done nothing, on other processors.
#include <cstdint>

namespace pwpackbits {

bool VectorWholePackets(const uint8_t*& source, const uint8_t* sourceEnd, uint8_t*& target, uint8_t* targetEnd);

} // namespace pwpackbits
