// The calling pattern every stream export follows, in one place: argument
// checks before any callback, host open, clearing the caller's outputs, the
// port, one status conversion, host close, and the precedence of results.
// Each export states only how it differs.
#pragma once

#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <type_traits>

#include "frame/status.h"
#include "frame/stream_port.h"
#include "qdparse.h"

namespace qd {

// Callbacks an export requires beyond seek, tell and read.
enum StreamNeeds : unsigned {
  kNeedsReading = 0,
  kNeedsWrite = 1u << 0,
  kNeedsOpenClose = 1u << 1,
  kNeedsRecordOnly = 1u << 2,  // any callback may be missing; the work finds out
};

// An open mode for exports that use a stream the host has already opened:
// neither open nor close is called.
constexpr uint32_t kHostOpened = 0;

// A caller record cleared before the work starts (skipped when null).
struct OutputRecord {
  void* record;
  size_t size;
};

// How an export's work ends: a status to convert, or a result that is already
// final (a host error kept by the port, or a routine's own result code) and
// is handed back exactly as it is.
struct WorkResult {
  Status status;
  uint32_t final;  // nonzero: returned instead of the converted status
};

struct ExportCall {
  const qdlStream* stream;
  uint32_t openMode;   // QD_OPEN_READ, QD_OPEN_UPDATE, QD_OPEN_WRITE or kHostOpened
  unsigned needs;      // StreamNeeds
  bool argumentsOk;    // the export's own out-pointer checks
  bool closeErrorWins = false;  // a close error outranks the work's result
};

inline bool HasCallbacks(const qdlStream* s, unsigned needs) {
  if (s == nullptr) return false;
  if ((needs & kNeedsRecordOnly) != 0) return true;
  if (s->seek == nullptr || s->tell == nullptr || s->read == nullptr) return false;
  if ((needs & kNeedsWrite) != 0 && s->write == nullptr) return false;
  if ((needs & kNeedsOpenClose) != 0 && (s->open == nullptr || s->close == nullptr)) return false;
  return true;
}

// Runs `work(StreamPort&)`, which returns a Status or a WorkResult.
template <typename Work>
uint32_t RunStreamExport(const ExportCall& call, std::initializer_list<OutputRecord> outputs,
                         Work&& work) {
  if (!call.argumentsOk || !HasCallbacks(call.stream, call.needs)) return QD_E_INVALID_ARG;

  const bool opens = call.openMode != kHostOpened;
  uint32_t openError = 0;
  if (opens) StreamOpen(call.stream, call.openMode, &openError);
  if (openError != 0) return openError;

  for (const OutputRecord& out : outputs) {
    if (out.record != nullptr) std::memset(out.record, 0, out.size);
  }

  StreamPort port;
  MakeStreamPort(call.stream, &port);
  uint32_t result = QD_OK;
  if constexpr (std::is_same_v<decltype(work(port)), WorkResult>) {
    const WorkResult r = work(port);
    result = r.final != 0 ? r.final : ToResultCode(r.status);
  } else {
    result = ToResultCode(work(port));
  }

  uint32_t closeError = 0;
  if (opens) StreamClose(call.stream, &closeError);
  if (call.closeErrorWins && closeError != 0) return closeError;
  return result != QD_OK ? result : closeError;
}

}  // namespace qd
