// The memory destination manager shared by the JPEG builds: a 16384-byte staging buffer appended
// to a growing stream. Not a normal header: included inside an unnamed namespace after a build's
// jpeglib.h and jerror.h (the builds' types clash, so each translation unit gets its own copy).
struct Destination {
  jpeg_destination_mgr pub;
  std::vector<uint8_t>* stream;
  JOCTET* staging;
};

bool Append(std::vector<uint8_t>* stream, const JOCTET* bytes, size_t count) noexcept {
  try {
    stream->insert(stream->end(), bytes, bytes + count);
    return true;
  } catch (...) {
    return false;
  }
}

void InitDestination(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<Destination*>(cinfo->dest);
  dest->pub.next_output_byte = dest->staging;
  dest->pub.free_in_buffer = jpegcodec::kStagingSize;
}

boolean EmptyOutput(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<Destination*>(cinfo->dest);
  if (!Append(dest->stream, dest->staging, jpegcodec::kStagingSize)) ERREXIT(cinfo, JERR_FILE_WRITE);
  dest->pub.next_output_byte = dest->staging;
  dest->pub.free_in_buffer = jpegcodec::kStagingSize;
  return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<Destination*>(cinfo->dest);
  if (!Append(dest->stream, dest->staging, jpegcodec::kStagingSize - dest->pub.free_in_buffer))
    ERREXIT(cinfo, JERR_FILE_WRITE);
}

