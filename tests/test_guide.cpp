// The demo and the user guide (docs/tools/) against the program they
// describe: the demo writes its scene's passes; every page lists its tool's
// inputs as the tool declares them, every picture and link it shows exists,
// and every `vexlan render` command it shows is a step of the demo, runs on
// the demo's passes, prints what the page says it prints and writes what the
// demo writes, byte for byte, on one thread where the demo used them all.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "testing/harness.h"
#include "testing/hostile.h"
#include "testing/program.h"

namespace fs = std::filesystem;

namespace {

const fs::path Guide = fs::path(VEXLAN_SOURCE_DIR) / "docs" / "tools";

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// The words of a command as a POSIX shell splits it: blanks separate words,
// single quotes keep everything, double quotes keep all but a backslash
// before $ ` " or \, and a backslash outside quotes keeps the next
// character. Nothing else of the shell belongs in a guide's command, so
// anything that would expand or redirect makes it unreadable here.
std::optional<std::vector<std::string>> ShellWords(const std::string& line) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == ' ' || c == '\t') {
      if (inWord) words.push_back(word), word.clear(), inWord = false;
    } else if (c == '\'') {
      const size_t end = line.find('\'', i + 1);
      if (end == std::string::npos) return std::nullopt;
      word += line.substr(i + 1, end - i - 1), i = end, inWord = true;
    } else if (c == '"') {
      for (++i; i < line.size() && line[i] != '"'; ++i) {
        if (line[i] == '\\' && i + 1 < line.size() && std::strchr("$`\"\\", line[i + 1]))
          ++i;
        else if (line[i] == '$' || line[i] == '`')
          return std::nullopt;
        word += line[i];
      }
      if (i == line.size()) return std::nullopt;
      inWord = true;
    } else if (c == '\\' && i + 1 < line.size()) {
      word += line[++i], inWord = true;
    } else if (std::strchr("$`|;&<>*?(){}~#", c) && !(c == '#' && inWord)) {
      return std::nullopt;
    } else {
      word += c, inWord = true;
    }
  }
  if (inWord) words.push_back(word);
  return words;
}

struct GuideCommand {
  std::string page;
  std::string text;                   // the lines it spans, joined
  std::optional<std::string> prints;  // the text block shown after it
};

// The commands of a page, as scripts/guide finds them: each line of a sh
// block that starts with "vexlan render", joined with the lines it runs on
// to; a text block right after a block of one command is what it prints.
std::vector<GuideCommand> CommandsOf(const fs::path& page) {
  std::vector<GuideCommand> found;
  std::string info, command, block;
  bool inBlock = false;
  size_t blockFirst = 0;      // the first command of the last sh block
  bool afterShBlock = false;  // only blank lines since a sh block closed
  for (const std::string& line : Lines(FileText(page))) {
    if (line.starts_with("```")) {
      if (!inBlock) {
        info = Trimmed(line.substr(3));
        inBlock = true, block.clear();
        if (info == "sh") blockFirst = found.size();
        continue;
      }
      inBlock = false;
      if (info == "text" && afterShBlock && found.size() == blockFirst + 1)
        found.back().prints = block;
      afterShBlock = info == "sh";
      continue;
    }
    if (!inBlock) {
      afterShBlock = afterShBlock && Trimmed(line).empty();
      continue;
    }
    block += line + "\n";
    if (info != "sh" || (command.empty() && !line.starts_with("vexlan render "))) continue;
    std::string part = Trimmed(line);
    const bool more = !part.empty() && part.back() == '\\';
    if (more) part = Trimmed(part.substr(0, part.size() - 1));
    command += (command.empty() ? "" : " ") + part;
    if (!more) found.push_back({page.filename().string(), command, std::nullopt}), command.clear();
  }
  return found;
}

std::vector<fs::path> Pages() {
  std::vector<fs::path> pages;
  for (const auto& entry : fs::directory_iterator(Guide))
    if (entry.path().extension() == ".md" && entry.path().filename() != "README.md")
      pages.push_back(entry.path());
  std::sort(pages.begin(), pages.end());
  return pages;
}

// A command without its program, in a form that ignores the order of its
// options: the tool, then each option with its value, sorted.
std::string Step(const std::vector<std::string>& words) {
  if (words.size() < 3 || words[0] != "vexlan" || words[1] != "render") return "";
  std::vector<std::string> options;
  for (size_t i = 3; i + 1 < words.size(); i += 2) options.push_back(words[i] + " " + words[i + 1]);
  if ((words.size() - 3) % 2 != 0) options.push_back(words.back());
  std::sort(options.begin(), options.end());
  std::string step = words[2];
  for (const std::string& option : options) step += " | " + option;
  return step;
}

std::string OutputOf(const std::vector<std::string>& words) {
  for (size_t i = 0; i + 1 < words.size(); ++i)
    if (words[i] == "--output") return words[i + 1];
  return "";
}

