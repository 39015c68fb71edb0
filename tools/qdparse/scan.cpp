// `scan`: every file under folders, described on several threads, one record
// per file in path order (JSON lines or CSV), a progress line when standard
// error is a terminal and a summary at the end. An interrupt stops the
// dispatch; what was done is written whole, so the output stays valid.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "commands.h"
#include "describe.h"

namespace qdtool {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::atomic<bool> gStop{false};

extern "C" void OnStopSignal(int) { gStop.store(true); }

// The files under `roots`, sorted and each once; unreadable folders are
// reported and skipped.
bool Walk(const std::vector<std::string>& roots, std::vector<std::string>* files) {
  bool ok = true;
  for (const std::string& root : roots) {
    std::error_code ec;
    if (!fs::is_directory(root, ec)) {
      if (fs::exists(root, ec)) {
        files->push_back(root);
      } else {
        std::fprintf(stderr, "qdparse: %s: no such file or folder\n", root.c_str());
        ok = false;
      }
      continue;
    }
    fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
      std::error_code typeError;
      if (it->is_regular_file(typeError)) files->push_back(it->path().string());
    }
    if (ec) {
      std::fprintf(stderr, "qdparse: %s: %s\n", root.c_str(), ec.message().c_str());
      ok = false;
    }
  }
  std::sort(files->begin(), files->end());
  files->erase(std::unique(files->begin(), files->end()), files->end());
  return ok;
}

// RFC 4180: a field with a comma, quote or line break is quoted, quotes doubled.
std::string CsvField(const Json& v) {
  std::string text;
  if (v.is_null()) return text;
  text = v.is_string() ? v.get<std::string>() : v.dump(-1, ' ', false, Json::error_handler_t::replace);
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

const char* const kCsvHeader =
    "file,type,make,model,width,height,dateTime,exposureTime,fNumber,iso,errorName,errorMessage\r\n";

std::string CsvLine(const Json& j) {
  const auto at = [&j](std::initializer_list<const char*> keys) {
    const Json* v = &j;
    for (const char* k : keys) {
      if (!v->is_object() || !v->contains(k)) return Json(nullptr);
      v = &(*v)[k];
    }
    return *v;
  };
  const Json fields[] = {at({"file"}),         at({"type"}),          at({"make"}),
                         at({"model"}),        at({"image", "width"}), at({"image", "height"}),
                         at({"capture", "dateTime"}), at({"exposure", "time"}), at({"exposure", "fNumber"}),
                         at({"exposure", "iso"}), at({"error", "name"}), at({"error", "message"})};
  std::string line;
  for (const Json& f : fields) line += (line.empty() ? "" : ",") + CsvField(f);
  return line + "\r\n";
}

// A refusal reason without its per-file figures ("too short ... (12 bytes)").
std::string ReasonKey(const Json& j) {
  std::string reason = j["error"].value("message", "");
  const size_t paren = reason.rfind(" (");
  if (paren != std::string::npos && reason.back() == ')') reason.resize(paren);
  return reason;
}

struct Result {
  bool done = false;
  bool refused = false;
  std::string key;   // type key, or the refusal reason
  std::string line;  // empty: filtered out
};

class Scan {
 public:
  Scan(std::vector<std::string> files, const ScanOptions& o) : files_(std::move(files)), o_(o), results_(files_.size()) {}

  // Returns the number of files written.
  size_t Run(std::FILE* out) {
    const unsigned jobs = std::max(1u, std::min<unsigned>(o_.jobs, static_cast<unsigned>(files_.size())));
    std::vector<std::thread> workers;
    for (unsigned i = 0; i < jobs; ++i) workers.emplace_back([this] { Work(); });
    const bool progress = isatty(STDERR_FILENO) != 0;
    size_t next = 0;
    Clock::time_point shown = start_;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      while (next < files_.size() && !(gStop.load() && active_ == 0)) {
        changed_.wait_for(lock, std::chrono::milliseconds(200));
        next = Flush(out, next, lock);
        if (progress && Clock::now() - shown >= std::chrono::milliseconds(250)) {
          Progress();
          shown = Clock::now();
        }
      }
    }
    for (std::thread& t : workers) t.join();
    // Files finished after a gap left by the interrupt: still in path order.
    std::unique_lock<std::mutex> lock(mutex_);
    for (; next < files_.size(); ++next) {
      if (results_[next].done) Write(out, results_[next]);
    }
    if (progress) std::fputs("\r\033[K", stderr);
    return done_;
  }

  void Summary(double seconds) const {
    std::map<std::string, size_t> types, reasons;
    for (const Result& r : results_) {
      if (r.done) ++(r.refused ? reasons : types)[r.key];
    }
    std::fprintf(stderr, "scan: %zu of %zu files in %.2f s (%.0f files/s), %zu refused%s\n", done_, files_.size(),
                 seconds, seconds > 0 ? done_ / seconds : 0.0, refused_.load(),
                 done_ < files_.size() ? "; interrupted" : "");
    for (const auto& [type, n] : types) std::fprintf(stderr, "  %-28s %zu\n", type.c_str(), n);
    for (const auto& [reason, n] : reasons) std::fprintf(stderr, "  refused: %-19s %zu\n", reason.c_str(), n);
  }

 private:
  void Work() {
    for (;;) {
      size_t i;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (gStop.load() || taken_ == files_.size()) break;
        i = taken_++;
        ++active_;
      }
      Json j;
      Result r;
      r.refused = !DescribeJson(files_[i], &j);
      r.key = r.refused ? ReasonKey(j) : j.value("type", "");
      if (r.refused) ++refused_;
      const std::string kind = r.refused ? "refused" : r.key;
      if (o_.kinds.empty() || std::find(o_.kinds.begin(), o_.kinds.end(), kind) != o_.kinds.end()) {
        r.line = o_.csv ? CsvLine(j) : j.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
      }
      r.done = true;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        results_[i] = std::move(r);
        ++done_;
        --active_;
      }
      changed_.notify_one();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    changed_.notify_one();
  }

  // Writes the finished results from `next` on, in order, without holding
  // the lock during the writes.
  size_t Flush(std::FILE* out, size_t next, std::unique_lock<std::mutex>& lock) {
    std::vector<Result*> ready;
    for (size_t i = next; i < files_.size() && results_[i].done; ++i) ready.push_back(&results_[i]);
    lock.unlock();
    for (Result* r : ready) Write(out, *r);
    if (!ready.empty()) std::fflush(out);
    lock.lock();
    return next + ready.size();
  }

  static void Write(std::FILE* out, Result& r) {
    std::fwrite(r.line.data(), 1, r.line.size(), out);
    r.line = std::string();  // the summary needs only the key
  }

  void Progress() const {
    const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
    const double rate = seconds > 0 ? done_ / seconds : 0;
    const double left = rate > 0 ? (files_.size() - done_) / rate : 0;
    std::fprintf(stderr, "\r\033[K%zu/%zu files, %.0f files/s, %zu refused, %.0f s left", done_, files_.size(), rate,
                 refused_.load(), left);
  }

  const std::vector<std::string> files_;
  const ScanOptions o_;
  std::vector<Result> results_;
  std::mutex mutex_;
  std::condition_variable changed_;
  size_t taken_ = 0, done_ = 0, active_ = 0;
  std::atomic<size_t> refused_{0};
  const Clock::time_point start_ = Clock::now();
};

