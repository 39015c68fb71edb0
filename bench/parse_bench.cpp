// qdparse side by side with Exiv2 and libexif on the same in-memory files:
// time per file (the peers interleaved with qdparse, TZ unset), instructions
// per file from a callgrind run, the ratios, what one parse costs the host
// (callbacks, bytes delivered, highest offset read), and two threads against
// one. A qdparse parse is the widest parse export with every output; Exiv2's
// is readMetadata and a walk over every datum; libexif's is loading the Exif
// block and a walk over every entry.
//
//   qdparse_parse_bench [--samples DIR] [--instructions-from DIR]
//   qdparse_parse_bench --calls    the host's side only, with every input callback
//   valgrind --tool=callgrind --collect-atstart=no --callgrind-out-file=DIR/cg.out \
//     qdparse_parse_bench --instructions [--samples DIR]
//
// scripts/bench runs both. Exit status 1 when a parse fails or reads image data.
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "qdparse_host.h"
#include "support/counting_stream.h"
#include "support/jpeg_builder.h"

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#define QDBENCH_CALLGRIND 1
#endif
#ifdef QDBENCH_EXIV2
#include <exiv2/exiv2.hpp>
#endif
#ifdef QDBENCH_LIBEXIF
#include <libexif/exif-data.h>
#endif

namespace {

using qdtest::Bytes;
using Clock = std::chrono::steady_clock;

enum Lib { kQd, kExiv2, kLibexif, kLibs };
const char* const kLibNames[kLibs] = {"qdparse", "exiv2", "libexif"};

bool Available(Lib lib) {
  switch (lib) {
    case kQd: return true;
#ifdef QDBENCH_EXIV2
    case kExiv2: return true;
#endif
#ifdef QDBENCH_LIBEXIF
    case kLibexif: return true;
#endif
    default: return false;
  }
}

// Host-cost targets of one parse; 0 where none is set.
struct Target {
  uint32_t callbacks = 0;
  bool bytesBound = false;  // bytes read at most metadata + 1 KiB
};

struct File {
  std::string name;
  Bytes bytes;
  bool refused = false;      // qdparse must refuse it
  bool likeForLike = false;  // an Exif JPEG without XMP: the ratio targets apply
  uint64_t metadata = 0;     // bytes of the segments or structures a parse uses
  Target target;
  const qdtest::ParseFixture* fixture = nullptr;  // image-data bounds
};

// --- one parse per library ---------------------------------------------------

struct QdSinks {
  QdThumbnailInfo thumb{};
  QdImageInfo image{};
  QdAuxImageInfo aux{};
  ExifCaptureInfo capture{};
  ExifShotValues shot{};
  qdlStream comment{}, properties{}, dcfThumbnail{};
  QdSinks() {
    qdhGrowableStreamInit(&comment);
    qdhGrowableStreamInit(&properties);
    qdhGrowableStreamInit(&dcfThumbnail);
  }
  ~QdSinks() {
    qdhStreamRelease(&comment);
    qdhStreamRelease(&properties);
    qdhStreamRelease(&dcfThumbnail);
  }
};

uint32_t QdParse(const qdlStream* in, uint32_t size, QdSinks* s) {
  return QDParseThumbnailFileStreamEx2(in, size, &s->thumb, &s->image, &s->aux, &s->capture,
                                       &s->shot, nullptr, &s->comment, &s->properties,
                                       &s->dcfThumbnail);
}

// True when the library read the file and gave something back.
bool ParseOnce(Lib lib, const File& f, QdSinks* sinks, uint64_t* sink) {
  const auto size = static_cast<uint32_t>(f.bytes.size());
  switch (lib) {
    case kQd: {
      qdlStream in{};
      qdhMemoryStreamInit(&in, f.bytes.data(), size);
      const uint32_t result = QdParse(&in, size, sinks);
      qdhStreamRelease(&in);
      *sink += result;
      return (result == QD_OK) != f.refused;
    }
#ifdef QDBENCH_EXIV2
    case kExiv2: {
      try {
        auto image = Exiv2::ImageFactory::open(f.bytes.data(), static_cast<long>(size));
        if (image.get() == nullptr) return false;
        image->readMetadata();
        uint64_t n = 0;
        for (const auto& d : image->exifData()) *sink += d.tag() + d.count(), ++n;
        for (const auto& d : image->iptcData()) *sink += d.tag() + d.count(), ++n;
        for (const auto& d : image->xmpData()) *sink += d.count(), ++n;
        return n > 0;
      } catch (...) {
        return false;
      }
    }
#endif
#ifdef QDBENCH_LIBEXIF
    case kLibexif: {
      ExifData* data = exif_data_new_from_data(f.bytes.data(), size);
      if (data == nullptr) return false;
      uint64_t n = 0;
      for (ExifContent* c : data->ifd) {
        for (unsigned i = 0; i < c->count; ++i) *sink += c->entries[i]->tag + c->entries[i]->components, ++n;
      }
      exif_data_unref(data);
      return n > 0;
    }
#endif
    default: return false;
  }
}

// --- instructions: dumps of a callgrind run ------------------------------------

constexpr int kInstructionRuns = 20;

std::string DumpLabel(const File& f, Lib lib) {
  return "qdbench:" + f.name + ":" + kLibNames[lib];
}

#ifdef QDBENCH_CALLGRIND
void CountInstructions(const std::vector<File>& files) {
  QdSinks sinks;
  uint64_t sink = 0;
  for (const File& f : files) {
    for (int l = 0; l < kLibs; ++l) {
      const Lib lib = static_cast<Lib>(l);
      if (!Available(lib)) continue;
      ParseOnce(lib, f, &sinks, &sink);  // first-use costs stay out
      CALLGRIND_TOGGLE_COLLECT;
      for (int i = 0; i < kInstructionRuns; ++i) ParseOnce(lib, f, &sinks, &sink);
      CALLGRIND_TOGGLE_COLLECT;
      const std::string label = DumpLabel(f, lib);  // must outlive the request
      CALLGRIND_DUMP_STATS_AT(label.c_str());
    }
  }
  std::printf("instructions counted (%llu)\n", static_cast<unsigned long long>(sink & 1));
}
#endif

// Instructions per parse by label, from every dump in `dir`.
std::map<std::string, double> ReadDumps(const std::string& dir) {
  std::map<std::string, double> out;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    std::ifstream in(entry.path());
    std::string line, label;
    double total = -1;
    while (std::getline(in, line)) {
      const std::string trigger = "desc: Trigger: Client Request: ";
      if (line.rfind(trigger, 0) == 0) label = line.substr(trigger.size());
      if (line.rfind("totals: ", 0) == 0 || line.rfind("summary: ", 0) == 0) {
        total = std::strtod(line.c_str() + line.find(' ') + 1, nullptr);
      }
    }
    if (label.rfind("qdbench:", 0) == 0 && total >= 0) out[label] = total / kInstructionRuns;
  }
  return out;
}

