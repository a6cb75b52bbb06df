// A decoder of Deflate64 ("enhanced deflate", ZIP method 9), as 7-Zip and
// Windows' own ZIP folders write it, for the builder to re-encode such
// entries with plain deflate. Written for clarity after the manner of
// zlib's puff.c; speed is not its concern.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Decodes the raw Deflate64 stream data[0, size) (untrusted) into *out_ret,
// which holds at most `limit` bytes. False with *error_ret in words ("is
// cut short", "holds an invalid code", "decodes to more bytes than its
// directory entry says") when the stream is not a complete, valid one
// within the limit.
bool Inflate64(const uint8_t* data, size_t size, uint64_t limit, std::vector<uint8_t>* out_ret, std::string* error_ret);
