#include "cli/farm.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <regex>

#include "cli/errors.h"
#include "cli/files/image_io.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

// Chunks of one job; a longer sequence wants a larger --chunk.
constexpr size_t MaxTasks = 100000;

// The memory figure of a task: what the program takes before its first
// image (the program, the module and the image library), and how much each
// frame in flight takes for every byte the render estimates it holds (the
// image library's buffers of reading and writing besides).
// docs/PERFORMANCE.md says how they were measured.
constexpr double BaseMiB = 160;
constexpr double BytesPerFrameByte = 1.5;

// 'text' for bash, whatever it holds.
std::string ShellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// A path for an #SBATCH line, in double quotes: sbatch splits those lines
// at blanks and takes '#' for the start of a comment outside quotes, and
// a backslash escapes '"' and '\\' inside them. A line break cannot be
// written there.
std::string SbatchPath(const std::string& path) {
  if (path.find_first_of("\n\r") != std::string::npos)
    throw RunError("cannot name " + path + " in a job script: it holds a line break");
  std::string quoted = "\"";
  for (char c : path) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

int64_t FrameCount(const std::vector<FrameRange>& runs) {
  int64_t count = 0;
  for (const FrameRange& run : runs) count += int64_t(run.last) - run.first + 1;
  return count;
}

// Values that go into #SBATCH lines as they are: Slurm's own forms only,
// nothing the script could take for more than one word.
void CheckSlurmValue(const std::string& option, const std::string& value, const std::regex& form,
                     const std::string& valid) {
  if (!value.empty() && !std::regex_match(value, form))
    throw UsageError(option + " " + value + ": expected " + valid);
}

void CheckOptions(const FarmOptions& o, const RenderCommand& render) {
  if (o.chunk < 1)
    throw UsageError("--chunk " + std::to_string(o.chunk) + ": expected 1 or more frames a task");
  if (o.cpusPerTask < 1)
    throw UsageError("--cpus-per-task " + std::to_string(o.cpusPerTask) + ": expected 1 or more");
  if (o.maxRunning < 0)
    throw UsageError("--max-running " + std::to_string(o.maxRunning) +
                     ": expected 0 (no limit) or more");
  if (o.retries < 0)
    throw UsageError("--retries " + std::to_string(o.retries) + ": expected 0 or more");
  if (o.resubmit && !o.check)
    throw UsageError("--resubmit goes with --check: it submits the frames --check finds missing");
  if (render.threads)
    throw UsageError(
        "--threads: a farm task renders on the cores the scheduler gives it; ask for "
        "them with --cpus-per-task N");
  CheckSlurmValue("--mem", o.mem, std::regex("[0-9]+[KMGT]?"),
                  "a whole number of megabytes, or one with K, M, G or T (such as 4G)");
  CheckSlurmValue("--time", o.time,
                  std::regex("[0-9]+(:[0-9]+){0,2}|[0-9]+-[0-9]+(:[0-9]+){0,2}|UNLIMITED|INFINITE"),
                  "minutes, MM:SS, HH:MM:SS, D-HH, D-HH:MM or D-HH:MM:SS (such as 2:00:00)");
  CheckSlurmValue("--partition", o.partition, std::regex("[A-Za-z0-9_.-]+(,[A-Za-z0-9_.-]+)*"),
                  "partition names (letters, digits, '_', '.', '-'), separated by commas");
  CheckSlurmValue("--job-name", o.jobName, std::regex("[A-Za-z0-9_.+-]+"),
                  "letters, digits, '_', '.', '+' and '-'");
}

// "vexlan-shot_oof" for shot_oof.####.exr: the output's name up to its frame
// number or extension.
std::string DefaultJobName(const std::string& outputPattern, const std::string& tool) {
  std::string stem = fs::path(outputPattern).filename().string();
  stem = stem.substr(0, stem.find_first_of("#."));
  std::string name = "vexlan-";
  for (char c : stem.empty() ? tool : stem)
    name += std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' ? c : '_';
  while (!name.empty() && (name.back() == '_' || name.back() == '-')) name.pop_back();
  return name;
}

// What a task asks for: the program, the module and the image library, and
// for each frame in flight what the render estimates one frame takes, from
// the headers of the first frame's files, with room for the image library's
// own buffers.
std::string EstimatedMemory(const RenderPlan& plan, int firstFrame, int inFlight,
                            std::ostream& err) {
  double frameBytes = 0;
  try {
    frameBytes = FrameBytes(OpenFrameFiles(plan, firstFrame));
  } catch (const CliError& e) {
    throw RunError(std::string(e.what()) +
                   "\n(the memory a task asks for is estimated from the first frame's images; "
                   "give it with --mem to submit without them)");
  }
  const double perFrame = BytesPerFrameByte * frameBytes / (1 << 20);
  const auto mib = int64_t(std::ceil(BaseMiB + inFlight * perFrame));
  err << "vexlan: --mem " << mib << "M a task: " << inFlight << " frame"
      << (inFlight == 1 ? "" : "s") << " in flight of " << std::llround(perFrame)
      << " MiB each and " << std::llround(BaseMiB) << " MiB for the program\n";
  return std::to_string(mib) + "M";
}

// Writes the text into a temporary file beside the path and renames it
// over the path when complete.
void WriteAtomically(const std::string& path, const std::string& text) {
  std::string temp = path + ".XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) throw RunError("cannot write " + path + ": " + std::strerror(errno));
  bool written = fchmod(fd, 0755) == 0;
  for (size_t done = 0; written && done < text.size();) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    written = n > 0;
    if (written) done += size_t(n);
  }
  const int error = errno;
  if (close(fd) != 0 && written) written = false;
  if (!written || rename(temp.c_str(), path.c_str()) != 0) {
    const int why = written ? errno : error;
    unlink(temp.c_str());
    throw RunError("cannot write " + path + ": " + std::strerror(why));
  }
}

