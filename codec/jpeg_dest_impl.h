// What the JPEG builds share: the memory destination manager (a 16384-byte staging buffer appended
// to a growing stream) and the decoders' colour rule. Not a normal header: included inside an unnamed namespace after a build's
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


// The data set says RGB: a three-component stream with neither a JFIF nor an Adobe marker carries
// RGB samples, whatever its component ids make the library guess, and is decoded as it stands.
void KeepRgbSamples(j_decompress_ptr cinfo, bool rgbSamples) {
  if (rgbSamples && cinfo->num_components == 3 && !cinfo->saw_JFIF_marker && !cinfo->saw_Adobe_marker) {
    cinfo->jpeg_color_space = JCS_RGB;
    cinfo->out_color_space = JCS_RGB;
  }
}
