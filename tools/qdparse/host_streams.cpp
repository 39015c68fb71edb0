#include "host_streams.h"

#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <utility>

namespace qdtool {

std::string ResultText(uint32_t code, const qdlStream* stream) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08X", code);
  std::string text = hex;
  if (const char* name = qdhResultName(code)) return text + " " + name;
  if (const char* name = qdhErrorName(code)) {
    text = text + " " + name;
    const int os = stream != nullptr ? qdhFileStreamOsError(stream) : 0;
    if (os != 0) text = text + " (" + std::strerror(os) + ")";
    return text;
  }
  return text + " (a host error)";
}

bool IsHostError(uint32_t code) { return qdhErrorName(code) != nullptr; }

int Refuse(const std::string& file, const std::string& what, uint32_t code, const qdlStream* stream) {
  std::string line = "qdparse: " + file + ": " + what;
  if (code != 0) line += ": " + ResultText(code, stream);
  std::fprintf(stderr, "%s\n", line.c_str());
  return 1;
}

int SaveFile(const std::string& output, const uint8_t* bytes, size_t size) {
  FILE* f = std::fopen(output.c_str(), "wb");
  if (f == nullptr) {
    std::perror(("qdparse: " + output).c_str());
    return 1;
  }
  const bool written = std::fwrite(bytes, 1, size, f) == size;
  if (std::fclose(f) != 0 || !written) {
    std::perror(("qdparse: " + output).c_str());
    return 1;
  }
  return 0;
}

namespace {

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

}  // namespace

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

namespace {

const char* ExtensionOf(const uint8_t* bytes, size_t size) {
  if (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xD8) return ".jpg";
  if (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xE1) return ".app1";
  if (size >= 14 && std::memcmp(bytes + 6, "HEAP", 4) == 0) return ".heap";
  if (size >= 4 && (std::memcmp(bytes, "II*", 4) == 0 || std::memcmp(bytes, "MM\0*", 4) == 0)) return ".tif";
  return ".bin";
}

// DIR/STEM + suffix + extension for an output folder.
std::string InFolder(const Output& output, const std::string& input, const uint8_t* bytes, size_t size) {
  std::string name = input == "-" ? "stdin" : input.substr(input.find_last_of('/') + 1);
  const size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot != 0) name.resize(dot);
  return output.path + "/" + name + output.suffix + ExtensionOf(bytes, size);
}

}  // namespace

int WriteOutput(const Output& requested, const std::string& input, const uint8_t* bytes, size_t size,
                const std::string& what) {
  Output output = requested;
  if (IsDirectory(output.path)) output.path = InFolder(requested, input, bytes, size);
  const std::string report = what + ", " + std::to_string(size) + " bytes";
  if (output.path == "-") {
    if (std::fwrite(bytes, 1, size, stdout) != size || std::fflush(stdout) != 0) {
      std::perror("qdparse: standard output");
      return 1;
    }
    std::fprintf(stderr, "-: %s\n", report.c_str());
    return 0;
  }
  if (SameFile(input, output.path)) return Refuse(output.path, "is the input file; not overwritten");
  struct stat st {};
  if (!output.force && stat(output.path.c_str(), &st) == 0) {
    return Refuse(output.path, "exists; not overwritten (--force replaces it)");
  }
  const std::string temporary = output.path + ".qdparse-partial";
  if (SaveFile(temporary, bytes, size) != 0) {
    std::remove(temporary.c_str());
    return 1;
  }
  if (std::rename(temporary.c_str(), output.path.c_str()) != 0) {
    std::perror(("qdparse: " + output.path).c_str());
    std::remove(temporary.c_str());
    return 1;
  }
  std::printf("%s: %s\n", output.path.c_str(), report.c_str());
  return 0;
}

namespace {

// Standard input, read once: several "-" arguments see the same bytes.
const std::vector<uint8_t>& StandardInput() {
  static const std::vector<uint8_t> bytes = [] {
    std::vector<uint8_t> all;
    uint8_t chunk[65536];
    size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, stdin)) > 0) all.insert(all.end(), chunk, chunk + n);
    return all;
  }();
  return bytes;
}

}  // namespace

InputFile::InputFile(std::string path) : path_(std::move(path)) {
  if (path_ != "-") {
    init_ = qdhFileStreamInit(&stream_, path_.c_str());
    return;
  }
  const std::vector<uint8_t>& in = StandardInput();
  init_ = in.size() > UINT32_MAX ? QDH_E_TOO_LARGE
                                 : qdhMemoryStreamInit(&stream_, in.data(), static_cast<uint32_t>(in.size()));
}

uint32_t InputFile::size() const {
  if (path_ == "-") return static_cast<uint32_t>(StandardInput().size());
  struct stat st {};
  if (stat(path_.c_str(), &st) != 0 || st.st_size < 0 || static_cast<uint64_t>(st.st_size) > 0xFFFFFFFFu) return 0;
  return static_cast<uint32_t>(st.st_size);
}

OutputBuffer::OutputBuffer() { (void)qdhGrowableStreamInit(&stream_); }

std::vector<uint8_t> OutputBuffer::bytes() const {
  const void* data = nullptr;
  uint32_t size = 0;
  if (qdhMemoryStreamData(&stream_, &data, &size) != 0 || data == nullptr) return {};
  const auto* p = static_cast<const uint8_t*>(data);
  return std::vector<uint8_t>(p, p + size);
}

OpenForReading::OpenForReading(const qdlStream* s) : s_(s) {
  if (s_->open == nullptr) return;
  s_->open(s_->context, QD_OPEN_READ, &error_);
}

OpenForReading::~OpenForReading() {
  if (error_ != 0 || s_->close == nullptr) return;
  uint32_t ignored = 0;
  s_->close(s_->context, &ignored);
}

}  // namespace qdtool
