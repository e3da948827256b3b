// vexlan farm: the job scripts it writes and what they do when run, the
// commands it refuses before anything is submitted, and whole jobs on a
// Slurm cluster of this one machine that the tests start themselves.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "testing/program.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// The value after `key` on the script's line that starts with it.
std::string ScriptValue(const std::string& script, const std::string& key) {
  for (const std::string& line : Lines(script))
    if (line.rfind(key, 0) == 0) return line.substr(key.size());
  return "";
}

// The pattern's run of '#' replaced by the frame number, zero-padded.
std::string FramePathOf(const std::string& pattern, int frame) {
  const size_t begin = pattern.find('#');
  const size_t run = pattern.find_first_not_of('#', begin) - begin;
  std::string digits = std::to_string(frame);
  if (digits.size() < run) digits.insert(0, run - digits.size(), '0');
  return pattern.substr(0, begin) + digits + pattern.substr(begin + run);
}

// Frames first..last of a depth sequence, w x h, each frame its own values.
void WriteFrames(const std::string& pattern, int first, int last, int w = 24, int h = 16) {
  for (int frame = first; frame <= last; ++frame) {
    Picture pic = PatternPicture(w, h, 3 + frame % 7);
    for (float& v : pic.pixels) v = 0.2f + v * (1.0f + 0.1f * frame);
    WriteExr(FramePathOf(pattern, frame), pic);
  }
}

// An executable shell script.
void WriteScript(const fs::path& path, const std::string& body) {
  WriteBytes(path, "#!/bin/sh\n" + body);
  fs::permissions(path, fs::perms::owner_all);
}

// The program on PATH, or in the system folders root has there; "" if none.
std::string Which(const std::string& name) {
  std::istringstream path(std::string(std::getenv("PATH") ? std::getenv("PATH") : "") +
                          ":/usr/sbin:/sbin:/usr/bin:/bin");
  for (std::string folder; std::getline(path, folder, ':');)
    if (!folder.empty() && access((folder + "/" + name).c_str(), X_OK) == 0)
      return folder + "/" + name;
  return "";
}

// The processes running now, and the text of a file of each one's folder
// in /proc; a process that ends while the list is read has an empty text.
std::vector<std::pair<pid_t, std::string>> Processes(const char* file) {
  std::vector<std::pair<pid_t, std::string>> found;
  for (const auto& entry : fs::directory_iterator("/proc"))
    if (const std::string name = entry.path().filename();
        name.find_first_not_of("0123456789") == std::string::npos)
      found.push_back({std::stoi(name), FileText(entry.path() / file)});
  return found;
}

// A sequence, its folders and the farm command line that renders it.
class FarmTest : public testing::Test {
 protected:
  std::string Path(const std::string& name) const { return scratch_ / name; }
  std::string Input() const { return Path("in/depth.####.exr"); }
  std::string Output(int frame) const { return FramePathOf(Path("out/oof.####.exr"), frame); }
  std::string Reference(int frame) const { return FramePathOf(Path("ref/oof.####.exr"), frame); }

  void SetUp() override {
    for (const char* folder : {"in", "out", "ref"}) fs::create_directory(Path(folder));
  }
  Args Farm(const std::string& frames, const Args& extra = {}) const {
    return Vexlan(Args{"farm", "ZRemapper", "--input", "Input=" + Input(), "--set",
                       "PlaneOfFocus=0.5", "--output", Path("out/oof.####.exr"), "--frames", frames,
                       "--log-dir", Path("farm logs #1")} +
                  extra);
  }
  // The same frames rendered by one local vexlan render.
  void RenderReference(const std::string& frames) const {
    const ProgramRun run = RunProgram(
        Vexlan({"render", "ZRemapper", "--input", "Input=" + Input(), "--set", "PlaneOfFocus=0.5",
                "--output", Path("ref/oof.####.exr"), "--frames", frames}),
        scratch_.Path());
    ASSERT_EQ(run.status, 0) << run.err;
  }
  void ExpectOutputsAsReference(int first, int last) const {
    for (int frame = first; frame <= last; ++frame) {
      ASSERT_TRUE(fs::exists(Output(frame))) << "frame " << frame;
      EXPECT_EQ(FileText(Output(frame)), FileText(Reference(frame))) << "frame " << frame;
    }
  }
  ProgramRun Run(const Args& args) const { return RunProgram(args, scratch_.Path()); }

