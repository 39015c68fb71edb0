// What the tool says about a file the parse exports refuse: the reason in a
// person's words, and for a JPEG or TIFF what the library's other exports
// still tell about it.
#pragma once

#include <cstdint>
#include <string>

#include "qdparse.h"
#include "render.h"

namespace qdtool {

struct Refusal {
  std::string reason;  // "a JPEG without an application block"
  std::string kind;    // "jpeg", "tiff" or empty: what the file turned out to be
  std::string text;    // description rows (text output); empty when none
  Json details;        // the same for JSON; null when none
};

// Looks at a file that the library refused with `result`.
Refusal ExplainRefusal(const qdlStream* stream, uint32_t result);

// The error object of a refusal: {"file", extra's fields..., "error": {"code",
// "name", "message"}}.
Json RefusalJson(const std::string& file, const std::string& what, uint32_t code, const qdlStream* stream,
                 const Json& extra = Json::object());

// Reports a refusal: "qdparse: FILE: WHAT: CODE NAME" on stderr, or with
// `json` the line {"file": ..., "error": {"code", "name", "message"}} on
// stdout (plus `extra`'s fields). Returns exit status 1.
int ReportRefusal(const std::string& file, const std::string& what, uint32_t code, const qdlStream* stream,
                  bool json, Json extra = Json::object());

}  // namespace qdtool
