// The module's tools in a Python interpreter: the same Vexlan.plugin, loaded
// through the same host layer as the command, rendering numpy arrays in
// memory.
//
// An array goes into a host image, its channels placed as the command places
// a file's (cli/selection.h); the result comes back as a float32 array, red,
// green, blue, alpha and the further channels. Settings and image inputs are
// checked by the command's own functions, so errors read as the command's.
//
// Threads. The interpreter lock is released while images are converted and
// while a tool renders. The host's worker-thread limit is process-wide: renders
// asking for the same limit run together, a render asking for another waits
// until those are done. A tool object renders one request at a time, so
// each plan keeps a pool of them, one per render in flight.
//
// Lifetime. The module is loaded once. At interpreter exit `_unload` waits for
// the calls in flight (a render on a daemon thread included), destroys every
// tool object and closes the module; a plan used after that refuses to render.
#include <oneapi/tbb/parallel_for.h>
#include <oneapi/tbb/task_arena.h>
#include <pybind11/functional.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <sys/mman.h>

#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "cli/demo/steps.h"
#include "cli/describe.h"
#include "cli/errors.h"
#include "cli/files/selection.h"
#include "cli/module.h"
#include "cli/render.h"
#include "host/registry.h"
#include "host/render.h"
#include "testing/hostile.h"

namespace py = pybind11;

