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

int WriteOutput(const Output& output, const std::string& input, const uint8_t* bytes, size_t size,
                const std::string& what) {
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

InputFile::InputFile(std::string path) : path_(std::move(path)) {
  init_ = qdhFileStreamInit(&stream_, path_.c_str());
}

uint32_t InputFile::size() const {
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
