// qdparse: reads camera files through the library, as a host application
// would, and prints what it reports. Every command takes several files, and
// - for standard input.
//
//   qdparse info [--json] FILE...        file type, image, thumbnail, capture and shot descriptions
//   qdparse props [--json] FILE...       the typed property records, decoded
//   qdparse thumb FILE... -o OUT         the DCF thumbnail or the embedded JPEG
//   qdparse wav [--json] FILE...         WAVE sound memos
//   qdparse type [--json] FILE...        image format code, maker and model
//   qdparse get [--json] ID FILE...      one property's value, by its 32-bit identifier
//   qdparse heap FILE... -o OUT [--developed]   the heap object as a heap-file image
//   qdparse makernote [--json] FILE...   where the camera maker's maker note lies
//   qdparse set FILE... [--orientation N] [--datetime T] [--comment C] [--exposure E]
//               [--fnumber F] [--iso N] [--dry-run] [--backup SUFFIX]
//                                        change properties in place
//   qdparse set-value ID VALUE FILE...   one property, by identifier, in place
//   qdparse exif FILE... -o OUT [set options] [--thumbnail JPEG] [--jpeg]
//                                        the Exif block, changed, as an APP1 segment (or the JPEG with it)
//   qdparse iim [--json] FILE... [--set R:D=TEXT]... [--preserve OUT] | iim [--json] --restore BLOCK
//                                        IIM datasets: list, change in place, pack, unpack
//   qdparse check [--json] FILE...       whether JPEG files are laid out as the cameras write them
//   qdparse scan PATH... [--jobs N] [--format jsonl|csv] [--kinds K,...] [-o OUT]
//                                        every file under folders, one info --json record each, by path
//
// -o OUT: a file, - for standard output, or a folder (required for several
// files); an existing file is replaced only with --force, never the input.
// Exit status: 0 done, 1 a file was refused, 2 bad usage.
#include <algorithm>
#include <cstdio>
#include <exception>
#include <string>
#include <thread>
#include <vector>

#include <CLI/CLI.hpp>

#include "commands.h"
#include "qdparse.h"

namespace {

constexpr int kUsage = 2;

// Runs a one-file command over every file; 1 when any was refused.
template <typename Command>
int Each(const std::vector<std::string>& files, Command&& command) {
  int status = 0;
  for (const std::string& f : files) {
    if (command(f) != 0) status = 1;
  }
  return status;
}

// Levenshtein distance, for "did you mean".
size_t Distance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t up = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = up;
    }
  }
  return row[b.size()];
}

// An unknown first word that is close to a command: say which was meant.
bool SuggestCommand(const CLI::App& app, int argc, char** argv) {
  if (argc < 2 || argv[1][0] == '-') return false;
  const std::string word = argv[1];
  std::string best;
  size_t bestDistance = 3;  // at most two edits away
  for (const CLI::App* c : app.get_subcommands([](const CLI::App*) { return true; })) {
    if (c->get_name() == word) return false;
    const size_t d = Distance(word, c->get_name());
    if (d < bestDistance) {
      bestDistance = d;
      best = c->get_name();
    }
  }
  const std::string hint = best.empty() ? "" : " Did you mean '" + best + "'?";
  std::fprintf(stderr, "qdparse: unknown command '%s'.%s (qdparse --help lists the commands)\n", word.c_str(),
               hint.c_str());
  return true;
}