  ScratchFolder scratch_{"vexlan-farm"};
};

}  // namespace

TEST_F(FarmTest, ScriptRendersItsTasksChunkAndAsksForAnotherRunWhenAFrameFails) {
  WriteFrames(Input(), 1, 24);
  RenderReference("1-24");
  const ProgramRun dry =
      Run(Farm("1-12, 20", {"--dry-run", "--chunk", "5", "--cpus-per-task", "2", "--max-running",
                            "3", "--retries", "1", "--mem", "2G", "--time", "30", "--partition",
                            "render", "--job-name", "oof"}));
  ASSERT_EQ(dry.status, 0) << dry.err;
  const std::string& script = dry.out;
  EXPECT_EQ(ScriptValue(script, "#SBATCH --array="), "0-3%3");
  EXPECT_EQ(ScriptValue(script, "chunks="), "(1-5 6-10 11-12 20)");
  EXPECT_EQ(ScriptValue(script, "#SBATCH --cpus-per-task="), "2");
  EXPECT_EQ(ScriptValue(script, "#SBATCH --mem="), "2G");
  EXPECT_EQ(ScriptValue(script, "#SBATCH --time="), "30");
  EXPECT_EQ(ScriptValue(script, "#SBATCH --partition="), "render");
  EXPECT_EQ(ScriptValue(script, "#SBATCH --chdir="), '"' + fs::current_path().string() + '"');
  // sbatch reads the blank and the '#' of the log folder only in quotes.
  EXPECT_EQ(ScriptValue(script, "#SBATCH --output="),
            '"' + Path("farm logs #1/oof_%A_%a.log") + '"');
  EXPECT_TRUE(Holds(script, "'" + fs::canonical(VEXLAN_BIN).string() + "' --plugin '" +
                                std::string(VEXLAN_PLUGIN_PATH) + "' render 'ZRemapper'"));
  WriteBytes(Path("task.sh"), script);

  // Run by hand as the scheduler would run array task 1, with an scontrol
  // that only writes down what it was asked.
  fs::create_directory(Path("bin"));
  WriteScript(Path("bin/scontrol"), "echo \"$@\" >> " + Path("scontrol.txt") + "\n");
  auto task = [&](const std::string& restarts) {
    return Run({"/usr/bin/env", "PATH=" + Path("bin") + ":/usr/bin:/bin", "SLURM_ARRAY_TASK_ID=1",
                "SLURM_ARRAY_JOB_ID=77", "SLURM_CPUS_PER_TASK=2", "SLURM_RESTART_COUNT=" + restarts,
                "/bin/bash", Path("task.sh")});
  };
  const ProgramRun first = task("0");
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_TRUE(Holds(first.out, "frames 6-10, try 1 of 2"));
  ExpectOutputsAsReference(6, 10);
  for (int frame : {5, 11}) EXPECT_FALSE(fs::exists(Output(frame))) << frame;
  EXPECT_FALSE(fs::exists(Path("scontrol.txt")));

  // A frame that fails: the others are rendered, and the task asks to be
  // run again while it has runs left.
  fs::remove(Output(6));
  fs::remove(FramePathOf(Input(), 7));
  const ProgramRun failed = task("0");
  EXPECT_EQ(failed.status, 1);
  EXPECT_TRUE(Holds(failed.err, "frame 7"));
  EXPECT_TRUE(fs::exists(Output(6)));
  EXPECT_EQ(FileText(Path("scontrol.txt")), "requeue 77_1\n");
  EXPECT_EQ(task("1").status, 1);
  EXPECT_EQ(FileText(Path("scontrol.txt")), "requeue 77_1\n") << "the last run asks for no other";
}

