// Runs fuzz inputs through a tool without the fuzzer: the committed corpus of
// every tool is replayed as a test in every build, sanitizers or not.
//
//   fuzz_replay TOOL PATH...       TOOL is a class name ("DirtyDof"); a PATH
//                                  that is a folder stands for every file in it.
//   fuzz_replay --write-seeds DIR  writes the seed corpus of every tool into
//                                  DIR/<Tool>/.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "testing/hostile.h"

namespace fs = std::filesystem;

namespace {

bool Replay(const ToolRecord& rec, const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "fuzz_replay: cannot read %s\n", file.c_str());
    return false;
  }
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
  FuzzTool(rec, bytes.data(), bytes.size());
  return true;
}

// Seeds, written in the byte language of FuzzTool: one for the defaults, one
// per kind of hostile number (set on every number input at once), one per
// kind of hostile image (every image input alike) and one per option.
struct Seed {
  std::string name;
  uint8_t numberPick = 0;    // 0 keeps each default
  int optionPick = -1;       // -1 keeps each default, past the options: ""
  uint8_t how = 2;           // 0 unconnected when optional, 1 the first image again, 2 new
  uint8_t side[2] = {6, 6};  // indexes into the sides table: 4 x 4
  uint8_t further = 0, mode = 1, constant = 0;
  bool secondDiffers = false;  // the second new image is 3 x 5
};

std::vector<uint8_t> SeedBytes(const Operator& tool, const Seed& seed) {
  std::vector<uint8_t> bytes;
  int imageCount = 0;
  for (const auto& input : tool.Inputs()) {
    switch (input->Kind()) {
      case InputKind::Number:
        if (!input->IsComputedField()) bytes.push_back(seed.numberPick);
        break;
      case InputKind::Choice: {
        const size_t options = input->Options().size();
        bytes.push_back(static_cast<uint8_t>(
            seed.optionPick < 0 ? options : std::min<size_t>(seed.optionPick, options + 1)));
        break;
      }
      case InputKind::Image: {
        const bool again = seed.how == 1 && imageCount > 0;
        bytes.push_back(again ? 1 : (seed.how == 1 ? 2 : seed.how));
        if (again) {
          bytes.push_back(0);
        } else if (seed.how != 0 || input->IsRequired()) {
          const bool other = seed.secondDiffers && imageCount == 1;
          bytes.insert(bytes.end(),
                       {other ? uint8_t(5) : seed.side[0], other ? uint8_t(7) : seed.side[1],
                        seed.further, seed.mode, seed.constant, 255, 0});
        }
        ++imageCount;
        break;
      }
      case InputKind::Label:
        break;
    }
  }
  bytes.push_back(1);  // the second render on two workers
  return bytes;
}

std::vector<Seed> Seeds() {
  std::vector<Seed> seeds = {{.name = "defaults"}};
  const std::pair<const char*, uint8_t> numbers[] = {
      {"nan", 1},        {"inf", 3},   {"minus-inf", 4}, {"huge", 5},       {"zero", 9},
      {"minus-one", 12}, {"tiny", 15}, {"int-edge", 18}, {"past-slider", 0}};
  for (const auto& [name, pick] : numbers) {
    Seed seed{.name = std::string("numbers-") + name, .numberPick = pick};
    // Past the table: the slider's high end times a thousand.
    if (seed.numberPick == 0) seed.numberPick = static_cast<uint8_t>(HostileNumbers().size() + 2);
    seeds.push_back(seed);
  }
  seeds.push_back({.name = "image-empty", .side = {0, 0}});
  seeds.push_back({.name = "image-no-rows", .side = {6, 0}});
  seeds.push_back({.name = "image-no-columns", .side = {0, 6}});
  seeds.push_back({.name = "image-one-pixel", .side = {1, 1}});
  seeds.push_back({.name = "image-wide", .side = {15, 6}});
  seeds.push_back({.name = "image-nan", .mode = 0, .constant = 6});
  seeds.push_back({.name = "image-inf", .mode = 0, .constant = 8});
  seeds.push_back({.name = "image-huge", .mode = 0, .constant = 10});
  seeds.push_back({.name = "image-further-channels", .further = 2});
  seeds.push_back({.name = "images-of-two-sizes", .secondDiffers = true});
  seeds.push_back({.name = "images-aliased", .how = 1});
  seeds.push_back({.name = "images-unconnected", .how = 0});
  for (int option = 0; option < 4; ++option)
    seeds.push_back({.name = "option-" + std::to_string(option), .optionPick = option});
  seeds.push_back({.name = "option-none", .optionPick = 99});
  return seeds;
}

bool WriteSeeds(const fs::path& folder) {
  for (const NamedTool& named : AllTools()) {
    RegistryList list;
    Registry registry(&list, TextID(named.record->registryId),
                      RegistrationTags(*named.record, nullptr, nullptr));
    Operator* tool = registry.Create();
    const fs::path dir = folder / named.className;
    fs::create_directories(dir);
    std::vector<std::vector<uint8_t>> written;
    for (const Seed& seed : Seeds()) {
      const std::vector<uint8_t> bytes = SeedBytes(*tool, seed);
      // Tools without choices, or with fewer options, make some seeds twins.
      if (std::find(written.begin(), written.end(), bytes) != written.end()) continue;
      written.push_back(bytes);
      std::ofstream out(dir / seed.name, std::ios::binary);
      out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
      if (!out) {
        std::fprintf(stderr, "fuzz_replay: cannot write %s\n", (dir / seed.name).c_str());
        tool->Recycle();
        return false;
      }
    }
    tool->Recycle();
    std::printf("%s: %zu seeds\n", named.className, written.size());
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string_view(argv[1]) == "--write-seeds") return WriteSeeds(argv[2]) ? 0 : 1;
  if (argc < 3) {
    std::fprintf(stderr, "usage: fuzz_replay TOOL PATH...\n");
    return 2;
  }
  const ToolRecord* rec = ToolRecordByClass(argv[1]);
  if (!rec) {
    std::fprintf(stderr, "fuzz_replay: no tool %s; the tools:", argv[1]);
    for (const NamedTool& tool : AllTools()) std::fprintf(stderr, " %s", tool.className);
    std::fprintf(stderr, "\n");
    return 2;
  }
  std::vector<fs::path> files;
  for (int i = 2; i < argc; ++i) {
    const fs::path path = argv[i];
    if (fs::is_directory(path)) {
      for (const auto& entry : fs::directory_iterator(path))
        if (entry.is_regular_file()) files.push_back(entry.path());
    } else {
      files.push_back(path);
    }
  }
  std::sort(files.begin(), files.end());
  if (files.empty()) {
    std::fprintf(stderr, "fuzz_replay: no inputs to replay\n");
    return 1;
  }
  for (const fs::path& file : files)
    if (!Replay(*rec, file)) return 1;
  std::printf("%s: %zu inputs replayed\n", argv[1], files.size());
  return 0;
}