// Runs sbatch on the script and returns the job ID it printed.
std::string Submit(const std::string& script) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) throw RunError(std::string("cannot run sbatch: ") + std::strerror(errno));
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_adddup2(&files, pipeFds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&files, pipeFds[0]);
  posix_spawn_file_actions_addclose(&files, pipeFds[1]);
  std::vector<std::string> args = {"sbatch", "--parsable", script};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = posix_spawnp(&pid, "sbatch", &files, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&files);
  close(pipeFds[1]);
  if (spawned != 0) {
    close(pipeFds[0]);
    throw RunError("cannot run sbatch: " + std::string(std::strerror(spawned)) +
                   " (it is looked for on PATH; --dry-run prints the job script instead)");
  }
  std::string printed;
  char buffer[512];
  for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    printed.append(buffer, size_t(n));
  }
  close(pipeFds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw RunError("sbatch did not take the job " + script + " (see its message above)");
  // "ID" or "ID;CLUSTER"
  const std::string id = Trimmed(printed.substr(0, printed.find_first_of(";\n")));
  if (id.empty()) throw RunError("sbatch printed no job ID for " + script);
  return id;
}

// The frames among the runs whose outputs are not there, as runs.
std::vector<FrameRange> MissingRuns(const std::vector<FrameRange>& runs,
                                    const std::string& outputPattern) {
  std::vector<FrameRange> missing;
  for (const FrameRange& run : runs)
    for (int64_t frame = run.first; frame <= run.last; ++frame) {
      std::error_code ec;
      if (fs::exists(FramePath(outputPattern, int(frame)), ec)) continue;
      if (!missing.empty() && int64_t(missing.back().last) + 1 == frame)
        missing.back().last = int(frame);
      else
        missing.push_back({int(frame), int(frame)});
    }
  return missing;
}

}  // namespace

CLI::App* AddFarmCommand(CLI::App& app, FarmOptions& o) {
  CLI::App* farm = app.add_subcommand(
      "farm",
      "Renders a sequence on a Slurm cluster: one array task per chunk of frames, each running "
      "vexlan render (takes the tool and every option of vexlan render)");
  // Unknown options are the render command's; they are not the program's.
  farm->allow_extras();
  farm->fallthrough(false);
  farm->footer(
      "TOOL, --input, --set, --output and every other option are those of vexlan render; "
      "they are checked as vexlan render checks them before anything is submitted.");
  farm->add_option("--frames", o.frames,
                   "Frames to render: A-B, or runs such as \"1001-1010, 1050\" as --check "
                   "prints them")
      ->required();
  farm->add_option("--chunk", o.chunk, "Frames a task renders, one after another (default 10)");
  farm->add_option("--partition", o.partition, "Slurm partition (default: the cluster's)");
  farm->add_option("--time", o.time,
                   "Time limit of a task, such as 2:00:00 (default: the partition's)");
  farm->add_option("--mem", o.mem,
                   "Memory of a task, such as 4G (default: estimated from the first frame's "
                   "images and the frames in flight)");
  farm->add_option("--cpus-per-task", o.cpusPerTask,
                   "Cores of a task: its render threads and frames in flight (default 1)");
  farm->add_option("--max-running", o.maxRunning,
                   "Tasks running at once at most (default 0: as many as the cluster runs)");
  farm->add_option("--retries", o.retries,
                   "Times a task is run again when a frame failed or it was killed (default 2)");
  farm->add_option("--job-name", o.jobName, "Job name (default: vexlan- and the output's name)");
  farm->add_option("--log-dir", o.logDir,
                   "Folder of the job script and the task logs (default: vexlan-farm beside "
                   "the output)");
  farm->add_flag("--keep-going")
      ->description("Taken for vexlan render's sake: every task keeps going");
  farm->add_flag("--dry-run", o.dryRun, "Print the job script and submit nothing");
  farm->add_flag("--check", o.check,
                 "List the frames whose outputs are missing, as runs on one line (exit status 1 "
                 "when any are)");
  farm->add_flag("--resubmit", o.resubmit,
                 "With --check: submit a job for the missing frames alone");
  return farm;
}

