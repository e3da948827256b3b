// vexlan: the command-line host of the module's tools.
//
//   vexlan list                 the registered tools
//   vexlan info TOOL            a tool's record, inputs and output
//   vexlan render TOOL ...      renders a tool into image files
//   vexlan farm TOOL ...        renders a sequence on a Slurm cluster
//   vexlan demo [--out DIR]     a generated scene through every tool
//
// Exit status: 0 when all went well, 1 when a file or a render failed, 2 for
// a bad command line.
#include <CLI/CLI.hpp>
#include <future>
#include <iostream>

#include "cli/demo/demo.h"
#include "cli/describe.h"
#include "cli/errors.h"
#include "cli/farm.h"
#include "cli/module.h"
#include "cli/render.h"

namespace {

// Runs `body` with the module loaded, turning its failures into a message
// and an exit status.
template <typename Body>
int WithModule(const std::string& plugin, Body body) {
  try {
    LoadedModule module(ModulePath(plugin));
    return body();
  } catch (const CliError& e) {
    std::cerr << "vexlan: " << e.what() << "\n";
    return e.Status();
  } catch (const std::exception& e) {
    std::cerr << "vexlan: " << e.what() << "\n";
    return ExitFailed;
  }
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app("vexlan: renders the module's compositing tools from the command line");
  app.fallthrough();
  app.require_subcommand(1);
  std::string plugin;
  app.add_option("--plugin", plugin,
                 "The module to load (default: $VEXLAN_PLUGIN, else "
                 "../plugins/Vexlan.plugin beside this program)");

  CLI::App* list = app.add_subcommand("list",
                                      "One line per tool: registry ID, name, category, "
                                      "description");

  CLI::App* info = app.add_subcommand("info", "A tool's record, inputs and output");
  std::string infoTool;
  info->add_option("TOOL", infoTool, "Registry ID, name or class name, any letter case")
      ->required();

  CLI::App* render = app.add_subcommand("render", "Renders a tool into image files");
  RenderCommand command;
  std::string frames;
  int threads = -1;
  render->add_option("TOOL", command.tool, "Registry ID, name or class name, any letter case")
      ->required();
  render
      ->add_option("--output", command.output,
                   "The image file to write, PATH or PATH:NAMES (the result's layer, or its "
                   "channels: dof, depth.Z, mv.u,mv.v); a run of # is the frame number")
      ->required();
  render
      ->add_option("--input", command.inputs,
                   "An image input: ID=PATH or ID=PATH:SELECTOR, a part, view, layer or "
                   "channels (repeatable; # is the frame)")
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  render
      ->add_option("--set", command.sets,
                   "A value: ID=NUMBER (inf, -inf, nan too) or ID=OPTION (repeatable)")
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  render->add_option("--frames", command.frames, "Frames to render, A-B (default: frame 0)");
  render->add_option("--threads", threads,
                     "Threads of the run: row workers, frames of a range rendered at once and "
                     "the image library's own (default and 0: one per core)");
  render->add_flag("--carry", command.carry,
                   "Carry the rest of the main input's file to the output (its other channels "
                   "and parts) even with a selector");
  render->add_flag("--full-frame", command.fullFrame,
                   "Write the whole frame (display and data windows together), not the main "
                   "input's data window");
  render->add_option("--format", command.format,
                     "The output's pixel type: half, float, uint8, uint16, ... (default: the "
                     "main input's)");
  render->add_option("--compression", command.compression,
                     "The output's compression: zip, piz, dwaa:45, none, ... (default: the "
                     "main input's)");
  render->add_flag("--keep-going", command.keepGoing,
                   "Render every frame that can be rendered; list the failed ones at the end "
                   "(exit status 1 when any failed)");
  render->add_option("--memory", command.memoryBudget,
                     "MiB the frames rendered at once may take (default: half the machine's "
                     "memory); fewer frames are rendered at once than threads allow if needed");
  render->add_option("--max-pixels", command.maxPixels,
                     "Largest input image accepted, in pixels (default 1e9)");

  FarmOptions farmOptions;
  CLI::App* farm = AddFarmCommand(app, farmOptions);

  CLI::App* demo = app.add_subcommand("demo", "Renders the sample scene and runs every tool on it");
  std::string demoFolder = "demo-out";
  demo->add_option("--out", demoFolder, "Folder to write into (default demo-out)");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (app.get_subcommands().empty() && e.get_exit_code() != 0) {
      std::cerr << "vexlan: expected a command: list, info TOOL, render TOOL ..., farm TOOL ..., "
                   "demo "
                   "(vexlan --help tells more)\n";
      return ExitUsage;
    }
    const int status = app.exit(e);
    return status == 0 ? ExitOk : ExitUsage;
  }

  if (*list)
    return WithModule(plugin, [] {
      ListTools(std::cout);
      return ExitOk;
    });
  if (*info)
    return WithModule(plugin, [&] {
      DescribeTool(FindTool(infoTool), std::cout);
      return ExitOk;
    });
  // The render command as parsed, --threads unset unless given.
  auto renderCommand = [&] {
    if (render->count("--threads")) command.threads = threads;
    return command;
  };
  if (*render) {
    // The image library loads while the module does.
    const std::future<void> files = LoadImageFilesAhead();
    return WithModule(plugin, [&] { return RunRender(renderCommand(), std::cout, std::cerr); });
  }
  if (*farm) {
    // The render half of a farm command goes through the render command's
    // own parser: the farm takes every option that render takes.
    const std::vector<std::string> renderArgs = farm->remaining();
    if (const int status = ParseRenderHalf(app, renderArgs, farmOptions, std::cerr)) return status;
    return WithModule(plugin, [&] {
      return RunFarm(farmOptions, renderCommand(), renderArgs, ModulePath(plugin), std::cout,
                     std::cerr);
    });
  }
  return WithModule(plugin, [&] { return RunDemo(demoFolder, std::cout, std::cerr); });
}