// A picture's width, or nothing when it is no PNG.
std::optional<int> PngWidth(const fs::path& path) {
  auto in = OIIO::ImageInput::open(path.string());
  if (!in || std::strcmp(in->format_name(), "png") != 0) return std::nullopt;
  return in->spec().width;
}

// The cells of the first table under "## Inputs", header and rule left out.
std::vector<std::vector<std::string>> InputRows(const fs::path& page) {
  std::vector<std::vector<std::string>> rows;
  bool inSection = false;
  for (const std::string& line : Lines(FileText(page))) {
    if (line.starts_with("## ")) inSection = line == "## Inputs";
    if (!inSection || !line.starts_with("|")) {
      if (!rows.empty()) break;
      continue;
    }
    std::vector<std::string> cells;
    std::istringstream in(line.substr(1));
    for (std::string cell; std::getline(in, cell, '|');) cells.push_back(Trimmed(cell));
    rows.push_back(cells);
  }
  rows.erase(rows.begin(), rows.begin() + std::min<size_t>(2, rows.size()));
  return rows;
}

// The text between the first pair of `mark`s, or the whole cell.
std::string Between(const std::string& cell, const std::string& mark) {
  const size_t first = cell.find(mark);
  const size_t last = first == std::string::npos ? first : cell.find(mark, first + mark.size());
  if (last == std::string::npos) return cell;
  return cell.substr(first + mark.size(), last - first - mark.size());
}

TEST(GuidePages, EachToolHasAPageListingItsInputsInPageOrder) {
  const std::string index = FileText(Guide / "README.md");
  for (const NamedTool& named : AllTools()) {
    const ToolRecord* rec = named.record;
    SCOPED_TRACE(rec->name);
    const fs::path page = Guide / (std::string(rec->name) + ".md");
    ASSERT_TRUE(fs::exists(page)) << "no page " << page;
    EXPECT_TRUE(Holds(index, std::string("(") + page.filename().string() + ")"));
    EXPECT_TRUE(Holds(FileText(page), std::string("Registry ID `") + rec->registryId + "`"));
    EXPECT_FALSE(CommandsOf(page).empty()) << "the page shows no command";

    ToolHarness tool(*rec);
    const auto& inputs = tool.Tool().Inputs();
    const auto rows = InputRows(page);
    ASSERT_EQ(rows.size(), inputs.size()) << "rows in the page's table of inputs";
    for (size_t i = 0; i < rows.size(); ++i) {
      const Input& in = *inputs[i];
      const std::vector<std::string>& row = rows[i];
      SCOPED_TRACE(in.ID().Text());
      ASSERT_GE(row.size(), 4u) << "ID, display name, default and what it does";
      EXPECT_EQ(Between(row[0], "`"), in.ID().Text());
      EXPECT_EQ(Between(row[1], "\""), in.Name().Text());
      const std::string& given = row[2];
      switch (in.Kind()) {
        case InputKind::Label:
        case InputKind::Image:
          EXPECT_EQ(given, "–") << "labels and images have no default";
          break;
        case InputKind::Choice:
          EXPECT_EQ(given, std::string("\"") + in.ChoiceValue().Text() + "\"");
          break;
        case InputKind::Number: {
          char* end = nullptr;
          const double value = std::strtod(given.c_str(), &end);
          EXPECT_TRUE(end != given.c_str() &&
                      (*end == '\0' || std::string_view(end).starts_with(" (")))
              << "not a number: " << given;
          EXPECT_EQ(value, in.NumberValue()) << "the default written as " << given;
          break;
        }
      }
    }
  }
}

TEST(GuidePages, EveryLinkAndPictureTheyShowIsThereAndPicturesAreSmall) {
  const std::regex link(R"((!?)\[[^\]]*\]\(([^)#]+)(#[^)]*)?\))");
  std::vector<fs::path> documents = Pages();
  documents.push_back(Guide / "README.md");
  documents.push_back(fs::path(VEXLAN_SOURCE_DIR) / "README.md");
  std::set<fs::path> shown;
  for (const fs::path& doc : documents) {
    SCOPED_TRACE(doc.string());
    const std::string text = FileText(doc);
    for (std::sregex_iterator it(text.begin(), text.end(), link), end; it != end; ++it) {
      const std::string target = (*it)[2];
      if (target.starts_with("http")) continue;
      const fs::path path = fs::weakly_canonical(doc.parent_path() / target);
      EXPECT_TRUE(fs::exists(path)) << "the link to " << target << " leads nowhere";
      if ((*it)[1] != "!" || !fs::exists(path)) continue;
      shown.insert(path);
      const auto width = PngWidth(path);
      ASSERT_TRUE(width) << target << " is not a PNG";
      const bool sheet = path.filename() == "contact_sheet.png";
      EXPECT_LE(*width, sheet ? 1300 : 400) << target << " is too wide";
      EXPECT_LE(fs::file_size(path), sheet ? 400'000u : 100'000u) << target << " is too large";
    }
  }
  // Each command's result is shown on its page.
  for (const fs::path& page : Pages())
    for (const GuideCommand& command : CommandsOf(page)) {
      const auto words = ShellWords(command.text);
      ASSERT_TRUE(words) << command.text;
      const fs::path picture = Guide / "img" / fs::path(OutputOf(*words)).replace_extension(".png");
      EXPECT_TRUE(shown.count(fs::weakly_canonical(picture)))
          << page.filename() << " does not show " << picture.filename();
    }
  // The README leads to the guide and shows the contact sheet.
  const std::string readme = FileText(fs::path(VEXLAN_SOURCE_DIR) / "README.md");
  for (const char* part :
       {"## User guide", "](docs/tools/)", "](docs/tools/img/contact_sheet.png)"})
    EXPECT_TRUE(Holds(readme, part));
}