// --- time ----------------------------------------------------------------------

// Seconds per parse: batches of about 10 ms, libraries interleaved round by
// round, the median round of each.
void TimeFile(const File& f, double perParse[kLibs]) {
  constexpr int kRounds = 7;
  QdSinks sinks;
  uint64_t sink = 0;
  int batch[kLibs];
  std::vector<double> rounds[kLibs];
  for (int l = 0; l < kLibs; ++l) {
    batch[l] = 0;
    perParse[l] = -1;
    if (!Available(static_cast<Lib>(l))) continue;
    const auto start = Clock::now();
    int n = 0;
    do {
      ParseOnce(static_cast<Lib>(l), f, &sinks, &sink);
      ++n;
    } while (Clock::now() - start < std::chrono::milliseconds(5));
    batch[l] = std::max(1, n * 2);
  }
  for (int r = 0; r < kRounds; ++r) {
    for (int l = 0; l < kLibs; ++l) {
      if (batch[l] == 0) continue;
      const auto start = Clock::now();
      for (int i = 0; i < batch[l]; ++i) ParseOnce(static_cast<Lib>(l), f, &sinks, &sink);
      rounds[l].push_back(std::chrono::duration<double>(Clock::now() - start).count() / batch[l]);
    }
  }
  for (int l = 0; l < kLibs; ++l) {
    if (rounds[l].empty()) continue;
    std::nth_element(rounds[l].begin(), rounds[l].begin() + kRounds / 2, rounds[l].end());
    perParse[l] = rounds[l][kRounds / 2];
  }
}