// Whether `output` is one of the files to scan (however named).
bool IsScanned(const std::string& output, const std::vector<std::string>& files) {
  std::error_code ec;
  if (!fs::exists(output, ec)) return false;
  for (const std::string& f : files) {
    if (fs::equivalent(output, f, ec)) return true;
  }
  return false;
}

}  // namespace

int RunScan(const std::vector<std::string>& roots, const ScanOptions& options) {
  std::vector<std::string> files;
  const bool walked = Walk(roots, &files);
  const bool toStdout = options.output.empty() || options.output == "-";
  std::FILE* out = stdout;
  if (!toStdout) {
    if (IsScanned(options.output, files)) {
      std::fprintf(stderr, "qdparse: %s: the output is one of the scanned files\n", options.output.c_str());
      return 1;
    }
    std::error_code ec;
    if (fs::exists(options.output, ec) && !options.force) {
      std::fprintf(stderr, "qdparse: %s: exists (--force replaces it)\n", options.output.c_str());
      return 1;
    }
    out = std::fopen(options.output.c_str(), "wb");
    if (out == nullptr) {
      std::fprintf(stderr, "qdparse: %s: cannot write it\n", options.output.c_str());
      return 1;
    }
  }
  struct sigaction stop {};
  stop.sa_handler = OnStopSignal;
  sigemptyset(&stop.sa_mask);
  struct sigaction oldInt {}, oldTerm {};
  sigaction(SIGINT, &stop, &oldInt);
  sigaction(SIGTERM, &stop, &oldTerm);

  if (options.csv) std::fputs(kCsvHeader, out);
  const auto start = Clock::now();
  Scan scan(std::move(files), options);
  scan.Run(out);
  const bool written = std::fflush(out) == 0 && (out == stdout || std::fclose(out) == 0);
  sigaction(SIGINT, &oldInt, nullptr);
  sigaction(SIGTERM, &oldTerm, nullptr);
  scan.Summary(std::chrono::duration<double>(Clock::now() - start).count());
  if (!written) {
    std::fprintf(stderr, "qdparse: %s: the output could not be written whole\n",
                 toStdout ? "standard output" : options.output.c_str());
    return 1;
  }
  if (gStop.load()) return 130;
  return walked ? 0 : 1;
}

}  // namespace qdtool