TEST_F(FarmTest, RefusesWhatRenderRefusesBeforeSubmittingAndSubmitsTheScriptItWrote) {
  WriteFrames(Input(), 1, 4);
  fs::create_directory(Path("bin"));
  WriteScript(Path("bin/sbatch"), "echo \"$@\" > " + Path("sbatch.txt") + "\necho '4242;vexlan'\n");
  const std::string path = std::getenv("PATH");
  setenv("PATH", (Path("bin") + ":" + path).c_str(), 1);
  const std::vector<std::pair<Args, std::string>> refused = {
      {{"--chunk", "0"}, "--chunk 0"},    {{"--mem", "4Q"}, "--mem 4Q"},
      {{"--time", "1:2:3:4"}, "--time"},  {{"--threads", "2"}, "--cpus-per-task"},
      {{"--resubmit"}, "--check"},        {{"--bogus"}, "--bogus"},
      {{"--set", "Fstop=wide"}, "Fstop"}, {{"--input", "Nope=x.exr"}, "Nope"},
  };
  std::vector<Args> commands;
  for (const auto& [extra, _] : refused) commands.push_back(Farm("1-4", extra));
  commands.push_back(Vexlan({"farm", "ZRemapper", "--input", "Input=" + Input(), "--output",
                             Path("out/oof.exr"), "--frames", "1-4"}));
  commands.push_back(Farm("4-1"));
  const std::vector<ProgramRun> runs = RunPrograms(commands, scratch_.Path());
  for (size_t i = 0; i < refused.size(); ++i) {
    EXPECT_EQ(runs[i].status, 2) << refused[i].second << ": " << runs[i].err;
    EXPECT_TRUE(Holds(runs[i].err, refused[i].second));
  }
  EXPECT_EQ(runs[refused.size()].status, 2);
  EXPECT_TRUE(Holds(runs[refused.size()].err, "no run of '#'"));
  EXPECT_EQ(runs.back().status, 2);
  EXPECT_FALSE(fs::exists(Path("sbatch.txt"))) << "a refused command submitted";
  EXPECT_FALSE(fs::exists(Path("farm logs #1/oof.sh")));

  const ProgramRun submitted = Run(Farm("1-4", {"--job-name", "oof", "--chunk", "3"}));
  setenv("PATH", path.c_str(), 1);
  ASSERT_EQ(submitted.status, 0) << submitted.err;
  EXPECT_EQ(submitted.out, "4242\n");
  EXPECT_EQ(FileText(Path("sbatch.txt")), "--parsable " + Path("farm logs #1/oof.sh") + "\n");
  EXPECT_EQ(ScriptValue(FileText(Path("farm logs #1/oof.sh")), "chunks="), "(1-3 4)");
  EXPECT_TRUE((fs::status(Path("farm logs #1/oof.sh")).permissions() & fs::perms::owner_exec) !=
              fs::perms::none);
  EXPECT_EQ(FilesIn(Path("farm logs #1")), std::set<std::string>{"oof.sh"})
      << "a temporary file is left";
}

TEST_F(FarmTest, CheckListsTheMissingFramesAsRunsAndResubmitsThoseAlone) {
  WriteFrames(Input(), 1, 24);
  for (int frame = 1; frame <= 24; ++frame)
    if (frame != 3 && !(frame >= 7 && frame <= 9) && frame != 20) WriteBytes(Output(frame), "x");
  const std::vector<ProgramRun> runs =
      RunPrograms({Farm("1-24", {"--check"}),
                   Farm("1-24", {"--check", "--resubmit", "--dry-run", "--chunk", "2"}),
                   Farm("10-19, 21-24", {"--check"})},
                  scratch_.Path());
  EXPECT_EQ(runs[0].status, 1);
  EXPECT_EQ(runs[0].out, "3, 7-9, 20\n");
  EXPECT_TRUE(Holds(runs[0].err, "5 of 24"));
  EXPECT_EQ(runs[1].status, 0) << runs[1].err;
  EXPECT_EQ(ScriptValue(runs[1].out, "chunks="), "(3 7-8 9 20)");
  EXPECT_EQ(runs[2].status, 0) << runs[2].err;
  EXPECT_EQ(runs[2].out, "");
}

