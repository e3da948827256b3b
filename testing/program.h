// Programs run to their end with their output captured, as a user's shell
// would, and the image files they read and write: for the tests that drive
// vexlan from outside.
#pragma once

#include <OpenImageIO/imageio.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

// Sanitizer builds run everything several times slower, and the address
// checker holds freed memory back, so peaks are not comparable there.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool Sanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool Sanitized = true;
#else
constexpr bool Sanitized = false;
#endif
#else
constexpr bool Sanitized = false;
#endif

using Args = std::vector<std::string>;

// The arguments of `a`, then those of `b`.
inline Args operator+(Args a, const Args& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Whether `text` holds `part`; a failure shows the text.
inline testing::AssertionResult Holds(const std::string& text, const std::string& part) {
  if (text.find(part) != std::string::npos) return testing::AssertionSuccess();
  return testing::AssertionFailure() << "\"" << part << "\" is not in:\n" << text;
}

struct ProgramRun {
  int status = -1;  // the exit status, or 128 + the signal that ended it
  std::string out, err;
  long peakKiB = 0;  // the largest resident size it reached
};

inline std::string FileText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

inline std::set<std::string> FilesIn(const std::filesystem::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.insert(entry.path().filename());
  return names;
}

// Runs the commands several at a time (a program's start-up dominates a
// small render) and waits for all; output goes through files in `scratch`,
// which must exist. Sanitized programs take much more memory: fewer at once.
inline std::vector<ProgramRun> RunPrograms(const std::vector<Args>& commands,
                                           const std::filesystem::path& scratch) {
  auto capture = [&](size_t i, const char* stream) {
    return (scratch / (".run" + std::to_string(i) + "." + stream)).string();
  };
  const size_t atOnce = Sanitized ? 2 : 8;
  std::vector<ProgramRun> runs(commands.size());
  std::vector<pid_t> pids(commands.size(), -1);
  for (size_t first = 0; first < commands.size(); first += atOnce) {
    const size_t end = std::min(commands.size(), first + atOnce);
    for (size_t i = first; i < end; ++i) {
      posix_spawn_file_actions_t files;
      posix_spawn_file_actions_init(&files);
      posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
      posix_spawn_file_actions_addopen(&files, 1, capture(i, "out").c_str(),
                                       O_WRONLY | O_CREAT | O_TRUNC, 0644);
      posix_spawn_file_actions_addopen(&files, 2, capture(i, "err").c_str(),
                                       O_WRONLY | O_CREAT | O_TRUNC, 0644);
      std::vector<char*> argv;
      for (const std::string& arg : commands[i]) argv.push_back(const_cast<char*>(arg.c_str()));
      argv.push_back(nullptr);
      if (posix_spawn(&pids[i], argv[0], &files, nullptr, argv.data(), environ) != 0) {
        pids[i] = -1;
        runs[i].err = "cannot start " + commands[i][0];
      }
      posix_spawn_file_actions_destroy(&files);
    }
    for (size_t i = first; i < end; ++i) {
      if (pids[i] < 0) continue;
      int status = 0;
      rusage usage{};
      wait4(pids[i], &status, 0, &usage);
      runs[i].status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      runs[i].peakKiB = usage.ru_maxrss;
      runs[i].out = FileText(capture(i, "out"));
      runs[i].err = FileText(capture(i, "err"));
      std::filesystem::remove(capture(i, "out"));
      std::filesystem::remove(capture(i, "err"));
    }
  }
  return runs;
}

inline ProgramRun RunProgram(const Args& args, const std::filesystem::path& scratch) {
  return RunPrograms({args}, scratch).front();
}

#ifdef VEXLAN_BIN
// A vexlan command line with the module of this build.
inline Args Vexlan(const Args& args) {
  return Args{VEXLAN_BIN, "--plugin", VEXLAN_PLUGIN_PATH} + args;
}
#endif

// A fresh folder under the system's temporary folder, removed with its
// content when the object goes.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& stem) {
    std::string pattern = (std::filesystem::temp_directory_path() / (stem + "-XXXXXX")).string();
    path_ = mkdtemp(pattern.data());
  }
  ~ScratchFolder() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// Plain float pixels with named channels, to be written to a file.
struct Picture {
  int width = 0, height = 0;
  std::vector<std::string> channels;
  std::vector<float> pixels;
};

// A w x h RGBA picture of values in 0 .. 1 that repeat every `period`.
inline Picture PatternPicture(int w, int h, int period = 7) {
  Picture pic{w, h, {"R", "G", "B", "A"}, std::vector<float>(size_t(w) * h * 4)};
  for (size_t i = 0; i < pic.pixels.size(); ++i)
    pic.pixels[i] = static_cast<float>(i % period) / period;
  return pic;
}

inline void WriteExr(const std::filesystem::path& path, const Picture& pic) {
  auto out = OIIO::ImageOutput::create(path.string());
  ASSERT_TRUE(out);
  OIIO::ImageSpec spec(pic.width, pic.height, static_cast<int>(pic.channels.size()),
                       OIIO::TypeDesc::FLOAT);
  spec.channelnames = pic.channels;
  ASSERT_TRUE(out->open(path.string(), spec)) << out->geterror();
  ASSERT_TRUE(out->write_image(OIIO::TypeDesc::FLOAT, pic.pixels.data())) << out->geterror();
  ASSERT_TRUE(out->close());
}

// What an image file holds, read back as floats: every part's header and
// pixels.
struct Written {
  std::vector<OIIO::ImageSpec> specs;
  std::vector<std::vector<float>> pixels;

  explicit Written(const std::filesystem::path& path) {
    auto in = OIIO::ImageInput::open(path.string());
    if (!in) ADD_FAILURE() << "cannot open " << path << ": " << OIIO::geterror();
    for (int s = 0; in && in->seek_subimage(s, 0); ++s) {
      specs.push_back(in->spec());
      pixels.emplace_back(in->spec().image_pixels() * in->spec().nchannels);
      EXPECT_TRUE(in->read_image(s, 0, 0, in->spec().nchannels, OIIO::TypeDesc::FLOAT,
                                 pixels.back().data()));
    }
  }
  const OIIO::ImageSpec& Spec(int part = 0) const { return specs.at(part); }
  // The channel at an absolute pixel of the part's data window.
  float At(int64_t x, int64_t y, const std::string& channel, int part = 0) const {
    const OIIO::ImageSpec& s = Spec(part);
    const auto c = std::find(s.channelnames.begin(), s.channelnames.end(), channel);
    if (c == s.channelnames.end() || x < s.x || y < s.y || x >= s.x + s.width ||
        y >= s.y + s.height) {
      ADD_FAILURE() << "no " << channel << " at " << x << ", " << y;
      return NAN;
    }
    return pixels[part][size_t(((y - s.y) * s.width + (x - s.x)) * s.nchannels +
                               (c - s.channelnames.begin()))];
  }
};
