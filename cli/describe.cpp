#include "cli/describe.h"

#include <algorithm>
#include <charconv>
#include <ostream>
#include <string>
#include <vector>

#include "cli/errors.h"
#include "host/registry.h"
#include "host/render.h"

namespace {

std::string Text(const char* text) { return text ? text : ""; }

// The shortest text that reads back as the same double ("9.107735").
std::string Short(double value) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

// The attributes in the words a compositor uses, in the order the list
// holds them. Tags that only the host reads are left out; unknown ones are
// shown by name and value.
std::vector<std::string> AttributeWords(const TagList& attrs, InputKind kind) {
  std::vector<std::string> words;
  std::string options;
  const bool hasRangeMax = attrs.Find(RangeMax) != nullptr;
  for (const TagItem& item : attrs) {
    const Tag tag = item.tag;
    if (tag == DataType || tag == InputControl || tag == ChoiceFlag || tag == InputFlag0 ||
        tag == InputFlag10)
      continue;
    if (tag == Default) {
      words.push_back("default " + Short(item.value.d));
    } else if (tag == RangeMin) {
      const auto high = attrs.GetDouble(RangeMax);
      words.push_back(hasRangeMax && high ? "range " + Short(item.value.d) + " to " + Short(*high)
                                          : "lower limit " + Short(item.value.d));
    } else if (tag == RangeMax) {
      if (!attrs.Find(RangeMin)) words.push_back("range up to " + Short(item.value.d));
    } else if (tag == LimitMax) {
      words.push_back("upper limit " + Short(item.value.d));
    } else if (tag == Integer) {
      if (item.value.i) words.push_back("integer-valued");
    } else if (tag == ColorGroup) {
      words.push_back("colour group " + std::to_string(item.value.i));
    } else if (tag == ColorChannel) {
      static const char* const channels[] = {"red", "green", "blue"};
      const int64_t c = item.value.i;
      words.push_back("channel " + std::to_string(c) +
                      (c >= 0 && c < 3 ? std::string(" (") + channels[c] + ")" : ""));
    } else if (tag == ColorGroupName) {
      words.push_back("group caption \"" + Text(item.value.text) + "\"");
    } else if (tag == ChoiceText) {
      if (options.empty()) words.emplace_back();  // filled in once all are known
      options += (options.empty() ? "options \"" : ", \"") + Text(item.value.text) + "\"";
    } else if (tag == ChoiceDefault) {
      words.push_back(std::string("default option \"") + item.id.Text() + "\"");
    } else if (tag == MainInput) {
      words.push_back("main input " + std::to_string(item.value.i));
    } else if (tag == Required) {
      words.push_back(item.value.i ? "required" : "optional");
    } else if (tag == InputFlagA) {
      if (item.value.i == 1) words.push_back("computed field");
    } else {
      words.push_back(TagName(tag) + " = " + item.ValueText());
    }
  }
  for (std::string& word : words)
    if (word.empty()) word = options;
  if (kind == InputKind::Image && !attrs.Find(Required))
    words.push_back("required (no Required attribute)");
  return words;
}

std::string Joined(const std::vector<std::string>& words, const char* separator) {
  std::string text;
  for (const std::string& word : words) text += (text.empty() ? "" : separator) + word;
  return text;
}

}  // namespace

const char* KindWord(InputKind kind) {
  switch (kind) {
    case InputKind::Label:
      return "label";
    case InputKind::Number:
      return "number";
    case InputKind::Choice:
      return "choice";
    case InputKind::Image:
      return "image";
  }
  return "?";
}

void ListTools(std::ostream& out) {
  const auto& records = ClassRegistry.Records();
  size_t idWidth = 0, nameWidth = 0, categoryWidth = 0;
  for (const Registry* reg : records) {
    idWidth = std::max(idWidth, std::string(reg->ID().Text()).size());
    nameWidth = std::max(nameWidth, Text(reg->Name()).size());
    categoryWidth = std::max(categoryWidth, Text(reg->Category()).size());
  }
  auto padded = [](const std::string& text, size_t width) {
    return text + std::string(width - text.size() + 2, ' ');
  };
  for (const Registry* reg : records)
    out << padded(reg->ID().Text(), idWidth) << padded(Text(reg->Name()), nameWidth)
        << padded(Text(reg->Category()), categoryWidth) << Text(reg->Description()) << "\n";
}

void DescribeTool(const Registry& reg, std::ostream& out) {
  out << Text(reg.Name()) << "  (registry ID " << reg.ID().Text() << ", class " << reg.ClassName()
      << ")\n";
  out << "  category     " << Text(reg.Category()) << "\n";
  out << "  description  " << Text(reg.Description()) << "\n";
  std::vector<std::string> record;
  for (const TagItem& item : reg.Tags())
    if (item.Kind() != TagKind::Pointer)
      record.push_back(TagName(item.tag) + " = " + item.ValueText());
  out << "  record       " << Joined(record, "; ") << "\n";

  ToolPtr tool(reg.Create());
  if (!tool) throw RunError("cannot create a " + Text(reg.Name()) + " object");
  for (const std::string& page : tool->Pages()) out << "Page \"" << page << "\"\n";

  size_t idWidth = 0;
  for (const auto& in : tool->Inputs())
    idWidth = std::max(idWidth, std::string(in->ID().Text()).size());
  int number = 0;
  for (const auto& in : tool->Inputs()) {
    std::vector<std::string> words = {KindWord(in->Kind())};
    if (!in->Control().Empty()) words.push_back(in->Control().Text());
    for (std::string& word : AttributeWords(in->Attributes(), in->Kind()))
      words.push_back(std::move(word));
    const std::string id = in->ID().Text();
    ++number;
    out << "  " << (number < 10 ? " " : "") << number << "  " << id
        << std::string(idWidth - id.size() + 2, ' ') << "\"" << in->Name().Text() << "\"  "
        << Joined(words, "; ") << "\n";
  }
  for (const auto& output : tool->Outputs()) {
    std::vector<std::string> words = {"image"};
    for (std::string& word : AttributeWords(output->Attributes(), InputKind::Label))
      words.push_back(std::move(word));
    out << "Output  " << output->ID().Text() << "  \"" << output->Name().Text() << "\"  "
        << Joined(words, "; ") << "\n";
  }
}
