// Runs a program to its end with its output captured, as a user's shell
// would: for the tests that drive vexlan from outside.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

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

// Runs args[0] with the arguments; its output goes through files in
// `scratch`, which must exist.
inline ProgramRun RunProgram(const std::vector<std::string>& args,
                             const std::filesystem::path& scratch) {
  const std::string outPath = (scratch / "program.out").string();
  const std::string errPath = (scratch / "program.err").string();
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&files, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&files, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  ProgramRun run;
  pid_t pid;
  if (posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), environ) != 0) {
    posix_spawn_file_actions_destroy(&files);
    run.err = "cannot start " + args[0];
    return run;
  }
  posix_spawn_file_actions_destroy(&files);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.peakKiB = usage.ru_maxrss;
  run.out = FileText(outPath);
  run.err = FileText(errPath);
  std::filesystem::remove(outPath);
  std::filesystem::remove(errPath);
  return run;
}

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
