#include "host/operator.h"

AutoNumber::AutoNumber(double value) : number_(new Number(value)) {}

AutoNumber::~AutoNumber() { number_->Recycle(); }

Request::~Request() {
  for (auto& [out, img] : results_)
    if (img) img->Recycle();
}

void Request::Publish(const Output* out, Image* img) {
  Image*& slot = results_[out];
  if (slot && slot != img) slot->Recycle();
  slot = img;
}

Image* Request::TakeResult(const Output* out) {
  auto it = results_.find(out);
  if (it == results_.end()) return nullptr;
  Image* img = it->second;
  results_.erase(it);
  return img;
}

Input::Input(const TextID& name, const TextID& id, const TagList& attrs)
    : name_(name), id_(id), attrs_(attrs) {
  const std::optional<TextID> type = attrs_.GetID(DataType);
  if (!type)
    kind_ = InputKind::Label;
  else if (*type == "Image")
    kind_ = InputKind::Image;
  else if (*type == "TextID")
    kind_ = InputKind::Choice;
  else
    kind_ = InputKind::Number;
  number_.Assign(attrs_.GetDouble(Default).value_or(0.0));
  if (std::optional<TextID> option = attrs_.GetID(ChoiceDefault)) choice_.Assign(*option);
}

Input::~Input() {
  if (image_) image_->Recycle();
}

Parameter* Input::GetValue(Request*, int) {
  switch (kind_) {
    case InputKind::Number:
      return &number_;
    case InputKind::Choice:
      return &choice_;
    case InputKind::Image:
      if (upstream_) {
        // Taken out first: a failed upstream is not asked again.
        const std::function<Image*()> upstream = std::move(upstream_);
        upstream_ = nullptr;
        image_ = upstream();
      }
      return image_;
    default:
      return nullptr;
  }
}

void Input::SetValue(const Number& value, double, int, TagList*) { number_.Assign(value.Value()); }

TextID Input::Control() const { return attrs_.GetID(InputControl).value_or(TextID()); }

bool Input::IsRequired() const { return attrs_.GetInt(Required).value_or(1) != 0; }

bool Input::IsComputedField() const { return attrs_.GetInt(InputFlagA).value_or(0) == 1; }

std::vector<const char*> Input::Options() const {
  std::vector<const char*> options;
  for (const TagItem& item : attrs_)
    if (item.tag == ChoiceText) options.push_back(item.value.text);
  return options;
}

void Input::Connect(Image* img) {
  if (img) img->Use();
  if (image_) image_->Recycle();
  image_ = img;
  upstream_ = nullptr;
}

void Input::ConnectUpstream(std::function<Image*()> upstream) {
  Connect(nullptr);
  upstream_ = std::move(upstream);
}

void Output::Set(Request* req, Image* img, TagList*) { req->Publish(this, img); }

const int Operator::ClassID = 1;
const int ThreadedOperator::ClassID = 2;

Operator::Operator(const Registry* reg, const ScriptVal&, const TagList&) : registry_(reg) {}

Operator::~Operator() = default;

bool Operator::AddControlPage(const char* name, const TagList&) {
  pages_.emplace_back(name ? name : "");
  return true;
}

Input* Operator::AddInput(const TextID& name, const TextID& id, const TagList& attrs) {
  inputs_.push_back(std::make_unique<Input>(name, id, attrs));
  return inputs_.back().get();
}

Output* Operator::AddOutput(const TextID& name, const TextID& id, const TagList& attrs) {
  outputs_.push_back(std::make_unique<Output>(name, id, attrs));
  return outputs_.back().get();
}

void Operator::Process(Request*) {}

Input* Operator::FindInput(std::string_view id) const {
  for (const auto& in : inputs_)
    if (in->ID() == id) return in.get();
  return nullptr;
}

bool Operator::RegInit(Registry*) { return true; }

void Operator::RegCleanup(Registry*) {}

void ThreadedOperator::ProcessChunk(Request*, int) {}
