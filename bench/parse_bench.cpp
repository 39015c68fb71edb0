// Time per file of the widest parse export with every output requested, and
// what one parse costs the host: callbacks, bytes delivered, the highest
// offset read against the file size. A parse that reads image data fails the
// run (the extract tests check the same bound).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/counting_stream.h"

namespace {

using qdtest::CountingStream;
using qdtest::ParseFixture;

bool boundBroken = false;

void ParseFile(benchmark::State& state, const ParseFixture* f) {
  CountingStream in(f->bytes);
  qdtest::ParseSinks sinks;
  for (auto _ : state) {
    in.ResetCounts();
    const uint32_t result = qdtest::ParseEverything(*f, &in, &sinks);
    benchmark::DoNotOptimize(result);
    if (result != QD_OK) {
      state.SkipWithError(("parse failed: " + std::to_string(result)).c_str());
      return;
    }
  }
  // Every parse does the same work; the counts of the last one stand for all.
  using benchmark::Counter;
  state.counters["file_size"] = Counter(static_cast<double>(f->bytes.size()));
  state.counters["bytes_read"] = Counter(static_cast<double>(in.bytesRead()));
  state.counters["host_calls"] = Counter(static_cast<double>(in.calls()));
  state.counters["reads"] = Counter(static_cast<double>(in.reads()));
  state.counters["highest_read"] = Counter(static_cast<double>(in.highestRead()));
  state.counters["image_bytes_read"] = Counter(static_cast<double>(in.DistinctBytesIn(f->imageBegin, f->imageEnd)));
  const std::string problem = qdtest::ReadBoundProblem(*f, in);
  if (!problem.empty()) {
    boundBroken = true;
    state.SkipWithError(problem.c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<ParseFixture> files = qdtest::ParseFixtures();
  for (const ParseFixture& f : files) {
    benchmark::RegisterBenchmark(("Parse/" + f.name).c_str(), ParseFile, &f)->Unit(benchmark::kMicrosecond);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (boundBroken) std::fprintf(stderr, "a parse read image data\n");
  return boundBroken ? 1 : 0;
}
