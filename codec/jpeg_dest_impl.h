// What the JPEG builds share: the decode and encode jobs, the error manager and the frames that run
// the library with it, the encoder's image set-up, the decoder's output size check, the memory
// destination manager (a 16384-byte staging buffer appended to a growing stream) and the decoders'
// colour rule. Not a normal header: included inside an unnamed namespace after a build's jpeglib.h
// and jerror.h (the builds' types clash, so each translation unit gets its own copy). Library
// errors end in a longjmp back to RunEncode/RunDecode; no C++ object with a destructor is alive in
// the frames the jump crosses.
struct ErrorManager {
  jpeg_error_mgr pub;
  jmp_buf jump;
  bool announce;               // print "error exit" on standard output (the command-line tools' way)
  char text[JMSG_LENGTH_MAX];  // the library's message, for callers that report it
};

void ErrorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->text);
  if (err->announce) {
    std::fputs("error exit\n", stdout);
    std::fflush(stdout);
  }
  std::longjmp(err->jump, 1);
}

// Warnings (corrupt data, supplied EOI) are not printed anywhere.
void SilentOutput(j_common_ptr) {}

void InstallErrorManager(ErrorManager* err, bool announce) {
  err->text[0] = 0;
  jpeg_std_error(&err->pub);
  err->pub.error_exit = ErrorExit;
  err->pub.output_message = SilentOutput;
  err->announce = announce;
}

// Runs body on a new compressor: its result, or -1 (with the library's message in *error) when
// the library fails.
template <class Job>
int RunEncode(const Job* job, int (*body)(j_compress_ptr, const Job*), bool announce, std::string* error) {
  ErrorManager err;
  jpeg_compress_struct cinfo;
  std::memset(&cinfo, 0, sizeof cinfo);
  InstallErrorManager(&err, announce);
  cinfo.err = &err.pub;
  if (setjmp(err.jump)) {
    jpeg_destroy_compress(&cinfo);
    if (error) *error = err.text;
    return -1;
  }
  jpeg_create_compress(&cinfo);
  const int rc = body(&cinfo, job);
  jpeg_destroy_compress(&cinfo);
  return rc;
}

// Runs body on a new decompressor with Locals (plain library structs the body hooks in, zeroed)
// living in this frame: its result, or -1 when the library fails.
template <class Job, class Locals>
long RunDecode(const Job* job, long (*body)(j_decompress_ptr, Locals*, const Job*)) {
  ErrorManager err;
  Locals locals;
  jpeg_decompress_struct cinfo;
  std::memset(&cinfo, 0, sizeof cinfo);
  std::memset(&locals, 0, sizeof locals);
  InstallErrorManager(&err, false);
  cinfo.err = &err.pub;
  jpegcodec::lastDecodeWarnings = 0;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    return -1;
  }
  jpeg_create_decompress(&cinfo);
  const long written = body(&cinfo, &locals, job);
  jpegcodec::lastDecodeWarnings = err.pub.num_warnings;
  jpeg_destroy_decompress(&cinfo);
  return written;
}

struct Destination;

// What a decoder is asked: the stream, and the slice its samples go to (outWidth bytes a sample).
struct DecodeJob {
  const uint8_t* source;
  size_t sourceLength;
  uint8_t* destination;
  size_t destinationLength;
  int outWidth;
  bool rgbSamples;
};

// What an encoder is asked: interleaved samples, or (stride != 0, turbo build only) a page of
// B, G, R rows `stride` bytes apart.
struct EncodeJob {
  int width;
  int height;
  int components;
  const uint8_t* source;
  bool lossless;
  size_t stride;
  Destination* dest;
};

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

// A decoder's entry: the stream decoded by body into a slice of outWidth bytes a sample (1 or 2, at
// least minWidth). The bytes written, or -1.
template <class Locals>
long DecodeToSlice(long (*body)(j_decompress_ptr, Locals*, const DecodeJob*), const uint8_t* source,
                   size_t sourceLength, uint8_t* destination, size_t destinationLength, int outWidth, bool rgbSamples,
                   int minWidth) {
  if ((outWidth != 1 && outWidth != 2) || outWidth < minWidth) return -1;
  const DecodeJob job{source, sourceLength, destination, destinationLength, outWidth, rgbSamples};
  return RunDecode(&job, body);
}

// Hooks the job's memory destination in and describes the image (RGB or grey samples).
void StartEncoding(j_compress_ptr cinfo, const EncodeJob* job) {
  cinfo->dest = &job->dest->pub;
  job->dest->pub.init_destination = InitDestination;
  job->dest->pub.empty_output_buffer = EmptyOutput;
  job->dest->pub.term_destination = TermDestination;
  cinfo->image_width = static_cast<JDIMENSION>(job->width);
  cinfo->image_height = static_cast<JDIMENSION>(job->height);
  cinfo->input_components = job->components;
  cinfo->in_color_space = job->components == 3 ? JCS_RGB : JCS_GRAYSCALE;
}

// After the header: the output's row samples, row bytes and total bytes, false when the image is
// empty or does not fit the job's slice (checked before the library allocates for it).
bool OutputFits(j_decompress_ptr cinfo, const DecodeJob* job, uint64_t& rowSamples, uint64_t& rowBytes,
                uint64_t& total) {
  jpeg_calc_output_dimensions(cinfo);
  rowSamples = uint64_t(cinfo->output_width) * uint64_t(cinfo->output_components);
  rowBytes = rowSamples * uint64_t(job->outWidth);
  total = rowBytes * uint64_t(cinfo->output_height);
  return rowSamples != 0 && total != 0 && total <= job->destinationLength;
}

// The data set says RGB: a three-component stream with neither a JFIF nor an Adobe marker carries
// RGB samples, whatever its component ids make the library guess, and is decoded as it stands.
void KeepRgbSamples(j_decompress_ptr cinfo, bool rgbSamples) {
  if (rgbSamples && cinfo->num_components == 3 && !cinfo->saw_JFIF_marker && !cinfo->saw_Adobe_marker) {
    cinfo->jpeg_color_space = JCS_RGB;
    cinfo->out_color_space = JCS_RGB;
  }
}

// Codes job into out through a memory destination whose stream starts with room for `expected`
// bytes. 0, or -1 with out left empty (the library's message, or "out of memory", in *error).
template <class Job>
int EncodeToStream(Job job, int (*body)(j_compress_ptr, const Job*), size_t expected, bool announce,
                   std::string* error, std::vector<uint8_t>& out) {
  out.clear();
  std::vector<uint8_t> stream;
  std::vector<JOCTET> staging;
  try {
    staging.resize(jpegcodec::kStagingSize);
    stream.reserve(expected + jpegcodec::kStagingSize);
  } catch (const std::bad_alloc&) {
    if (error) *error = "out of memory";
    return -1;
  }
  Destination dest{};
  dest.stream = &stream;
  dest.staging = staging.data();
  job.dest = &dest;
  if (RunEncode(&job, body, announce, error) != 0) return -1;
  out = std::move(stream);
  return 0;
}
