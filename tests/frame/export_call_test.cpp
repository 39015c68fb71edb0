#include <gtest/gtest.h>

#include <cstring>

#include "frame/export_call.h"
#include "support/test_stream.h"

namespace qd {
namespace {

using qdtest::Callback;
using qdtest::TestStream;

struct Record {
  uint32_t a;
  uint8_t b[6];
};

// A reading export in miniature: one output record, a work step that reads
// one byte into it and then ends with `workStatus`; with `handBack` it hands
// the port's host error back instead of converting it.
uint32_t ReadOne(const qdlStream* stream, Record* out, Status workStatus, bool handBack = false) {
  return RunStreamExport({stream, QD_OPEN_READ, kNeedsReading, out != nullptr}, {{out, sizeof *out}},
                         [&](StreamPort& port) {
                           uint8_t byte = 0;
                           uint32_t count = 1;
                           Status st = ST_OK;
                           PortRead(port.ops, &byte, &count, &st);
                           if (st == ST_OK) out->a = byte;
                           return WorkResult{st != ST_OK ? st : workStatus, handBack ? port.hostError : 0};
                         });
}

// Which result wins: an open error (returned unchanged, nothing cleared, no
// close), the work's status, a close error (only after successful work), and
// a host error the work hands back.
TEST(ExportCall, ResultPrecedence) {
  struct Case {
    const char* name;
    Callback failing;
    Status work;
    bool handBack;
    uint32_t expected;
  };
  const Case cases[] = {
      {"work ok", Callback::Aux, ST_OK, false, QD_OK},
      {"work corrupt", Callback::Aux, ST_CORRUPT, false, QD_E_CORRUPT},
      {"open fails", Callback::Open, ST_OK, false, 0x99},
      {"close fails after success", Callback::Close, ST_OK, false, 0x99},
      {"close fails after failure", Callback::Close, ST_UNSUPPORTED, false, QD_E_UNSUPPORTED},
      {"read fails, converted", Callback::Read, ST_OK, false, QD_E_FAILED},
      {"read fails, handed back", Callback::Read, ST_OK, true, 0x99},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestStream s({42});
    if (c.failing != Callback::Aux) s.FailCall(c.failing, 1, 0x99);
    Record r;
    std::memset(&r, 0x77, sizeof r);
    EXPECT_EQ(ReadOne(s.stream(), &r, c.work, c.handBack), c.expected);
    const bool opened = c.failing != Callback::Open;
    EXPECT_EQ(r.b[0], opened ? 0 : 0x77);
    if (c.failing == Callback::Aux) EXPECT_EQ(r.a, 42u);
    EXPECT_EQ(s.CountOf(Callback::Close), opened ? 1 : 0);
    if (opened) EXPECT_EQ(s.lastOpenMode(), QD_OPEN_READ);
    if (c.failing != Callback::Close) EXPECT_FALSE(s.IsOpen());
  }
}

}  // namespace
}  // namespace qd