std::vector<FrameRange> ChunksOf(const std::vector<FrameRange>& runs, int chunk) {
  std::vector<FrameRange> chunks;
  for (const FrameRange& run : runs)
    for (int64_t first = run.first; first <= run.last; first += chunk) {
      if (chunks.size() == MaxTasks)
        throw UsageError("--chunk " + std::to_string(chunk) + ": " +
                         std::to_string(FrameCount(runs)) + " frames make more than " +
                         std::to_string(MaxTasks) + " tasks; give each task more frames");
      chunks.push_back({int(first), int(std::min<int64_t>(run.last, first + chunk - 1))});
    }
  return chunks;
}

int ParseRenderHalf(CLI::App& program, const std::vector<std::string>& renderArgs,
                    const FarmOptions& options, std::ostream& err) {
  try {
    const std::vector<FrameRange> runs = ParseFrameRuns(options.frames);
    // CLI11 takes the arguments last first.
    std::vector<std::string> args = {RangeText({runs.front().first, runs.back().last}), "--frames"};
    args.insert(args.end(), renderArgs.rbegin(), renderArgs.rend());
    args.push_back("render");
    program.parse(args);
    return ExitOk;
  } catch (const CliError& e) {
    err << "vexlan: " << e.what() << "\n";
    return e.Status();
  } catch (const CLI::ParseError& e) {
    err << "vexlan farm: " << e.what() << "\n(the tool and the options that are not the farm's "
        << "are those of vexlan render: vexlan render --help lists them)\n";
    return ExitUsage;
  }
}

std::string JobScript(const FarmJob& job) {
  std::string s = "#!/bin/bash\n";
  s += "# Written by vexlan farm: " + std::to_string(job.chunks.size()) +
       " array tasks, each rendering its frames with vexlan render.\n";
  s += "#SBATCH --job-name=" + job.jobName + "\n";
  s += "#SBATCH --array=0-" + std::to_string(job.chunks.size() - 1) +
       (job.maxRunning > 0 ? "%" + std::to_string(job.maxRunning) : "") + "\n";
  s += "#SBATCH --cpus-per-task=" + std::to_string(job.cpusPerTask) + "\n";
  s += "#SBATCH --mem=" + job.mem + "\n";
  if (!job.time.empty()) s += "#SBATCH --time=" + job.time + "\n";
  if (!job.partition.empty()) s += "#SBATCH --partition=" + job.partition + "\n";
  s += "#SBATCH --chdir=" + SbatchPath(job.workDir) + "\n";
  s += "#SBATCH --output=" + SbatchPath(job.logPattern) + "\n";
  // A task run again adds to its log; the scheduler may requeue a task whose
  // machine went down.
  s += "#SBATCH --open-mode=append\n";
  s += "#SBATCH --requeue\n";
  s += "set -u\n";
  s += ": \"${SLURM_ARRAY_TASK_ID:?submit this script with sbatch}\"\n";
  s += "chunks=(";
  for (size_t i = 0; i < job.chunks.size(); ++i)
    s += (i % 10 == 0 && i > 0 ? "\n  " : i > 0 ? " " : "") + RangeText(job.chunks[i]);
  s += ")\n";
  s += "frames=${chunks[$SLURM_ARRAY_TASK_ID]}\n";
  s += "try=$((${SLURM_RESTART_COUNT:-0} + 1))\n";
  s += "echo \"vexlan farm: frames $frames, try $try of " + std::to_string(job.retries + 1) +
       ", on $(hostname) at $(date '+%F %T.%N')\"\n";
  s += ShellQuoted(job.vexlan) + " --plugin " + ShellQuoted(job.module) + " render";
  for (const std::string& arg : job.renderArgs) s += " " + ShellQuoted(arg);
  s += " \\\n    --frames \"$frames\" --keep-going --threads \"${SLURM_CPUS_PER_TASK:-1}\"\n";
  s += "status=$?\n";
  s += "echo \"vexlan farm: frames $frames ended with exit status $status at $(date '+%F "
       "%T.%N')\"\n";
  // 1: a frame failed; above 128: the render was killed. Either may go
  // better on another run or machine; a bad command (2) would not.
  s += "if [ \"$status\" -ne 0 ] && [ \"$status\" -ne 2 ] && [ \"$try\" -le " +
       std::to_string(job.retries) + " ]; then\n";
  s += "  echo \"vexlan farm: asking the scheduler to run frames $frames again\"\n";
  // The task by its array name: the job ID of the task that runs last is
  // the array's own, and requeueing that would requeue every task.
  s += "  scontrol requeue \"${SLURM_ARRAY_JOB_ID}_${SLURM_ARRAY_TASK_ID}\"\n";
  s += "fi\n";
  s += "exit \"$status\"\n";
  return s;
}