TEST_F(FarmTest, MemoryFollowsTheFirstFramesImagesAndTheFramesInFlight) {
  WriteFrames(Input(), 1, 2);
  WriteFrames(Path("in/big.####.exr"), 1, 2, 600, 400);
  auto mem = [&](const std::string& input, const Args& extra) {
    const ProgramRun run =
        Run(Vexlan(Args{"farm", "ZRemapper", "--input", "Input=" + input, "--output",
                        Path("out/m.####.exr"), "--frames", "1-2", "--dry-run"} +
                   extra));
    EXPECT_EQ(run.status, 0) << run.err;
    return std::stoll(ScriptValue(run.out, "#SBATCH --mem="));
  };
  const long long small = mem(Input(), {});
  const long long big = mem(Path("in/big.####.exr"), {});
  const long long twoAtOnce = mem(Path("in/big.####.exr"), {"--cpus-per-task", "2"});
  // 600 x 400 RGBA floats: 3.7 MiB read, as much again for the result.
  EXPECT_GT(big - small, 7);
  EXPECT_GT(twoAtOnce - big, 7);
  EXPECT_EQ(mem(Path("in/big.####.exr"), {"--cpus-per-task", "2", "--chunk", "1"}), big)
      << "a task of one frame has one frame in flight";

  const ProgramRun missing = Run(Farm("5-6", {"--dry-run"}));
  EXPECT_EQ(missing.status, 1);
  EXPECT_TRUE(Holds(missing.err, "--mem"));
  EXPECT_EQ(Run(Farm("5-6", {"--dry-run", "--mem", "1G"})).status, 0);
}

namespace {

// A Slurm cluster of this one machine: munged, slurmctld and slurmd on
// localhost, each a child of this program in the foreground, with a key,
// configuration, state, spool, logs, sockets and ports of their own in a
// scratch folder. The daemons die with this program; Stop ends every job
// and every process the cluster started.
class SlurmCluster {
 public:
  // Why the cluster cannot run here, or "".
  static std::string Unavailable() {
    if (geteuid() != 0) return "the Slurm tests start munged and slurmd, which need root";
    for (const char* program :
         {"munged", "slurmctld", "slurmd", "sbatch", "squeue", "scontrol", "scancel", "sinfo"})
      if (Which(program).empty())
        return std::string(program) + " is not installed (scripts/setup installs slurm-wlm " +
               "and munge)";
    return "";
  }

