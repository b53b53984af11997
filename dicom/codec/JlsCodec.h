// JPEG-LS entry point: lossless and near-lossless streams from memory,
// through CharLS.
//
// Sample layout: rows from the top, components interleaved per pixel;
// samples of up to 8 bits as bytes, 9 to 16 bits as 16-bit little-endian
// words. A stream coded component by component (interleave mode "none") is
// interleaved on the way out. Every call builds its own decoder, so calls may
// run on several threads at once. Nothing is logged here.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fw {

// Decodes the stream into destination, which must be exactly the size of its
// image (width x height x components x sample size): a stream of another
// size, a damaged stream, one without its end-of-image marker or one CharLS
// refuses gives false. Nothing is
// written past the destination.
bool JlsDecode(const std::uint8_t *stream, std::size_t length, std::uint8_t *destination, std::size_t destinationSize);

} // namespace fw