CLI::App* Command(CLI::App& app, const char* name, const char* what, const char* example) {
  CLI::App* c = app.add_subcommand(name, what);
  c->footer(std::string("Example:\n  ") + example);
  return c;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Reads the files a family of digital still cameras writes, through the qdparse library.\n"
               "FILE may be - for standard input; every command takes several files.",
               "qdparse"};
  app.require_subcommand(1);
  app.set_version_flag("--version", "qdparse " QDPARSE_VERSION_STRING);

  bool json = false;
  std::vector<std::string> files;
  qdtool::Output output;
  const auto addFiles = [&files](CLI::App* c, const char* what) {
    c->add_option("FILE", files, what)->required();
  };
  const auto addOutput = [&output](CLI::App* c, const char* what) {
    c->add_option("-o,--output", output.path, std::string(what) +
                                                  " (- for standard output; a folder for several files)")
        ->required();
    c->add_flag("--force", output.force, "Replace an existing output file");
  };

  CLI::App* info = Command(app, "info", "Describe files: type, images, capture data, shot values",
                           "qdparse info --json IMG_0001.JPG IMG_0002.TIF");
  info->add_flag("--json", json, "One JSON object per file, one per line");
  addFiles(info, "Files to describe");

  CLI::App* props = Command(app, "props", "Decode the typed property records of files", "qdparse props IMG_0001.JPG");
  props->add_flag("--json", json, "One JSON object per file");
  addFiles(props, "Files to read");

  CLI::App* thumb = Command(app, "thumb", "Write the DCF thumbnail or the embedded JPEG of files",
                            "qdparse thumb IMG_0001.JPG -o thumb.jpg");
  addFiles(thumb, "Files to read");
  addOutput(thumb, "Where to write the thumbnail");

  CLI::App* wav = Command(app, "wav", "Describe WAVE sound memos", "qdparse wav --json MEMO_0001.WAV");
  wav->add_flag("--json", json, "One JSON object per file");
  addFiles(wav, "Files to read");

  CLI::App* type = Command(app, "type", "Image format code, maker and model of files", "qdparse type *.TIF");
  type->add_flag("--json", json, "One JSON object per file, one per line");
  addFiles(type, "Files to read");

  uint32_t id = 0;
  CLI::App* get = Command(app, "get", "One property's value, by identifier (e.g. 0x00001810)",
                          "qdparse get 0x00001810 IMG_0001.CRW");
  get->add_flag("--json", json, "One JSON object per file");
  get->add_option("ID", id, "Record type or tag | field type << 16 | location << 20 | conversion << 24")
      ->required();
  addFiles(get, "Files to read");

  bool developed = false;
  CLI::App* heap = Command(app, "heap", "Write the files' heap objects as heap-file images",
                           "qdparse heap IMG_0001.CRW -o heap.bin");
  addFiles(heap, "Files to read");
  addOutput(heap, "Where to write it");
  heap->add_flag("--developed", developed, "The heap object of the developed picture");

  CLI::App* makernote = Command(app, "makernote", "Where the camera maker's maker note lies",
                                "qdparse makernote --json IMG_0001.JPG");
  makernote->add_flag("--json", json, "One JSON object per file");
  addFiles(makernote, "Files to read");

  qdtool::SetOptions set;
  auto changeOptions = [&set](CLI::App* c) {
    c->add_option("--orientation", set.orientation, "Orientation 1 to 8, as Exif numbers it");
    c->add_option("--datetime", set.datetime, "Capture time \"YYYY:MM:DD HH:MM:SS\" (the camera's clock)");
    c->add_option("--comment", set.comment, "User comment (cut to the room the file has)");
    c->add_option("--exposure", set.exposure, "Exposure time, 1/250 or 0.5");
    c->add_option("--fnumber", set.fnumber, "F-number, 7.1");
    c->add_option("--iso", set.iso, "ISO speed");
  };
  CLI::App* setCmd = Command(app, "set", "Change properties in place (values the files have; none added)",
                             "qdparse set --orientation 6 --backup .orig IMG_0001.JPG");
  addFiles(setCmd, "Files to change");
  changeOptions(setCmd);
  std::string value;
  CLI::App* setValue = Command(app, "set-value", "Change one property in place, by identifier",
                               "qdparse set-value 0x00030112 8 IMG_0001.JPG");
  setValue->add_option("ID", id, "Identifier, as for get")->required();
  setValue->add_option("VALUE", value, "Text, numbers (1,2 or 1/250), hex bytes, or a date for conversions")
      ->required();
  addFiles(setValue, "Files to change");
  for (CLI::App* c : {setCmd, setValue}) {
    c->add_flag("--dry-run", set.dryRun, "Report what would change; write nothing");
    c->add_option("--backup", set.backup, "Keep the original as FILE + SUFFIX");
  }
  CLI::App* exif = Command(app, "exif", "Write the Exif JPEG's Exif block, changed, as an APP1 segment",
                           "qdparse exif IMG_0001.JPG -o new.jpg --jpeg --iso 400");
  addFiles(exif, "Files to read");
  addOutput(exif, "Where to write the segment");
  changeOptions(exif);
  exif->add_option("--thumbnail", set.thumbnail, "A JPEG to take the place of the thumbnail");
  exif->add_flag("--jpeg", set.wholeJpeg, "Write the whole JPEG with the new segment in place of the old");

  qdtool::IimOptions iimOptions;
  CLI::App* iim = Command(app, "iim", "IIM (IPTC) datasets: list, change in place, preserve, restore",
                          "qdparse iim IMG_0001.JPG --set 2:120=\"Harbour at dawn\"");
  iim->add_flag("--json", iimOptions.json, "One JSON object per file");
  iim->add_option("FILE", files, "Exif JPEGs or TIFFs");
  iim->add_option("--set", iimOptions.sets, "RECORD:DATASET=TEXT, e.g. 2:120=Caption (the stored length stays)");
  iim->add_option("--preserve", iimOptions.preserve.path,
                  "Write the datasets as a preserved block to this file (a folder for several files)");
  iim->add_flag("--force", iimOptions.preserve.force, "Replace an existing block file");
  iim->add_option("--restore", iimOptions.restore, "List the datasets of a preserved block");

  CLI::App* check = Command(app, "check", "Whether JPEG files are laid out as the cameras write them",
                            "qdparse check --json DCIM/*.JPG");
  check->add_flag("--json", json, "One JSON object per file, one per line");
  addFiles(check, "Files to check");

  qdtool::ScanOptions scanOptions;
  scanOptions.jobs = std::max(1u, std::thread::hardware_concurrency());
  std::string scanFormat = "jsonl";
  CLI::App* scan = Command(app, "scan", "Describe every file under folders, one record per file, sorted by path",
                           "qdparse scan --jobs 4 --format csv -o index.csv /photos");
  scan->add_option("PATH", files, "Folders (walked recursively) and files")->required();
  scan->add_option("-j,--jobs", scanOptions.jobs, "Files parsed at once (default: the number of cores)")
      ->check(CLI::Range(1u, 1024u));
  scan->add_option("--format", scanFormat, "jsonl: info --json objects; csv: fixed columns")
      ->check(CLI::IsMember({"jsonl", "csv"}));
  scan->add_option("--kinds", scanOptions.kinds, "Only these type keys (exif-jpeg, wave, ...; refused)")
      ->delimiter(',');
  scan->add_option("-o,--output", scanOptions.output, "Where to write the records (- for standard output)");
  scan->add_flag("--force", scanOptions.force, "Replace an existing output file");

  if (SuggestCommand(app, argc, argv)) return kUsage;
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e);
    return status == static_cast<int>(CLI::ExitCodes::Success) ? 0 : kUsage;
  }
  if (scan->parsed()) {
    scanOptions.csv = scanFormat == "csv";
    return qdtool::RunScan(files, scanOptions);
  }
  const std::string& target = !output.path.empty() ? output.path : iimOptions.preserve.path;
  if (files.size() > 1 && !target.empty() && !qdtool::IsDirectory(target)) {
    std::fprintf(stderr, "qdparse: with several files, -o names a folder to write into\n");
    return kUsage;
  }

  try {
    if (info->parsed()) return qdtool::RunInfo(files, json);
    if (type->parsed()) return qdtool::RunType(files, json);
    if (props->parsed()) return Each(files, [&](const std::string& f) { return qdtool::RunProps(f, json); });
    if (wav->parsed()) return Each(files, [&](const std::string& f) { return qdtool::RunWav(f, json); });
    if (get->parsed()) return Each(files, [&](const std::string& f) { return qdtool::RunGet(f, id, json); });
    if (makernote->parsed()) {
      return Each(files, [&](const std::string& f) { return qdtool::RunMakerNote(f, json); });
    }
    if (thumb->parsed()) {
      output.suffix = ".thumb";
      return Each(files, [&](const std::string& f) { return qdtool::RunThumb(f, output); });
    }
    if (heap->parsed()) {
      return Each(files, [&](const std::string& f) { return qdtool::RunHeap(f, output, developed); });
    }
    if (exif->parsed()) {
      output.suffix = ".exif";
      return Each(files, [&](const std::string& f) { return qdtool::RunExif(f, output, set); });
    }
    if (setCmd->parsed()) return Each(files, [&](const std::string& f) { return qdtool::RunSet(f, set); });
    if (setValue->parsed()) {
      return Each(files, [&](const std::string& f) { return qdtool::RunSetValue(f, id, value, set); });
    }
    if (iim->parsed()) {
      iimOptions.preserve.suffix = ".iim";
      if (files.empty()) return qdtool::RunIim("", iimOptions);
      return Each(files, [&](const std::string& f) { return qdtool::RunIim(f, iimOptions); });
    }
    if (check->parsed()) return qdtool::RunCheck(files, json);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qdparse: %s\n", e.what());
    return 1;
  }
  return kUsage;
}