namespace {

class ToolPlan;

// The loaded module, the plans alive, and the renders in flight with the
// worker-thread limit they share.
struct ModuleState {
  std::mutex lock;
  std::condition_variable changed;
  std::unique_ptr<LoadedModule> module;
  std::string path;
  bool closed = false;
  std::set<ToolPlan*> plans;
  int calls = 0;      // calls into the module in flight, the lock released or not
  int rendering = 0;  // renders in flight
  int limit = -1;     // the limit the renders in flight run under
};

ModuleState& State() {
  static ModuleState* state = new ModuleState;  // outlives every plan
  return *state;
}

void CheckOpen(const ModuleState& state) {
  if (state.closed) throw std::runtime_error("the vexlan module was unloaded at interpreter exit");
  if (!state.module) throw std::runtime_error("the vexlan module is not loaded");
}

// A call that releases the interpreter lock. The module is closed only when
// none is in flight: a call must be able to take the lock back before the
// interpreter goes.
class CallInFlight {
 public:
  CallInFlight() {
    std::lock_guard hold(State().lock);
    CheckOpen(State());
    ++State().calls;
  }
  ~CallInFlight() {
    std::lock_guard hold(State().lock);
    --State().calls;
    State().changed.notify_all();
  }
  CallInFlight(const CallInFlight&) = delete;
  CallInFlight& operator=(const CallInFlight&) = delete;
};

// One render in flight, under a worker-thread limit (0: one per core).
class RenderSlot {
 public:
  explicit RenderSlot(int threads) {
    ModuleState& state = State();
    std::unique_lock hold(state.lock);
    state.changed.wait(
        hold, [&] { return state.closed || state.rendering == 0 || state.limit == threads; });
    CheckOpen(state);
    if (state.rendering == 0 && state.limit != threads) {
      SetWorkerThreadLimit(threads);
      state.limit = threads;
    }
    ++state.rendering;
  }
  ~RenderSlot() {
    ModuleState& state = State();
    std::lock_guard hold(state.lock);
    --state.rendering;
    state.changed.notify_all();
  }
  RenderSlot(const RenderSlot&) = delete;
  RenderSlot& operator=(const RenderSlot&) = delete;
};

const Registry& FindLoadedTool(const std::string& name) {
  {
    std::lock_guard hold(State().lock);
    CheckOpen(State());
  }
  return FindTool(name);
}

ToolPtr NewTool(const Registry& reg) {
  ToolPtr tool(reg.Create());
  if (!tool) throw RunError(std::string("cannot create a ") + reg.Name() + " object");
  return tool;
}

// ---- Arrays in and out ------------------------------------------------------

float HalfToFloat(uint16_t h) {
  const uint32_t sign = uint32_t(h & 0x8000u) << 16;
  const uint32_t exponent = (h >> 10) & 0x1Fu, mantissa = h & 0x3FFu;
  uint32_t bits;
  if (exponent == 0) {
    float value = float(mantissa) * 0x1p-24f;  // zero and the subnormals, exactly
    std::memcpy(&bits, &value, 4);
    bits |= sign;
  } else if (exponent == 31) {
    bits = sign | 0x7F800000u | (mantissa << 13);
  } else {
    bits = sign | ((exponent + 112) << 23) | (mantissa << 13);
  }
  float value;
  std::memcpy(&value, &bits, 4);
  return value;
}

// One arena per worker-thread limit, kept: an arena made and dropped for
// every conversion costs memory that is never given back.
tbb::task_arena& ArenaOf(int threads) {
  static std::mutex lock;
  static auto& arenas = *new std::map<int, std::unique_ptr<tbb::task_arena>>;  // kept to the end
  std::lock_guard hold(lock);
  auto& arena = arenas[threads];
  if (!arena) arena = std::make_unique<tbb::task_arena>(threads);
  return *arena;
}

// Runs body(y) for every row, on the call's worker-thread limit.
template <typename Body>
void ForRows(int64_t height, int threads, const Body& body) {
  auto rows = [&] {
    tbb::parallel_for(tbb::blocked_range<int64_t>(0, height, 16),
                      [&](const tbb::blocked_range<int64_t>& rows) {
                        for (int64_t y = rows.begin(); y != rows.end(); ++y) body(y);
                      });
  };
  if (threads == 1) {
    for (int64_t y = 0; y < height; ++y) body(y);
  } else if (threads > 1) {
    ArenaOf(threads).execute(rows);
  } else {
    rows();
  }
}

// An array given for an image input, checked, and where its channels go.
struct ArrayImage {
  std::string id;
  py::array array;  // held while the render reads it
  const char* data = nullptr;
  int64_t height = 0, width = 0, channels = 0;
  int64_t strides[3] = {0, 0, 0};  // bytes; channels 0 for a 2-D array
  bool half = false;
  Selection sel;
};

std::string ShapeText(const py::array& a) {
  std::string text = "(";
  for (py::ssize_t i = 0; i < a.ndim(); ++i) text += (i ? ", " : "") + std::to_string(a.shape(i));
  return text + (a.ndim() == 1 ? ",)" : ")");
}

ArrayImage CheckArray(const std::string& id, const py::handle& value, const py::handle& names) {
  const std::string what = "image " + id;
  if (!py::isinstance<py::array>(value))
    throw py::type_error(what + ": expected a numpy array, got " +
                         std::string(py::str(py::type::of(value).attr("__name__"))));
  ArrayImage in;
  in.id = id;
  in.array = py::reinterpret_borrow<py::array>(value);
  const py::array& a = in.array;
  const py::dtype type = a.dtype();
  in.half = type.equal(py::dtype("float16"));
  if (!in.half && !type.equal(py::dtype::of<float>()))
    throw py::type_error(what + ": expected a float32 or float16 array, got " +
                         std::string(py::str(py::object(type))) +
                         " (convert it with .astype(numpy.float32))");
  if (a.ndim() != 2 && a.ndim() != 3)
    throw py::value_error(what + ": expected an array of shape (height, width) or (height, " +
                          "width, channels), got shape " + ShapeText(a));
  in.height = a.shape(0);
  in.width = a.shape(1);
  in.channels = a.ndim() == 3 ? a.shape(2) : 1;
  if (in.height > INT32_MAX || in.width > INT32_MAX)
    throw py::value_error(what + ": an image is at most 2147483647 pixels each way, got shape " +
                          ShapeText(a));
  // The command's default limit: an image that size takes 16 GB at least.
  if (double(in.height) * double(in.width) > 1e9)
    throw py::value_error(what + ": " + std::to_string(in.width) + " x " +
                          std::to_string(in.height) +
                          " pixels is more than the limit of 1e9 pixels an image may have");
  if (in.channels < 1 || in.channels > MaxChannels)
    throw py::value_error(what + ": expected 1 to " + std::to_string(int(MaxChannels)) +
                          " channels, got shape " + ShapeText(a));
  in.strides[0] = a.strides(0);
  in.strides[1] = a.strides(1);
  in.strides[2] = a.ndim() == 3 ? a.strides(2) : 0;
  in.data = static_cast<const char*>(a.data());

  // Without names the channels are R, G, B, A in that order, further
  // channels C4, C5, ...: one channel fills red, green and blue.
  std::vector<std::string> channelNames;
  if (names.is_none()) {
    static const char* const rgba[] = {"R", "G", "B", "A"};
    for (int64_t c = 0; c < in.channels; ++c)
      channelNames.push_back(c < 4 ? rgba[c] : "C" + std::to_string(c));
  } else {
    try {
      channelNames = names.cast<std::vector<std::string>>();
    } catch (const py::cast_error&) {
      throw py::type_error(what + ": expected the channel names as a list of texts");
    }
    if (int64_t(channelNames.size()) != in.channels)
      throw py::value_error(what + ": " + std::to_string(channelNames.size()) +
                            " channel names for an array of " + std::to_string(in.channels) +
                            " channels, shape " + ShapeText(a));
  }
  FileLayout layout;
  layout.parts.push_back({"", "", channelNames});
  in.sel = Select(layout, "", what);
  if (in.sel.further.size() > size_t(MaxFurtherChannels))
    throw py::value_error(what + ": at most " + std::to_string(int(MaxFurtherChannels)) +
                          " channels beside red, green, blue and alpha");
  return in;
}

template <typename Element>
void FillRows(const ArrayImage& in, Image& img, int threads) {
  const int slots[4] = {in.sel.blue, in.sel.green, in.sel.red, in.sel.alpha};
  const std::vector<int>& further = in.sel.further;
  auto load = [&](const char* at) {
    Element value;
    std::memcpy(&value, at, sizeof value);
    if constexpr (std::is_same_v<Element, float>)
      return value;
    else
      return HalfToFloat(value);
  };
  const int64_t sx = in.strides[1], sc = in.strides[2];
  // A float RGBA array with its channels side by side: the common case, in
  // a loop the compiler vectorises.
  const bool rgba = std::is_same_v<Element, float> && sc == 4 && sx == 16 && slots[0] == 2 &&
                    slots[1] == 1 && slots[2] == 0 && slots[3] == 3 && further.empty();
  ForRows(in.height, threads, [&](int64_t y) {
    const char* row = in.data + y * in.strides[0];
    float* g1 = img.Group1(0, int32_t(y));
    if (rgba) {
      const float* src = reinterpret_cast<const float*>(row);
      for (int64_t x = 0; x < in.width; ++x, g1 += 4, src += 4) {
        g1[0] = src[2], g1[1] = src[1], g1[2] = src[0], g1[3] = src[3];
      }
      return;
    }
    const ptrdiff_t step1 = img.PixelStep(1) / ptrdiff_t(sizeof(float));
    const ptrdiff_t step2 = img.PixelStep(2) / ptrdiff_t(sizeof(float));
    float* g2 = further.empty() ? nullptr : img.Group2(0, int32_t(y));
    for (int64_t x = 0; x < in.width; ++x, g1 += step1) {
      const char* px = row + x * sx;
      for (int s = 0; s < 4; ++s)
        g1[s] = slots[s] >= 0 ? load(px + slots[s] * sc) : s == ChanA ? 1.0f : 0.0f;
      if (g2) {
        for (size_t i = 0; i < further.size(); ++i) g2[i] = load(px + further[i] * sc);
        g2 += step2;
      }
    }
  });
}

ImagePtr ToImage(const ArrayImage& in, int threads) {
  ImagePtr img(NewImage(int32_t(in.width), int32_t(in.height), in.sel.furtherNames));
  if (in.width > 0 && in.height > 0) {
    if (in.half)
      FillRows<uint16_t>(in, *img, threads);
    else
      FillRows<float>(in, *img, threads);
  }
  return img;
}

// Red, green, blue, alpha, then the further channels.
void CopyOut(const Image& img, float* out, int threads) {
  const int64_t width = img.Width(), channels = img.ChannelCount();
  const ptrdiff_t step1 = img.PixelStep(1) / ptrdiff_t(sizeof(float));
  const ptrdiff_t step2 = img.PixelStep(2) / ptrdiff_t(sizeof(float));
  const int further = img.FurtherCount();
  ForRows(img.Height(), threads, [&](int64_t y) {
    const float* g1 = img.Group1(0, int32_t(y));
    const float* g2 = further ? img.Group2(0, int32_t(y)) : nullptr;
    float* dst = out + y * width * channels;
    if (!g2 && step1 == 4) {  // four channels alone: a loop the compiler vectorises
      for (int64_t x = 0; x < width; ++x, g1 += 4, dst += 4) {
        dst[0] = g1[ChanR], dst[1] = g1[ChanG], dst[2] = g1[ChanB], dst[3] = g1[ChanA];
      }
      return;
    }
    for (int64_t x = 0; x < width; ++x, g1 += step1, dst += channels) {
      dst[0] = g1[ChanR], dst[1] = g1[ChanG], dst[2] = g1[ChanB], dst[3] = g1[ChanA];
      if (g2) {
        std::memcpy(dst + 4, g2, further * sizeof(float));
        g2 += step2;
      }
    }
  });
}

// ---- Tools -----------------------------------------------------------------

double NumberOf(const std::string& id, const py::handle& value) {
  if (py::isinstance<py::str>(value)) return ParseNumber(value.cast<std::string>(), "--set " + id);
  if (PyNumber_Check(value.ptr()) && !py::isinstance<py::array>(value)) {
    const double number = PyFloat_AsDouble(value.ptr());
    if (!PyErr_Occurred()) return number;
    throw py::error_already_set();
  }
  throw py::type_error("--set " + id + ": expected a number, got " +
                       std::string(py::str(py::type::of(value).attr("__name__"))));
}

// A tool with its settings checked, and its objects with the settings made:
// one per render in flight, kept for the next.
class ToolPlan {
 public:
  ToolPlan(const std::string& name, const py::dict& values) : reg_(&FindLoadedTool(name)) {
    ToolPtr probe = NewTool(*reg_);
    for (const auto& [key, value] : values) {
      const std::string id = key.cast<std::string>();
      const Input& in = SettableInputOf(*probe, *reg_, id);
      RenderPlan::Setting setting{id, in.Kind() == InputKind::Choice, 0.0, ""};
      if (setting.isChoice)
        setting.option = ChosenOption(in, id, py::str(value).cast<std::string>());
      else
        setting.number = NumberOf(id, value);
      settings_.push_back(setting);
    }
    Made(*probe);
    for (const auto& in : probe->Inputs())
      if (in->Kind() == InputKind::Image) imageInputs_.push_back(in->ID().Text());
    std::lock_guard hold(State().lock);
    CheckOpen(State());
    idle_.push_back(std::move(probe));
    State().plans.insert(this);
  }
  ~ToolPlan() {
    std::lock_guard hold(State().lock);
    State().plans.erase(this);
    idle_.clear();  // empty already when the module was unloaded
  }

