// The compression behind the PNG writer: Paeth-filtered rows deflated with
// runs only (every match repeats the byte before it, distance 1), which is
// what rendered frames need once predicted: flat paint and empty layer
// become long runs of zeros, and the rest is literals. A general-purpose
// deflate spends most of its time looking for matches that such data does
// not have; this one finds runs eight bytes at a time and writes each block
// with its own Huffman codes (or stored, when that is smaller).
//
// The output of deflateRuns is raw deflate (no zlib header): pieces of an
// image deflated separately, each ending byte-aligned with an empty stored
// block, join into one valid stream, so they can be made on several threads
// and the bytes depend only on where the pieces are cut.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pennaro_cli {

// Appends the deflate blocks of `size` bytes to `out`. With `last`, the final
// block carries the end-of-stream mark; otherwise the piece ends with an
// empty stored block, so the next piece starts on a byte boundary.
void deflateRuns(const uint8_t *data, size_t size, bool last, std::vector<uint8_t> &out);

// The same framing with the bytes stored as they are: no search at all, for
// previews where making the file quickly matters more than its size.
void deflateStored(const uint8_t *data, size_t size, bool last, std::vector<uint8_t> &out);

// One row with the Paeth filter (type 4): out[0] = 4, then rowBytes bytes.
// `previous` is the unfiltered row above, or null for the first row.
void paethFilterRow(const uint8_t *row, const uint8_t *previous, size_t rowBytes, int bytesPerPixel,
                    uint8_t *out);

}  // namespace pennaro_cli