  // Starts the daemons and waits for the node to take jobs; "" when it
  // does, else what went wrong.
  std::string Start() {
    prctl(PR_SET_CHILD_SUBREAPER, 1);  // jobs' processes come back to us
    const std::string key = folder_ / "munge.key";
    std::ifstream random("/dev/urandom", std::ios::binary);
    std::string bytes(128, '\0');
    random.read(bytes.data(), bytes.size());
    WriteBytes(key, bytes);
    chmod(key.c_str(), 0600);
    const std::string socket = folder_ / "munge.sock";
    pids_.push_back(
        Spawn({Which("munged"), "-F", "--force", "--socket=" + socket, "--key-file=" + key,
               "--pid-file=" + (folder_ / "munged.pid"), "--log-file=" + (folder_ / "munged.log"),
               "--seed-file=" + (folder_ / "munged.seed")},
              "munged.out"));
    if (!WaitFor([&] { return fs::exists(socket); }, 10)) return "munged did not start" + Logs();

    for (const char* folder : {"state", "spool"}) fs::create_directory(folder_ / folder);
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    const std::string shortHost = std::string(host).substr(0, std::string(host).find('.'));
    const int cpus = std::max(1u, std::thread::hardware_concurrency());
    const std::vector<int> ports = FreePorts(2);
    std::ofstream(conf_) << "ClusterName=vexlanfarm\n"
                         << "SlurmctldHost=" << shortHost << "(127.0.0.1)\n"
                         << "SlurmUser=root\nSlurmdUser=root\n"
                         << "SlurmctldPort=" << ports[0] << "\nSlurmdPort=" << ports[1] << "\n"
                         << "AuthType=auth/munge\nCredType=cred/munge\n"
                         << "AuthInfo=socket=" << socket << ",cred_expire=5\n"
                         << "StateSaveLocation=" << (folder_ / "state") << "\n"
                         << "SlurmdSpoolDir=" << (folder_ / "spool") << "\n"
                         << "SlurmctldPidFile=" << (folder_ / "slurmctld.pid") << "\n"
                         << "SlurmdPidFile=" << (folder_ / "slurmd.pid") << "\n"
                         << "SlurmctldLogFile=" << (folder_ / "slurmctld.log") << "\n"
                         << "SlurmdLogFile=" << (folder_ / "slurmd.log") << "\n"
                         << "ProctrackType=proctrack/linuxproc\nTaskPlugin=task/none\n"
                         << "JobAcctGatherType=jobacct_gather/none\n"
                         << "AccountingStorageType=accounting_storage/none\n"
                         << "JobCompType=jobcomp/none\nSwitchType=switch/none\nMpiDefault=none\n"
                         << "SelectType=select/cons_tres\nSelectTypeParameters=CR_CPU\n"
                         << "SchedulerType=sched/backfill\n"
                         << "SchedulerParameters=sched_interval=1,bf_interval=1\n"
                         << "ReturnToService=2\nKillWait=2\nMailProg=/bin/true\n"
                         << "DebugFlags=NO_CONF_HASH\n"
                         << "NodeName=vexlanfarm NodeAddr=127.0.0.1 CPUs=" << cpus
                         << " RealMemory=2048 State=UNKNOWN\n"
                         << "PartitionName=render Nodes=vexlanfarm Default=YES "
                            "MaxTime=INFINITE State=UP\n";
    setenv("SLURM_CONF", conf_.c_str(), 1);  // for sbatch, scontrol and the jobs
    pids_.push_back(Spawn({Which("slurmctld"), "-D", "-f", conf_}, "slurmctld.out"));
    pids_.push_back(Spawn({Which("slurmd"), "-D", "-f", conf_, "-N", "vexlanfarm"}, "slurmd.out"));
    if (!WaitFor([&] { return Slurm({"sinfo", "-h", "-o", "%T"}).out == "idle\n"; }, 30))
      return "the Slurm node did not come up" + Logs();
    return "";
  }