  const Registry& Reg() const { return *reg_; }
  const std::vector<std::string>& ImageInputs() const { return imageInputs_; }

  // Checks the images for the render: each input ID, then each array.
  std::vector<ArrayImage> CheckImages(const py::dict& images) {
    std::vector<ArrayImage> checked;
    ToolPtr probe = Take();
    for (const auto& [key, value] : images) {
      const std::string id = key.cast<std::string>();
      try {
        ImageInputOf(*probe, *reg_, id);
      } catch (...) {
        Give(std::move(probe));
        throw;
      }
      py::tuple pair = value.cast<py::tuple>();
      checked.push_back(CheckArray(id, pair[0], pair[1]));
    }
    Give(std::move(probe));
    return checked;
  }

  struct Rendered {
    ImagePtr image;
    std::vector<std::pair<std::string, double>> fields;
  };
  // Called without the interpreter lock.
  Rendered Render(const std::vector<ArrayImage>& images, int threads) {
    RenderSlot slot(threads);
    std::vector<ImagePtr> connected;
    for (const ArrayImage& in : images) connected.push_back(ToImage(in, threads));
    return RenderConnected(images, connected);
  }

  // The images made already; called within a RenderSlot.
  Rendered RenderConnected(const std::vector<ArrayImage>& images,
                           const std::vector<ImagePtr>& connected) {
    ToolPtr tool = Take();
    struct Disconnect {
      ToolPlan& plan;
      ToolPtr& tool;
      ~Disconnect() {
        for (const auto& in : tool->Inputs())
          if (in->Kind() == InputKind::Image) in->Connect(nullptr);
        plan.Give(std::move(tool));
      }
    } disconnect{*this, tool};
    for (size_t i = 0; i < images.size(); ++i)
      tool->FindInput(images[i].id)->Connect(connected[i].get());
    Rendered rendered;
    rendered.image = RenderTool(*tool);
    for (const auto& in : tool->Inputs())
      if (in->IsComputedField()) rendered.fields.emplace_back(in->ID().Text(), in->NumberValue());
    return rendered;
  }