constexpr int kThreadParses = 20000;  // about 50 ms a run: scheduler noise averages out

// Parses per second of two threads over those of one, best of three runs.
// `waits` gets the voluntary context switches of the two threads over all
// runs: a lock that makes one parse wait for another shows there, where a
// machine busy with other work only preempts.
double ThreadSpeedup(const File& f, long* waits) {
  std::atomic<long> switches{0};
  auto work = [&f, &switches] {
    rusage before{}, after{};
    getrusage(RUSAGE_THREAD, &before);
    QdSinks sinks;
    uint64_t sink = 0;
    for (int i = 0; i < kThreadParses; ++i) ParseOnce(kQd, f, &sinks, &sink);
    getrusage(RUSAGE_THREAD, &after);
    switches += after.ru_nvcsw - before.ru_nvcsw;
  };
  double best = 0;
  for (int run = 0; run < 3; ++run) {
    auto start = Clock::now();
    work();
    const double one = std::chrono::duration<double>(Clock::now() - start).count();
    start = Clock::now();
    std::thread a(work), b(work);
    a.join();
    b.join();
    const double two = std::chrono::duration<double>(Clock::now() - start).count();
    best = std::max(best, 2 * one / two);
  }
  *waits = switches;  // the single-thread runs add theirs too, as a baseline
  return best;
}

// --- the files -----------------------------------------------------------------

uint64_t SosOffset(const Bytes& jpeg) {
  const size_t sos = qdtest::SegmentOffset(jpeg, qdtest::marker::kSOS);
  return sos == qdtest::npos ? jpeg.size() : sos;
}

Bytes XmpApp1() {
  std::string packet = "http://ns.adobe.com/xap/1.0/";
  packet.push_back('\0');
  packet += "<?xpacket begin='' id='W5M0MpCehiHzreSzNTczkc9d'?><x:xmpmeta xmlns:x='adobe:ns:meta/'>"
            "<rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
            "<rdf:Description rdf:about='' xmlns:xmp='http://ns.adobe.com/xap/1.0/' "
            "xmp:CreatorTool='Vedra QX-10' xmp:Rating='3'/></rdf:RDF></x:xmpmeta>";
  packet.append(6000, ' ');  // the padding writers leave for edits in place
  packet += "<?xpacket end='w'?>";
  return qdtest::App1(Bytes(packet.begin(), packet.end()));
}

std::vector<File> BenchFiles(const std::vector<qdtest::ParseFixture>& fixtures) {
  std::vector<File> files;
  for (const qdtest::ParseFixture& fx : fixtures) {
    File f{fx.name, fx.bytes};
    f.fixture = &fx;
    if (fx.name == "ExifJpeg") {
      f.likeForLike = true;
      f.metadata = SosOffset(fx.bytes);
      f.target = {10, true};
      files.push_back(f);
      File x{"ExifJpegXmp", qdtest::AfterSoi(fx.bytes, {XmpApp1()})};
      // Every segment before the scan, the XMP packet among them, which the
      // parse passes over by seeking.
      x.metadata = SosOffset(x.bytes);
      x.target = {10, true};
      files.push_back(x);
      // The same photo without an Exif block.
      File refused{"RefusedJpeg", qdtest::EncodeJpeg({1600, 1200, 3, 0x21, false, false})};
      refused.refused = true;
      refused.metadata = SosOffset(refused.bytes);
      refused.target = {16, true};
      files.push_back(refused);
      continue;
    }
    f.metadata = fx.readLimit - (fx.name == "HeapFile" ? fx.imageEnd - fx.imageBegin : 0);
    f.target = {14, true};
    files.push_back(f);
  }
  // Files that are not camera files: recognition must not walk them whole.
  Bytes iso = {0, 0, 0, 0x18, 'f', 't', 'y', 'p', 'i', 's', 'o', 'm', 0, 0, 2, 0,
               'i', 's', 'o', 'm', 'i', 's', 'o', '2'};
  Bytes mdat = {0x00, 0x40, 0x00, 0x00, 'm', 'd', 'a', 't'};
  iso.insert(iso.end(), mdat.begin(), mdat.end());
  iso.resize(4u << 20, 0x5A);
  File isoFile{"IsoMedia4MiB", iso};
  isoFile.refused = true;
  files.push_back(isoFile);
  File zeros{"Zeros1MiB", Bytes(1u << 20, 0)};
  zeros.refused = true;
  files.push_back(zeros);
  return files;
}