  // Cancels every job, stops the daemons and ends whatever is left of the
  // jobs' processes.
  void Stop() {
    if (pids_.size() == 3) {
      Slurm({"scancel", "--user=root"});
      WaitFor([&] { return Slurm({"squeue", "-h"}).out.empty(); }, 15);
    }
    for (auto pid = pids_.rbegin(); pid != pids_.rend(); ++pid) kill(*pid, SIGTERM);
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    for (pid_t pid : pids_) {
      while (waitpid(pid, nullptr, WNOHANG) == 0) {
        if (Clock::now() > deadline) kill(pid, SIGKILL);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
    }
    pids_.clear();
    for (pid_t orphan : Children()) {
      kill(orphan, SIGKILL);
      waitpid(orphan, nullptr, 0);
    }
    unsetenv("SLURM_CONF");
  }

  // A Slurm command, run to its end.
  ProgramRun Slurm(Args args) const {
    args[0] = Which(args[0]);
    return RunProgram(args, folder_.Path());
  }

  // Waits until the job has no task pending or running.
  bool WaitForJob(const std::string& id, int seconds) const {
    return WaitFor([&] { return Slurm({"squeue", "-h", "-r", "-j", id}).out.empty(); }, seconds);
  }

  // ArrayTaskId -> "JobState=... Restarts=..." for each task of the job.
  std::map<int, std::string> Tasks(const std::string& id) const {
    std::map<int, std::string> tasks;
    for (const std::string& line : Lines(Slurm({"scontrol", "-o", "show", "job", id}).out)) {
      auto field = [&](const std::string& name) {
        const size_t at = line.find(" " + name + "=");
        if (at == std::string::npos) return std::string();
        const size_t begin = at + name.size() + 2;
        return line.substr(begin, line.find(' ', begin) - begin);
      };
      if (!field("ArrayTaskId").empty())
        tasks[std::stoi(field("ArrayTaskId"))] =
            "JobState=" + field("JobState") + " Restarts=" + field("Restarts");
    }
    return tasks;
  }

  std::string Logs() const {
    std::string text;
    for (const char* log :
         {"munged.log", "slurmctld.log", "slurmd.log", "slurmctld.out", "slurmd.out"}) {
      const std::vector<std::string> lines = Lines(FileText(folder_ / log));
      text += std::string("\n--- ") + log + "\n";
      for (size_t i = lines.size() > 15 ? lines.size() - 15 : 0; i < lines.size(); ++i)
        text += lines[i] + "\n";
    }
    return text;
  }

  template <typename Done>
  static bool WaitFor(Done done, int seconds) {
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
      if (Clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return true;
  }

 private:
  pid_t Spawn(const Args& args, const std::string& output) {
    const std::string out = folder_ / output;
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid != 0) return pid;
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    const int in = open("/dev/null", O_RDONLY);
    const int log = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(in, 0);
    dup2(log, 1);
    dup2(log, 2);
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }

  // Ports of the loopback that nothing listens on, all different: each
  // socket stays bound until every port is chosen.
  static std::vector<int> FreePorts(int count) {
    std::vector<int> sockets, ports;
    for (int i = 0; i < count; ++i) {
      sockets.push_back(socket(AF_INET, SOCK_STREAM, 0));
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      socklen_t size = sizeof address;
      bind(sockets.back(), reinterpret_cast<sockaddr*>(&address), size);
      getsockname(sockets.back(), reinterpret_cast<sockaddr*>(&address), &size);
      ports.push_back(ntohs(address.sin_port));
    }
    for (int fd : sockets) close(fd);
    return ports;
  }

  // The processes whose parent is this program.
  static std::vector<pid_t> Children() {
    std::vector<pid_t> children;
    for (const auto& [pid, stat] : Processes("stat")) {
      const size_t nameEnd = stat.rfind(')');
      std::istringstream fields(nameEnd == std::string::npos ? "" : stat.substr(nameEnd + 1));
      std::string state;
      pid_t parent = 0;
      if (fields >> state >> parent && parent == getpid()) children.push_back(pid);
    }
    return children;
  }

  ScratchFolder folder_{"vexlan-slurm"};
  std::string conf_ = folder_ / "slurm.conf";
  std::vector<pid_t> pids_;
};

// The process of a running `vexlan render` whose arguments hold all the
// parts; 0 when there is none.
pid_t RenderProcess(const std::vector<std::string>& parts) {
  for (const auto& [pid, line] : Processes("cmdline")) {
    bool all = line.find(std::string("\0render\0", 8)) != std::string::npos;
    for (const std::string& part : parts) all = all && line.find(part) != std::string::npos;
    if (all) return pid;
  }
  return 0;
}

class SlurmFarmTest : public FarmTest {
 protected:
  void SetUp() override {
    FarmTest::SetUp();
    const std::string why = SlurmCluster::Unavailable();
    if (!why.empty()) GTEST_SKIP() << why;
    const std::string failure = cluster_.Start();
    ASSERT_EQ(failure, "");
  }
  void TearDown() override { cluster_.Stop(); }

  std::string Submit(const Args& args) const {
    const ProgramRun run = Run(args);
    EXPECT_EQ(run.status, 0) << run.err;
    const std::vector<std::string> lines = Lines(run.out);
    return lines.empty() ? "" : lines.back();
  }