  // At unload: the objects go while their code is there.
  void DropObjects() { idle_.clear(); }

 private:
  ToolPtr Take() {
    {
      std::lock_guard hold(State().lock);
      CheckOpen(State());
      if (!idle_.empty()) {
        ToolPtr tool = std::move(idle_.back());
        idle_.pop_back();
        return tool;
      }
    }
    ToolPtr tool = NewTool(*reg_);
    Made(*tool);
    return tool;
  }
  void Give(ToolPtr tool) {
    std::lock_guard hold(State().lock);
    if (!State().closed) idle_.push_back(std::move(tool));
  }
  void Made(Operator& tool) const {
    for (const auto& setting : settings_) {
      Input* in = tool.FindInput(setting.id);
      if (setting.isChoice)
        in->SetChoice(TextID(setting.option));
      else
        in->SetNumber(setting.number);
    }
  }

  const Registry* reg_;
  std::vector<RenderPlan::Setting> settings_;
  std::vector<std::string> imageInputs_;
  std::vector<ToolPtr> idle_;
};

// Memory for large result arrays. A fresh block from the allocator costs a
// page fault per page on its first write, as much again as the copy into
// it; blocks come mapped at once instead, and a few freed ones are kept for
// the next frame of the same size, as the host keeps its pixel memory.
class ArrayMemory {
 public:
  static constexpr size_t Smallest = size_t(4) << 20;

