#pragma once
// Deflate as the deflated transfer syntax uses it: raw deflate data (no zlib or gzip wrapper) of
// the explicit VR little endian encoding.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Compresses `size` bytes; false only when memory runs out.
bool DeflateRaw(const uint8_t* data, size_t size, std::vector<uint8_t>& out);

// Decompresses raw deflate data; data after the end of the stream is ignored. False, with `why`
// in words, for damaged data, data cut short, or more than `limit` bytes coming out (checked as it
// grows: nothing larger is ever allocated).
bool InflateRaw(const uint8_t* data, size_t size, size_t limit, std::vector<uint8_t>& out, std::string& why);
