// Operators and what they talk to: requests, parameter values, inputs,
// outputs, and the host's render threads.
//
// The host owns an operator's inputs and outputs and the images they carry.
// An input yields the same value for every call within one render. One
// operator object renders one request at a time; DoMultiProcess runs
// ProcessChunk for many rows at once on worker threads.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/image.h"
#include "host/tags.h"
#include "host/textid.h"

class Output;
class Registry;

class VX_HOST Number : public Parameter {
 public:
  explicit Number(double value = 0.0) : value_(value) {}
  double Value() const { return value_; }
  operator double() const { return value_; }
  void Assign(double value) { value_ = value; }

 private:
  double value_;
};

// A temporary Number holding a value, for Input::SetValue.
class VX_HOST AutoNumber {
 public:
  explicit AutoNumber(double value);
  ~AutoNumber();
  AutoNumber(const AutoNumber&) = delete;
  AutoNumber& operator=(const AutoNumber&) = delete;
  operator Number&() { return *number_; }

 private:
  Number* number_;
};

// The value of a multi-choice input: the TextID of the chosen option's text.
class VX_HOST TextIDParam : public Parameter {
 public:
  explicit TextIDParam(const TextID& id = TextID()) : id_(id) {}
  operator TextID() const { return id_; }
  const TextID& ID() const { return id_; }
  void Assign(const TextID& id) { id_ = id; }

 private:
  TextID id_;
};

// One render request: a frame. The host keeps what the operator publishes on
// its outputs until it takes it.
class VX_HOST Request {
 public:
  explicit Request(double time = 0.0) : time_(time) {}
  ~Request();
  Request(const Request&) = delete;
  Request& operator=(const Request&) = delete;

  double Time() const { return time_; }
  // Takes over one hold on the image; a second publish replaces the first.
  void Publish(const Output* out, Image* img);
  // The image published on the output, with its hold passed to the caller;
  // null when nothing was published.
  Image* TakeResult(const Output* out);

 private:
  double time_;
  std::map<const Output*, Image*> results_;
};

enum class InputKind { Label, Number, Choice, Image };

class VX_HOST Input {
 public:
  Input(const TextID& name, const TextID& id, const TagList& attrs);
  virtual ~Input();
  Input(const Input&) = delete;
  Input& operator=(const Input&) = delete;

  // The value for the request: a Number, a TextIDParam, or the connected
  // Image (null when nothing is connected). Labels yield null.
  Parameter* GetValue(Request* req, int flags = 0);

  // Takes the value and shows it; it never starts a render.
  virtual void SetValue(const Number& value, double time, int flags, TagList* tags);

  const TextID& ID() const { return id_; }
  const TextID& Name() const { return name_; }
  const TagList& Attributes() const { return attrs_; }
  InputKind Kind() const { return kind_; }
  TextID Control() const;                    // empty for image inputs
  bool IsRequired() const;                   // image inputs: Required 1 or no Required at all
  bool IsComputedField() const;              // shown but written by the tool itself
  std::vector<const char*> Options() const;  // a multi-choice input's texts

  // Host side: what the user set or connected.
  void SetNumber(double value) { number_.Assign(value); }
  double NumberValue() const { return number_.Value(); }
  void SetChoice(const TextID& option) { choice_.Assign(option); }
  const TextID& ChoiceValue() const { return choice_.ID(); }
  // Takes a hold on the image and drops the hold on the one it replaces.
  void Connect(Image* img);
  // Connects what `upstream` makes, made when the tool first asks for the
  // input's value, as a host renders the nodes upstream of a tool on
  // demand: an image the tool never asks for is never made. `upstream`
  // gives one hold on its image, which the input keeps; what it throws
  // passes through GetValue.
  void ConnectUpstream(std::function<Image*()> upstream);
  // The image connected or made so far; null when there is none (yet).
  Image* Connected() const { return image_; }
  bool IsConnected() const { return image_ || upstream_; }

 private:
  TextID name_, id_;
  TagList attrs_;
  InputKind kind_;
  Number number_;
  TextIDParam choice_;
  Image* image_ = nullptr;
  std::function<Image*()> upstream_;
};

class VX_HOST Output {
 public:
  Output(const TextID& name, const TextID& id, const TagList& attrs)
      : name_(name), id_(id), attrs_(attrs) {}

  // Publishes the image for the request, taking over the caller's hold.
  void Set(Request* req, Image* img, TagList* tags = nullptr);

  const TextID& ID() const { return id_; }
  const TextID& Name() const { return name_; }
  const TagList& Attributes() const { return attrs_; }

 private:
  TextID name_, id_;
  TagList attrs_;
};

// What the host passes to a factory and to an operator's constructor besides
// its registration record: the script side of the new object.
struct ScriptVal {};

class VX_HOST Operator : public Object {
 public:
  Operator(const Registry* reg, const ScriptVal& val, const TagList& tags);
  ~Operator() override;

  bool AddControlPage(const char* name, const TagList& attrs = TagList());
  Input* AddInput(const TextID& name, const TextID& id, const TagList& attrs);
  Output* AddOutput(const TextID& name, const TextID& id, const TagList& attrs);

  // The render operation: publishes the operator's result for the request.
  virtual void Process(Request* req);

  // Host side.
  const Registry* GetRegistry() const { return registry_; }
  const std::vector<std::string>& Pages() const { return pages_; }
  const std::vector<std::unique_ptr<Input>>& Inputs() const { return inputs_; }
  const std::vector<std::unique_ptr<Output>>& Outputs() const { return outputs_; }
  Input* FindInput(std::string_view id) const;  // by ID, letter for letter

  static bool RegInit(Registry* reg);
  static void RegCleanup(Registry* reg);
  static const int ClassID;

 private:
  const Registry* registry_;
  std::vector<std::string> pages_;
  std::vector<std::unique_ptr<Input>> inputs_;
  std::vector<std::unique_ptr<Output>> outputs_;
};

class VX_HOST ThreadedOperator : public Operator {
 public:
  using Operator::Operator;

  // Renders one chunk (a row) of the current request; called by
  // DoMultiProcess on worker threads.
  virtual void ProcessChunk(Request* req, int chunk);

  // Runs ProcessChunk(req, i) for i from 0 to count - 1, several at once,
  // within the host's worker-thread limit, and returns when all are done.
  void DoMultiProcess(Request* req, int count);

  static const int ClassID;
};

// The number of worker threads that DoMultiProcess may use; 0 means one per
// core.
VX_HOST void SetWorkerThreadLimit(int threads);
VX_HOST int WorkerThreadLimit();