  static float* Take(size_t bytes) {
    {
      std::lock_guard hold(Lock());
      auto& cache = Cache();
      if (auto it = cache.find(bytes); it != cache.end()) {
        float* block = it->second;
        cache.erase(it);
        return block;
      }
    }
    void* block = mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    if (block == MAP_FAILED) throw std::bad_alloc();
    return static_cast<float*>(block);
  }
  static void Give(float* block, size_t bytes) {
    {
      std::lock_guard hold(Lock());
      auto& cache = Cache();
      size_t cached = 0;
      for (const auto& [size, kept] : cache) cached += size;
      if (cache.size() < 4 && cached + bytes <= (size_t(1) << 30)) {
        cache.emplace(bytes, block);
        return;
      }
    }
    munmap(block, bytes);
  }

 private:
  static std::mutex& Lock() {
    static auto& lock = *new std::mutex;  // capsules may be freed at the very end
    return lock;
  }
  static std::multimap<size_t, float*>& Cache() {
    static auto& cache = *new std::multimap<size_t, float*>;
    return cache;
  }
};

py::object ResultArray(const Image* img, int threads) {
  if (!img) return py::none();
  const std::vector<py::ssize_t> shape = {img->Height(), img->Width(), img->ChannelCount()};
  const size_t bytes = size_t(shape[0]) * size_t(shape[1]) * size_t(shape[2]) * sizeof(float);
  py::array_t<float> out;
  if (bytes >= ArrayMemory::Smallest) {
    struct Block {
      float* memory;
      size_t bytes;
    };
    auto* block = new Block{ArrayMemory::Take(bytes), bytes};
    py::capsule owner(block, [](void* given) {
      const auto* block = static_cast<Block*>(given);
      ArrayMemory::Give(block->memory, block->bytes);
      delete block;
    });
    out = py::array_t<float>(shape, block->memory, owner);
  } else {
    out = py::array_t<float>(shape);
  }
  float* data = out.mutable_data();
  {
    py::gil_scoped_release unlocked;
    CopyOut(*img, data, threads);
  }
  return out;
}

std::vector<std::string> ChannelNames(const Image* img) {
  if (!img) return {};
  std::vector<std::string> names = {"R", "G", "B", "A"};
  for (const std::string& name : img->FurtherNames()) names.push_back(name);
  return names;
}

int ThreadsOf(const py::object& threads) {
  if (threads.is_none()) return 0;
  const int n = threads.cast<int>();
  if (n < 0)
    throw py::value_error("threads=" + std::to_string(n) + ": expected 0 (one per core) or more");
  return n;
}

// (image, channels, fields) for the package's Result.
py::tuple RenderPlanned(ToolPlan& plan, const py::dict& images, const py::object& threadsArg) {
  const int threads = ThreadsOf(threadsArg);
  CallInFlight call;
  const std::vector<ArrayImage> checked = plan.CheckImages(images);
  ToolPlan::Rendered rendered;
  {
    py::gil_scoped_release unlocked;
    rendered = plan.Render(checked, threads);
  }
  py::dict fields;
  for (const auto& [id, value] : rendered.fields) fields[py::str(id)] = value;
  return py::make_tuple(ResultArray(rendered.image.get(), threads),
                        ChannelNames(rendered.image.get()), fields);
}

// Host images made once from arrays, for timing a tool's render alone.
struct Prepared {
  std::vector<ArrayImage> arrays;
  std::vector<ImagePtr> images;
};

std::string Text(const char* text) { return text ? text : ""; }

py::object OptionalNumber(const TagList& attrs, Tag tag) {
  if (auto value = attrs.GetDouble(tag)) return py::float_(*value);
  return py::none();
}

// A case of the fuzz corpus as the package's arguments: the settings and
// images the bytes choose for the tool, and the worker threads.
py::tuple CorpusCase(const std::string& name, const py::bytes& data) {
  const Registry& reg = FindLoadedTool(name);
  ToolPtr tool = NewTool(reg);
  const std::string bytes = data;
  ByteStream in(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  const std::vector<ImagePtr> images = SetUpFromBytes(*tool, in);
  const int threads = 1 + in.Byte() % 4;
  py::dict values, arrays;
  for (const auto& input : tool->Inputs()) {
    const py::str id(input->ID().Text());
    if (input->Kind() == InputKind::Number && !input->IsComputedField())
      values[id] = input->NumberValue();
    else if (input->Kind() == InputKind::Choice)
      values[id] = input->ChoiceValue().Text();
    else if (input->Kind() == InputKind::Image && input->Connected())
      arrays[id] =
          py::make_tuple(ResultArray(input->Connected(), 1), ChannelNames(input->Connected()));
  }
  for (const auto& input : tool->Inputs()) input->Connect(nullptr);
  return py::make_tuple(values, arrays, threads);
}

}  // namespace

PYBIND11_MODULE(_vexlan, m) {
  m.doc() = "The Vexlan module's tools on numpy arrays; use the vexlan package.";
  // The command's errors: a request that cannot be (its exit status 2), a
  // render refused for images not connected, a render that failed (status 1).
  py::register_exception<UsageError>(m, "UsageError", PyExc_ValueError);
  py::register_exception<MissingImages>(m, "MissingImages", PyExc_ValueError);
  py::register_exception<RunError>(m, "RenderError", PyExc_RuntimeError);
  m.attr("BUILD_PLUGIN") = VEXLAN_BUILD_PLUGIN;

  m.def("_load", [](const std::string& path) {
    ModuleState& state = State();
    std::lock_guard hold(state.lock);
    if (state.closed) throw std::runtime_error("the vexlan module was unloaded");
    if (!state.module) {
      state.module = std::make_unique<LoadedModule>(path);
      state.path = path;
    }
    return state.path;
  });
  m.def("_unload", [] {
    py::gil_scoped_release unlocked;  // renders in flight finish without it
    ModuleState& state = State();
    std::unique_lock hold(state.lock);
    state.closed = true;
    state.changed.notify_all();
    state.changed.wait(hold, [&] { return state.calls == 0; });
    for (ToolPlan* plan : state.plans) plan->DropObjects();
    state.module.reset();
  });

  m.def("_tools", [] {
    {
      std::lock_guard hold(State().lock);
      CheckOpen(State());
    }
    py::list tools;
    for (const Registry* reg : ClassRegistry.Records())
      tools.append(py::make_tuple(reg->ID().Text(), Text(reg->Name()), reg->ClassName(),
                                  Text(reg->Category()), Text(reg->Description())));
    return tools;
  });
  m.def("_info", [](const std::string& name) {
    const Registry& reg = FindLoadedTool(name);
    ToolPtr tool = NewTool(reg);
    py::list inputs;
    for (const auto& in : tool->Inputs()) {
      py::object value = py::none();
      py::tuple options;
      if (in->Kind() == InputKind::Number) value = py::float_(in->NumberValue());
      if (in->Kind() == InputKind::Choice) {
        value = py::str(in->ChoiceValue().Text());
        const std::vector<const char*> texts = in->Options();
        options = py::tuple(py::cast(std::vector<std::string>(texts.begin(), texts.end())));
      }
      const TagList& attrs = in->Attributes();
      py::object range = py::none();
      if (attrs.Find(RangeMin) || attrs.Find(RangeMax))
        range = py::make_tuple(OptionalNumber(attrs, RangeMin), OptionalNumber(attrs, RangeMax));
      inputs.append(py::make_tuple(
          in->ID().Text(), in->Name().Text(), KindWord(in->Kind()), value, range, options,
          in->Kind() == InputKind::Image && in->IsRequired(), in->IsComputedField()));
    }
    return py::make_tuple(reg.ID().Text(), inputs);
  });

  py::class_<ToolPlan>(m, "_Plan")
      .def(py::init<const std::string&, const py::dict&>())
      .def_property_readonly("registry_id", [](const ToolPlan& p) { return p.Reg().ID().Text(); })
      .def_property_readonly("image_inputs", &ToolPlan::ImageInputs)
      .def("render", &RenderPlanned)
      .def("_prepare",
           [](ToolPlan& plan, const py::dict& images) {
             auto prepared = std::make_unique<Prepared>();
             prepared->arrays = plan.CheckImages(images);
             for (const ArrayImage& in : prepared->arrays)
               prepared->images.push_back(ToImage(in, 0));
             return prepared;
           })
      .def("_render_prepared",
           [](ToolPlan& plan, const Prepared& prepared, const py::object& threadsArg) {
             const int threads = ThreadsOf(threadsArg);
             CallInFlight call;
             py::gil_scoped_release unlocked;
             RenderSlot slot(threads);
             return plan.RenderConnected(prepared.arrays, prepared.images).image != nullptr;
           });
  py::class_<Prepared>(m, "_Prepared");

  m.def("_corpus_case", &CorpusCase);
  m.def("_demo_steps", [] {
    std::vector<DemoStep> steps;
    AddDofDemoSteps(steps);
    AddRelightDemoSteps(steps);
    AddUtilityDemoSteps(steps);
    py::list list;
    // A step whose settings follow what earlier steps printed comes with a
    // function of those fields ({output: {ID: value}}) that gives them.
    for (const DemoStep& s : steps) {
      py::object more = py::none();
      if (s.setsFromPrinted) more = py::cpp_function(s.setsFromPrinted);
      list.append(py::make_tuple(s.tool, s.output, s.inputs, s.sets, more));
    }
    return list;
  });
}
