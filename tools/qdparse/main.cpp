// qdparse: reads camera files through the library, as a host application
// would, and prints what it reports.
//
//   qdparse info [--json] FILE...   file type, image, thumbnail, capture and shot descriptions
//   qdparse props [--json] FILE     the typed property records, decoded
//   qdparse thumb FILE -o OUT       the DCF thumbnail or the embedded JPEG
//   qdparse wav [--json] FILE       a WAVE sound memo
//   qdparse type [--json] FILE...   image format code, maker and model
//   qdparse get [--json] FILE ID    one property's value, by its 32-bit identifier
//   qdparse heap FILE -o OUT [--developed]   the file's heap object as a heap-file image
//   qdparse makernote [--json] FILE where the camera maker's maker note lies
//   qdparse set FILE [--orientation N] [--datetime T] [--comment C] [--exposure E]
//               [--fnumber F] [--iso N] [--dry-run] [--backup SUFFIX]
//                                   change properties in place
//   qdparse set-value FILE ID VALUE one property, by identifier, in place
//   qdparse exif FILE -o OUT [set options] [--thumbnail JPEG] [--jpeg]
//                                   the Exif block, changed, as an APP1 segment (or the JPEG with it)
//   qdparse check [--json] FILE...  whether JPEG files are laid out as the cameras write them
//
// Exit status: 0 done, 1 a file was refused, 2 bad usage.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "commands.h"

namespace {

constexpr int kUsage = 2;

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Reads the files a family of digital still cameras writes, through the qdparse library.",
               "qdparse"};
  app.require_subcommand(1);

  bool json = false;
  std::vector<std::string> files;
  std::string file;
  std::string output;

  CLI::App* info = app.add_subcommand("info", "Describe files: type, images, capture data, shot values");
  info->add_flag("--json", json, "One JSON object per file, one per line");
  info->add_option("FILE", files, "Files to describe")->required();

  CLI::App* props = app.add_subcommand("props", "Decode the typed property records of a file");
  props->add_flag("--json", json, "One JSON object");
  props->add_option("FILE", file, "File to read")->required();

  CLI::App* thumb = app.add_subcommand("thumb", "Write the DCF thumbnail or the embedded JPEG of a file");
  thumb->add_option("FILE", file, "File to read")->required();
  thumb->add_option("-o,--output", output, "Where to write the thumbnail")->required();

  CLI::App* wav = app.add_subcommand("wav", "Describe a WAVE sound memo");
  wav->add_flag("--json", json, "One JSON object");
  wav->add_option("FILE", file, "File to read")->required();

  CLI::App* type = app.add_subcommand("type", "Image format code, maker and model of files");
  type->add_flag("--json", json, "One JSON object per file, one per line");
  type->add_option("FILE", files, "Files to read")->required();

  uint32_t id = 0;
  CLI::App* get = app.add_subcommand("get", "One property's value, by identifier (e.g. 0x00001810)");
  get->add_flag("--json", json, "One JSON object");
  get->add_option("FILE", file, "File to read")->required();
  get->add_option("ID", id, "Record type or tag | field type << 16 | location << 20 | conversion << 24")
      ->required();

  bool developed = false;
  CLI::App* heap = app.add_subcommand("heap", "Write the file's heap object as a heap-file image");
  heap->add_option("FILE", file, "File to read")->required();
  heap->add_option("-o,--output", output, "Where to write it")->required();
  heap->add_flag("--developed", developed, "The heap object of the developed picture");

  CLI::App* makernote = app.add_subcommand("makernote", "Where the camera maker's maker note lies");
  makernote->add_flag("--json", json, "One JSON object");
  makernote->add_option("FILE", file, "File to read")->required();

  qdtool::SetOptions set;
  auto changeOptions = [&set](CLI::App* c) {
    c->add_option("--orientation", set.orientation, "Orientation 1 to 8, as Exif numbers it");
    c->add_option("--datetime", set.datetime, "Capture time \"YYYY:MM:DD HH:MM:SS\" (the camera's clock)");
    c->add_option("--comment", set.comment, "User comment (cut to the room the file has)");
    c->add_option("--exposure", set.exposure, "Exposure time, 1/250 or 0.5");
    c->add_option("--fnumber", set.fnumber, "F-number, 7.1");
    c->add_option("--iso", set.iso, "ISO speed");
  };
  CLI::App* setCmd = app.add_subcommand("set", "Change properties in place (values the file has; none added)");
  setCmd->add_option("FILE", file, "File to change")->required();
  changeOptions(setCmd);
  std::string value;
  CLI::App* setValue = app.add_subcommand("set-value", "Change one property in place, by identifier");
  setValue->add_option("FILE", file, "File to change")->required();
  setValue->add_option("ID", id, "Identifier, as for get")->required();
  setValue->add_option("VALUE", value, "Text, numbers (1,2 or 1/250), hex bytes, or a date for conversions")
      ->required();
  for (CLI::App* c : {setCmd, setValue}) {
    c->add_flag("--dry-run", set.dryRun, "Report what would change; write nothing");
    c->add_option("--backup", set.backup, "Keep the original as FILE + SUFFIX");
  }
  CLI::App* exif = app.add_subcommand("exif", "Write the Exif JPEG's Exif block, changed, as an APP1 segment");
  exif->add_option("FILE", file, "File to read")->required();
  exif->add_option("-o,--output", output, "Where to write the segment")->required();
  changeOptions(exif);
  exif->add_option("--thumbnail", set.thumbnail, "A JPEG to take the place of the thumbnail");
  exif->add_flag("--jpeg", set.wholeJpeg, "Write the whole JPEG with the new segment in place of the old");
  CLI::App* check = app.add_subcommand("check", "Whether JPEG files are laid out as the cameras write them");
  check->add_flag("--json", json, "One JSON object per file, one per line");
  check->add_option("FILE", files, "Files to check")->required();
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e);
    return status == static_cast<int>(CLI::ExitCodes::Success) ? 0 : kUsage;
  }

  try {
    if (info->parsed()) return qdtool::RunInfo(files, json);
    if (props->parsed()) return qdtool::RunProps(file, json);
    if (thumb->parsed()) return qdtool::RunThumb(file, output);
    if (wav->parsed()) return qdtool::RunWav(file, json);
    if (type->parsed()) return qdtool::RunType(files, json);
    if (get->parsed()) return qdtool::RunGet(file, id, json);
    if (heap->parsed()) return qdtool::RunHeap(file, output, developed);
    if (makernote->parsed()) return qdtool::RunMakerNote(file, json);
    if (setCmd->parsed()) return qdtool::RunSet(file, set);
    if (setValue->parsed()) return qdtool::RunSetValue(file, id, value, set);
    if (exif->parsed()) return qdtool::RunExif(file, output, set);
    if (check->parsed()) return qdtool::RunCheck(files, json);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qdparse: %s\n", e.what());
    return 1;
  }
  return kUsage;
}