TEST(Demo, WritesTheSceneAndItsStepsWhichTheGuideShowsAndWhichGiveTheSameBytesOnOneThread) {
  ScratchFolder scratch("vexlan-guide");
  const fs::path demo = scratch.Path() / "demo", results = scratch.Path() / "demo-results";
  const ProgramRun demoRun = RunProgram(Vexlan({"demo", "--out", demo.string()}), scratch.Path());
  ASSERT_EQ(demoRun.status, 0) << demoRun.out << demoRun.err;
  fs::copy(demo, results);  // kept aside: the guide's commands write into the demo's folder

  for (std::string pass : {"beauty", "depth", "position", "normal", "normal01", "uv", "motion",
                           "left", "right", "kernel", "texture", "zdevider"}) {
    EXPECT_TRUE(fs::exists(results / (pass + ".exr"))) << pass;
    EXPECT_TRUE(fs::exists(results / (pass + ".png"))) << pass;
  }
  // Depth in metres, one channel, from the near sphere to the far wall.
  const Written depth(results / "depth.exr");
  ASSERT_EQ(depth.Spec().channelnames, std::vector<std::string>{"Z"});
  const auto [low, high] = std::minmax_element(depth.pixels[0].begin(), depth.pixels[0].end());
  EXPECT_GT(*low, 2.5f);
  EXPECT_LT(*low, 4.0f);
  EXPECT_GT(*high, 35.0f);
  EXPECT_LE(*high, 40.5f);
  // The kernel is a disc: opaque in the middle, clear in the corners.
  const Written kernel(results / "kernel.exr");
  EXPECT_EQ(kernel.Spec().width, 9);
  EXPECT_EQ(kernel.At(4, 4, "A"), 1.0f);
  EXPECT_EQ(kernel.At(0, 0, "A"), 0.0f);
  const Written normal(results / "normal.exr");
  const float nx = normal.At(100, 300, "R"), ny = normal.At(100, 300, "G"),
              nz = normal.At(100, 300, "B");
  EXPECT_NEAR(nx * nx + ny * ny + nz * nz, 1.0f, 1e-4f);

  std::map<std::string, std::string> demoSteps;  // step -> its command
  for (const std::string& line : Lines(demoRun.out)) {
    if (!line.starts_with("vexlan render ")) continue;
    const auto words = ShellWords(line);
    ASSERT_TRUE(words) << line;
    demoSteps[Step(*words)] = line;
  }
  ASSERT_FALSE(demoSteps.empty()) << demoRun.out;

  std::set<std::string> shown;
  std::vector<GuideCommand> commands;
  std::vector<Args> runs;
  for (const fs::path& page : Pages())
    for (const GuideCommand& command : CommandsOf(page)) {
      SCOPED_TRACE(command.page + ": " + command.text);
      const auto words = ShellWords(command.text);
      ASSERT_TRUE(words) << "the shell would not take the command as it is written";
      const std::string step = Step(*words);
      EXPECT_TRUE(demoSteps.count(step)) << "not one of the demo's steps";
      EXPECT_TRUE(shown.insert(step).second) << "shown twice";
      // Run in the demo's folder, where the command's paths lead.
      Args args = {"/usr/bin/env", "-C", demo.string(), VEXLAN_BIN};
      args.insert(args.end(), words->begin() + 1, words->end());
      args.insert(args.end(), {"--threads", "1"});
      commands.push_back(command);
      runs.push_back(args);
    }
  for (const auto& [step, line] : demoSteps)
    EXPECT_TRUE(shown.count(step)) << "the demo step is not in the guide: " << line;

  const std::vector<ProgramRun> ran = RunPrograms(runs, scratch.Path());
  for (size_t i = 0; i < ran.size(); ++i) {
    SCOPED_TRACE(commands[i].page + ": " + commands[i].text);
    ASSERT_EQ(ran[i].status, 0) << ran[i].err;
    EXPECT_EQ(ran[i].err, "");
    EXPECT_EQ(ran[i].out, commands[i].prints.value_or("")) << "what the command prints";
    const std::string output = OutputOf(*ShellWords(commands[i].text));
    const std::string written = FileText(demo / output);
    EXPECT_FALSE(written.empty()) << output;
    EXPECT_TRUE(written == FileText(results / output))
        << output << " differs from what the demo wrote";
  }
}

}  // namespace