  SlurmCluster cluster_;
};

}  // namespace

TEST_F(SlurmFarmTest, JobArrayWritesTheBytesOfOneLocalRender) {
  WriteFrames(Input(), 1, 24);
  RenderReference("1-24");
  const auto submitted = Clock::now();
  const std::string id = Submit(Farm("1-24", {"--chunk", "5", "--job-name", "oof"}));
  ASSERT_FALSE(id.empty());
  ASSERT_TRUE(cluster_.WaitForJob(id, 90)) << cluster_.Logs();
  std::cout << "24 frames in 5 tasks: "
            << std::chrono::duration<double>(Clock::now() - submitted).count()
            << " s from submission to the last task's end\n";
  ExpectOutputsAsReference(1, 24);
  std::map<int, std::string> done;
  for (int task = 0; task < 5; ++task) done[task] = "JobState=COMPLETED Restarts=0";
  EXPECT_EQ(cluster_.Tasks(id), done);
  std::string frames;
  for (int task = 0; task < 5; ++task) {
    const std::string log =
        FileText(Path("farm logs #1/oof_" + id + "_" + std::to_string(task) + ".log"));
    frames += log.substr(log.find("frames "), log.find(',') - log.find("frames ")) + ";";
  }
  EXPECT_EQ(frames, "frames 1-5;frames 6-10;frames 11-15;frames 16-20;frames 21-24;");
}

TEST_F(SlurmFarmTest, KilledTaskRunsAgainAndCheckResubmitsOnlyTheMissingFrames) {
  // Frame 8 is a pipe until the test puts the frame there: the task of
  // frames 6-10 waits on it after writing 6 and 7, and is killed there.
  // The real frame is the very file the reference read: a second writing
  // could carry another second in its time stamp.
  WriteFrames(Input(), 1, 10);
  RenderReference("1-10");
  fs::rename(FramePathOf(Input(), 8), FramePathOf(Path("in/real.####.exr"), 8));
  ASSERT_EQ(mkfifo(FramePathOf(Input(), 8).c_str(), 0644), 0);
  const std::string id = Submit(Farm("1-10", {"--chunk", "5", "--job-name", "oof"}));
  ASSERT_FALSE(id.empty());
  pid_t render = 0;
  ASSERT_TRUE(SlurmCluster::WaitFor(
      [&] {
        render = RenderProcess({scratch_.Path().string(), std::string("\0006-10", 5)});
        return render != 0 && fs::exists(Output(7));
      },
      60))
      << cluster_.Logs();
  fs::rename(FramePathOf(Path("in/real.####.exr"), 8), FramePathOf(Input(), 8));
  ASSERT_EQ(kill(render, SIGKILL), 0);
  ASSERT_TRUE(cluster_.WaitForJob(id, 90)) << cluster_.Logs();
  ExpectOutputsAsReference(1, 10);
  const std::map<int, std::string> tasks = {{0, "JobState=COMPLETED Restarts=0"},
                                            {1, "JobState=COMPLETED Restarts=1"}};
  EXPECT_EQ(cluster_.Tasks(id), tasks);
  const std::string log = FileText(Path("farm logs #1/oof_" + id + "_1.log"));
  EXPECT_TRUE(Holds(log, "frames 6-10 ended with exit status 137"));
  EXPECT_TRUE(Holds(log, "frames 6-10, try 2 of 3"));

  // Outputs lost after the job: --check finds them, --resubmit renders
  // them and leaves every other output as it was.
  std::map<int, std::pair<ino_t, timespec>> kept;
  for (int frame = 1; frame <= 10; ++frame) {
    if (frame == 2 || frame == 6 || frame == 7 || frame == 10) {
      fs::remove(Output(frame));
      continue;
    }
    struct stat info {};
    stat(Output(frame).c_str(), &info);
    kept[frame] = {info.st_ino, info.st_mtim};
  }
  const ProgramRun check = Run(Farm("1-10", {"--check"}));
  EXPECT_EQ(check.status, 1);
  EXPECT_EQ(check.out, "2, 6-7, 10\n");
  const std::string again = Submit(Farm("1-10", {"--check", "--resubmit", "--job-name", "again"}));
  ASSERT_FALSE(again.empty());
  ASSERT_TRUE(cluster_.WaitForJob(again, 60)) << cluster_.Logs();
  EXPECT_EQ(cluster_.Tasks(again).size(), 3u);
  ExpectOutputsAsReference(1, 10);
  for (const auto& [frame, was] : kept) {
    struct stat info {};
    stat(Output(frame).c_str(), &info);
    EXPECT_EQ(info.st_ino, was.first) << "frame " << frame << " was written again";
    EXPECT_EQ(info.st_mtim.tv_nsec, was.second.tv_nsec) << "frame " << frame;
  }
  const ProgramRun none = Run(Farm("1-10", {"--check"}));
  EXPECT_EQ(none.status, 0) << none.err;
  EXPECT_EQ(none.out, "");
}