void AddSamples(const std::string& dir, std::vector<File>* files) {
  std::vector<std::filesystem::path> paths;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(dir, ec)) paths.push_back(e.path());
  std::sort(paths.begin(), paths.end());
  for (const auto& p : paths) {
    std::ifstream in(p, std::ios::binary);
    File f{"sample/" + p.filename().string(),
           Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>())};
    // Whatever qdparse answers for a sample is what it answers; it is timed as it is.
    qdlStream s{};
    qdhMemoryStreamInit(&s, f.bytes.data(), static_cast<uint32_t>(f.bytes.size()));
    QdSinks sinks;
    f.refused = QdParse(&s, static_cast<uint32_t>(f.bytes.size()), &sinks) != QD_OK;
    qdhStreamRelease(&s);
    files->push_back(std::move(f));
  }
}

// --- report --------------------------------------------------------------------

std::string Figure(double v, const char* format) {
  if (v < 0) return "-";
  char text[64];
  std::snprintf(text, sizeof text, format, v);
  return text;
}

const char* Verdict(bool met) { return met ? "met" : "NOT MET"; }

}  // namespace

int main(int argc, char** argv) {
  unsetenv("TZ");  // as most hosts run
  std::string samples, dumps;
  bool instructions = false, calls = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--samples" && i + 1 < argc) samples = argv[++i];
    else if (a == "--instructions-from" && i + 1 < argc) dumps = argv[++i];
    else if (a == "--instructions") instructions = true;
    else if (a == "--calls") calls = true;
    else {
      std::fprintf(stderr, "usage: %s [--samples DIR] [--calls] [--instructions | --instructions-from DIR]\n", argv[0]);
      return 2;
    }
  }
#ifdef QDBENCH_EXIV2
  Exiv2::XmpParser::initialize();
  Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
