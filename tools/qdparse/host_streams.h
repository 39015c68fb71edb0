// The tool's side of the host interface: files and buffers as qdlStreams
// (from qdparse_host), and the names of the codes the library and the host
// streams report.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "qdparse_host.h"

namespace qdtool {

// "0x0400002C QD_E_UNSUPPORTED"; a host error of a file stream also gets the
// OS reason ("0x08000007 QDH_E_OPEN_FAILED (No such file or directory)").
std::string ResultText(uint32_t code, const qdlStream* stream = nullptr);

// Whether a code is a host stream's own error rather than the library's.
bool IsHostError(uint32_t code);

// Prints "qdparse: FILE: WHAT[: CODE NAME]" to stderr and returns exit status 1.
int Refuse(const std::string& file, const std::string& what, uint32_t code = 0,
           const qdlStream* stream = nullptr);

// Writes `bytes` to the file `output`; prints the OS reason and returns 1 on
// failure. For files the tool changes in place.
int SaveFile(const std::string& output, const uint8_t* bytes, size_t size);

// Where a command's product goes: a new file, standard output for "-", or,
// when `path` is a directory, a file there named after the input: its stem,
// `suffix`, and an extension from the product's first bytes
// (IMG_0001.thumb.jpg).
struct Output {
  std::string path;
  bool force = false;  // an existing file may be replaced
  std::string suffix;
};

// Whether `path` names an existing directory.
bool IsDirectory(const std::string& path);

// Writes a command's product. Refuses an output that is the input (the same
// file, however named) and an existing file without --force; writes a
// temporary file beside it and renames it, so a failure leaves no half-written
// output. Reports "OUT: WHAT, N bytes" (on stderr when the product goes to
// standard output). Returns the exit status.
int WriteOutput(const Output& output, const std::string& input, const uint8_t* bytes, size_t size,
                const std::string& what);

// A file read through the host file stream, or "-": standard input, read
// whole into memory once. Nothing is opened here: the library's exports open
// and close the stream around each call.
class InputFile {
 public:
  explicit InputFile(std::string path);
  ~InputFile() { qdhStreamRelease(&stream_); }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  const std::string& path() const { return path_; }
  const qdlStream* stream() const { return &stream_; }
  uint32_t initError() const { return init_; }
  // The file's length for the compressed-bits figure; 0 when unknown.
  uint32_t size() const;

 private:
  std::string path_;
  qdlStream stream_{};
  uint32_t init_;
};

// A growable memory stream that collects what the library writes.
class OutputBuffer {
 public:
  OutputBuffer();
  ~OutputBuffer() { qdhStreamRelease(&stream_); }
  OutputBuffer(const OutputBuffer&) = delete;
  OutputBuffer& operator=(const OutputBuffer&) = delete;

  const qdlStream* stream() const { return &stream_; }
  std::vector<uint8_t> bytes() const;

 private:
  qdlStream stream_{};
};

// Opens the stream for reading around calls that leave opening to the host
// (QDParseStream2).
class OpenForReading {
 public:
  explicit OpenForReading(const qdlStream* s);
  ~OpenForReading();
  OpenForReading(const OpenForReading&) = delete;
  OpenForReading& operator=(const OpenForReading&) = delete;
  uint32_t error() const { return error_; }

 private:
  const qdlStream* s_;
  uint32_t error_ = 0;
};

}  // namespace qdtool