int RunFarm(const FarmOptions& options, const RenderCommand& render,
            const std::vector<std::string>& renderArgs, const std::string& module,
            std::ostream& out, std::ostream& err) {
  try {
    CheckOptions(options, render);
    const RenderPlan plan = PlanRender(render);
    std::vector<FrameRange> runs = ParseFrameRuns(options.frames);

    if (options.check) {
      const std::vector<FrameRange> missing = MissingRuns(runs, plan.outputPattern);
      const int64_t total = FrameCount(runs), absent = FrameCount(missing);
      if (missing.empty()) {
        err << "vexlan: every output of the " << total << " frames is there\n";
        return ExitOk;
      }
      out << FrameRunsText(missing) << "\n";
      out.flush();
      err << "vexlan: " << absent << " of " << total << " outputs missing\n";
      if (!options.resubmit) return ExitFailed;
      runs = missing;
    }

    CheckOutputPath(FramePath(plan.outputPattern, runs.front().first));
    FarmJob job;
    job.chunks = ChunksOf(runs, options.chunk);
    std::error_code ec;
    job.vexlan = fs::read_symlink("/proc/self/exe", ec).string();
    if (ec) throw RunError("cannot tell where this program is: " + ec.message());
    job.module = fs::absolute(module).lexically_normal().string();
    // The program's own --plugin, given after the command, makes way for the
    // module's absolute path.
    for (size_t i = 0; i < renderArgs.size(); ++i) {
      if (renderArgs[i] == "--plugin")
        ++i;
      else if (renderArgs[i].rfind("--plugin=", 0) != 0)
        job.renderArgs.push_back(renderArgs[i]);
    }
    job.workDir = fs::current_path().string();
    job.jobName =
        options.jobName.empty() ? DefaultJobName(plan.outputPattern, render.tool) : options.jobName;
    const fs::path logDir =
        fs::absolute(options.logDir.empty()
                         ? fs::absolute(plan.outputPattern).parent_path() / "vexlan-farm"
                         : fs::path(options.logDir))
            .lexically_normal();
    // Slurm reads %A and %a in the log's name as the job and the task; a '%'
    // of the folder is written twice.
    std::string logFolder;
    for (char c : logDir.string()) logFolder += c == '%' ? "%%" : std::string(1, c);
    job.logPattern = logFolder + "/" + job.jobName + "_%A_%a.log";
    job.partition = options.partition;
    job.time = options.time;
    job.cpusPerTask = options.cpusPerTask;
    job.maxRunning = options.maxRunning;
    job.retries = options.retries;
    const int inFlight = int(std::min<int64_t>(options.cpusPerTask, options.chunk));
    job.mem = options.mem.empty() ? EstimatedMemory(plan, runs.front().first, inFlight, err)
                                  : options.mem;
    const std::string script = JobScript(job);
    if (options.dryRun) {
      out << script;
      return ExitOk;
    }

    fs::create_directories(logDir, ec);
    if (ec) throw RunError("cannot make the folder " + logDir.string() + ": " + ec.message());
    const std::string scriptPath = (logDir / (job.jobName + ".sh")).string();
    WriteAtomically(scriptPath, script);
    const std::string id = Submit(scriptPath);
    out << id << "\n";
    out.flush();
    err << "vexlan: job " << id << ": frames " << FrameRunsText(runs) << " in " << job.chunks.size()
        << " task" << (job.chunks.size() == 1 ? "" : "s") << " of up to " << options.chunk
        << " frames; script and logs in " << logDir.string() << "\n";
    return ExitOk;
  } catch (const CliError& e) {
    err << "vexlan: " << e.what() << "\n";
    return e.Status();
  } catch (const std::exception& e) {
    err << "vexlan: " << e.what() << "\n";
    return ExitFailed;
  }
}