#endif
  const std::vector<qdtest::ParseFixture> fixtures = qdtest::ParseFixtures();
  std::vector<File> files = BenchFiles(fixtures);
  if (!samples.empty()) AddSamples(samples, &files);

  if (instructions) {
#ifdef QDBENCH_CALLGRIND
    CountInstructions(files);
    return 0;
#else
    std::fprintf(stderr, "built without valgrind/callgrind.h\n");
    return 2;
#endif
  }
  const std::map<std::string, double> ir = dumps.empty() ? std::map<std::string, double>{} : ReadDumps(dumps);
  auto Instructions = [&ir](const File& f, Lib lib) {
    const auto it = ir.find(DumpLabel(f, lib));
    return it == ir.end() ? -1.0 : it->second;
  };

  bool failed = false;
  std::printf("Host cost of one qdparse parse (input stream)\n");
  std::printf("%-26s %9s %10s %10s %10s %9s  %s\n", "file", "size", "callbacks", "bytes", "highest", "metadata",
              "targets");
  for (const File& f : files) {
    qdtest::CountingStream in(f.bytes);
    qdtest::ParseSinks out;
    const uint32_t result = QDParseThumbnailFileStreamEx2(
        in.stream(), static_cast<uint32_t>(f.bytes.size()), &out.thumb, &out.image, &out.aux, &out.capture,
        &out.shot, nullptr, out.comment.stream(), out.properties.stream(), out.dcfThumbnail.stream());
    std::string verdict;
    if ((result == QD_OK) == f.refused) {
      verdict += "unexpected result " + std::to_string(result) + "; ";
      failed = true;
    }
    if (f.fixture != nullptr) {
      const std::string problem = qdtest::ReadBoundProblem(*f.fixture, in);
      if (!problem.empty()) verdict += problem, failed = true;
    }
    if (f.target.callbacks != 0) {
      verdict += std::string("callbacks <= ") + std::to_string(f.target.callbacks) + " " +
                 Verdict(in.calls() <= f.target.callbacks) + "; ";
    }
    if (f.target.bytesBound) {
      verdict += "bytes <= " + std::to_string(f.metadata + 1024) + " " +
                 Verdict(in.bytesRead() <= f.metadata + 1024);
    }
    std::printf("%-26s %9zu %10llu %10llu %10u %9s  %s\n", f.name.c_str(), f.bytes.size(),
                static_cast<unsigned long long>(in.calls()), static_cast<unsigned long long>(in.bytesRead()),
                in.highestRead(), f.metadata ? std::to_string(f.metadata).c_str() : "-", verdict.c_str());
    if (calls) {  // the input callbacks in order, with their argument
      for (const qdtest::Call& c : static_cast<const qdtest::TestStream&>(in).calls()) {
        std::printf(" %s(%u)", qdtest::CallbackName(c.callback), c.arg);
      }
      std::printf("\n");
    }
  }

  if (calls) return failed ? 1 : 0;  // the host's side only

  std::printf("\nPer file: time (us, median of interleaved rounds, TZ unset) and instructions (k, callgrind)\n");
  std::printf("%-26s %9s %9s %9s %9s %9s %9s %8s %8s %8s %8s\n", "file", "qd us", "exiv2 us", "libexif us",
              "qd kI", "exiv2 kI", "libexif kI", "t exiv2", "I exiv2", "t libexif", "I libexif");
  double worstTime = -1, worstInstr = -1;
  for (const File& f : files) {
    double t[kLibs], in[kLibs];
    TimeFile(f, t);
    QdSinks sinks;
    uint64_t sink = 0;
    for (int l = 0; l < kLibs; ++l) {
      in[l] = Instructions(f, static_cast<Lib>(l));
      // A peer that cannot read the file has no figure.
      if (l != kQd && !ParseOnce(static_cast<Lib>(l), f, &sinks, &sink)) t[l] = in[l] = -1;
    }
    auto Ratio = [](double peer, double qd) { return peer > 0 && qd > 0 ? peer / qd : -1.0; };
    const double rt = Ratio(t[kExiv2], t[kQd]), ri = Ratio(in[kExiv2], in[kQd]);
    if (f.likeForLike) {
      worstTime = worstTime < 0 ? rt : std::min(worstTime, rt);
      worstInstr = worstInstr < 0 ? ri : std::min(worstInstr, ri);
    }
    std::printf("%-26s %9s %9s %9s %9s %9s %9s %8s %8s %8s %8s\n", f.name.c_str(), Figure(t[kQd] * 1e6, "%.2f").c_str(),
                Figure(t[kExiv2] * 1e6, "%.2f").c_str(), Figure(t[kLibexif] * 1e6, "%.2f").c_str(),
                Figure(in[kQd] / 1e3, "%.1f").c_str(), Figure(in[kExiv2] / 1e3, "%.1f").c_str(),
                Figure(in[kLibexif] / 1e3, "%.1f").c_str(), Figure(rt, "%.1fx").c_str(), Figure(ri, "%.1fx").c_str(),
                Figure(Ratio(t[kLibexif], t[kQd]), "%.1fx").c_str(),
                Figure(Ratio(in[kLibexif], in[kQd]), "%.1fx").c_str());
  }

  const File& exif = files.front();
  long waits = 0;
  const double speedup = ThreadSpeedup(exif, &waits);
  double load = -1;
  if (FILE* l = std::fopen("/proc/loadavg", "r")) {
    if (std::fscanf(l, "%lf", &load) != 1) load = -1;
    std::fclose(l);
  }
  std::printf("\nTargets\n");
  std::printf("  Exif JPEG without XMP, time vs Exiv2 >= 15x: %s (%s)\n",
              worstTime < 0 ? "not measured" : Verdict(worstTime >= 15), Figure(worstTime, "%.1fx").c_str());
  std::printf("  Exif JPEG without XMP, instructions vs Exiv2 >= 20x: %s (%s)\n",
              worstInstr < 0 ? "not measured (run under scripts/bench)" : Verdict(worstInstr >= 20),
              Figure(worstInstr, "%.1fx").c_str());
  std::printf("  two threads vs one on %s >= 1.8x: %s (%.2fx; %u cores, load average %.2f%s)\n", exif.name.c_str(),
              Verdict(speedup >= 1.8), speedup, std::thread::hardware_concurrency(), load,
              load > 0.5 ? ": cores busy, the figure is low" : "");
  std::printf("    voluntary waits in %d parses on one thread and %d on two, three times: %ld\n", kThreadParses,
              2 * kThreadParses, waits);
  std::printf("  callbacks and bytes: see the first table\n");
  return failed ? 1 : 0;
}
