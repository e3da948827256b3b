// `vexlan farm`: a sequence rendered on a Slurm cluster as a job array.
//
// The command line is a render command line (tool, --input, --set, --output
// and every other option of `vexlan render`) with the farm's own options.
// The frames are cut into chunks of consecutive frames, one array task per
// chunk; each task runs `vexlan render` on its chunk with --keep-going and
// as many threads as the scheduler gave it, and asks the scheduler to run
// it again (up to --retries times) when a frame failed or it was killed.
// `--check` lists the frames whose outputs are missing; `--check
// --resubmit` submits a job for those frames alone.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/render.h"

namespace CLI {
class App;
}

struct FarmOptions {
  std::string frames;     // "A-B", or runs "A-B, C, D-E" as --check prints them
  int chunk = 10;         // frames per array task
  std::string partition;  // empty: the cluster's default
  std::string time;       // per task, in Slurm's forms; empty: the partition's default
  std::string mem;        // per task, in Slurm's forms; empty: estimated
  int cpusPerTask = 1;    // the task's threads
  int maxRunning = 0;     // tasks running at once; 0: no limit
  int retries = 2;        // runs of a failed task after the first
  std::string jobName;    // empty: vexlan- and the output's name
  std::string logDir;     // empty: vexlan-farm beside the output
  bool dryRun = false;    // print the job script, submit nothing
  bool check = false;     // list the frames whose outputs are missing
  bool resubmit = false;  // with check: submit those frames
};

// The farm command and its own options. Whatever else its command line
// holds is left for the render command (CLI::App::remaining()).
CLI::App* AddFarmCommand(CLI::App& app, FarmOptions& options);

// The runs cut into chunks of at most `chunk` consecutive frames, in order;
// a chunk never spans two runs.
std::vector<FrameRange> ChunksOf(const std::vector<FrameRange>& runs, int chunk);

// The render half of a farm command, parsed again by the program's render
// command so that it is taken (and refused) exactly as `vexlan render`
// would: `program` is the whole program's parser, `renderArgs` what the
// farm command left, in order. The render command is given the frame span
// of the farm's --frames. Returns the exit status: 0 when it parsed, else
// 2 after the message.
int ParseRenderHalf(CLI::App& program, const std::vector<std::string>& renderArgs,
                    const FarmOptions& options, std::ostream& err);

// Everything a job script holds.
struct FarmJob {
  std::string vexlan;                   // absolute path of the program
  std::string module;                   // absolute path of the module
  std::vector<std::string> renderArgs;  // the render command's arguments
  std::vector<FrameRange> chunks;       // one array task each
  std::string workDir;                  // the tasks' working folder
  std::string logPattern;               // Slurm's --output, %A and %a in it
  std::string jobName, partition, time, mem;
  int cpusPerTask = 1;
  int maxRunning = 0;
  int retries = 2;
};
std::string JobScript(const FarmJob& job);

// The whole command, after the module is loaded: `render` is the render
// half as ParseRenderHalf left it, `module` the module the program loaded.
// Returns the exit status.
int RunFarm(const FarmOptions& options, const RenderCommand& render,
            const std::vector<std::string>& renderArgs, const std::string& module,
            std::ostream& out, std::ostream& err);
