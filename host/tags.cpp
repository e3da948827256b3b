#include "host/tags.h"

#include <cstdio>
#include <stdexcept>
#include <utility>

namespace {

void CheckKind(Tag tag, TagKind expected) {
  if (KindOf(tag) != expected) {
    char text[96];
    std::snprintf(text, sizeof text, "tag 0x%llx carries kind %d, not kind %d",
                  static_cast<unsigned long long>(tag), static_cast<int>(KindOf(tag)),
                  static_cast<int>(expected));
    throw std::logic_error(text);
  }
}

}  // namespace

TagItem::TagItem(Tag t, int v) : TagItem(t, static_cast<int64_t>(v)) {}

TagItem::TagItem(Tag t, int64_t v) : tag(t) {
  CheckKind(t, TagKind::Int);
  value.i = v;
}

TagItem::TagItem(Tag t, double v) : tag(t) {
  CheckKind(t, TagKind::Double);
  value.d = v;
}

TagItem::TagItem(Tag t, const char* v) : tag(t) {
  CheckKind(t, TagKind::Text);
  value.text = v;
}

TagItem::TagItem(Tag t, const void* v) : tag(t) {
  CheckKind(t, TagKind::Pointer);
  value.ptr = v;
}

TagItem::TagItem(Tag t, const TextID& v) : tag(t), id(v) { CheckKind(t, TagKind::ID); }

std::string TagItem::ValueText() const {
  char text[64];
  switch (Kind()) {
    case TagKind::Int:
      return std::to_string(value.i);
    case TagKind::Double:
      std::snprintf(text, sizeof text, "%.17g", value.d);
      return text;
    case TagKind::Text:
      return std::string("\"") + (value.text ? value.text : "") + "\"";
    case TagKind::ID:
      return std::string("\"") + id.Text() + "\"";
    case TagKind::Pointer:
      std::snprintf(text, sizeof text, "%p", value.ptr);
      return text;
    default:
      return "";
  }
}

TagList::TagList(std::initializer_list<TagItem> items) : items_(items) { items_.emplace_back(); }

TagList& TagList::Add(const TagItem& item) {
  items_.insert(items_.end() - 1, item);
  return *this;
}

const TagItem* TagList::Find(Tag tag) const {
  for (const TagItem& item : *this)
    if (item.tag == tag) return &item;
  return nullptr;
}

size_t TagList::Count(Tag tag) const {
  size_t n = 0;
  for (const TagItem& item : *this) n += item.tag == tag;
  return n;
}

std::optional<int64_t> TagList::GetInt(Tag tag) const {
  const TagItem* item = Find(tag);
  if (!item || item->Kind() != TagKind::Int) return std::nullopt;
  return item->value.i;
}

std::optional<double> TagList::GetDouble(Tag tag) const {
  const TagItem* item = Find(tag);
  if (!item || item->Kind() != TagKind::Double) return std::nullopt;
  return item->value.d;
}

const char* TagList::GetText(Tag tag) const {
  const TagItem* item = Find(tag);
  return item && item->Kind() == TagKind::Text ? item->value.text : nullptr;
}

const void* TagList::GetPointer(Tag tag) const {
  const TagItem* item = Find(tag);
  return item && item->Kind() == TagKind::Pointer ? item->value.ptr : nullptr;
}

std::optional<TextID> TagList::GetID(Tag tag) const {
  const TagItem* item = Find(tag);
  if (!item || item->Kind() != TagKind::ID) return std::nullopt;
  return item->id;
}

std::string TagName(Tag tag) {
  static const std::pair<Tag, const char*> names[] = {
      {RegFactory, "RegFactory"},
      {RegInitFunc, "RegInitFunc"},
      {RegCleanupFunc, "RegCleanupFunc"},
      {RegScriptInfo, "RegScriptInfo"},
      {RegTileColor, "RegTileColor"},
      {RegBaseClass, "RegBaseClass"},
      {RegInt0, "RegInt0"},
      {RegInt3, "RegInt3"},
      {RegInt4, "RegInt4"},
      {RegInt19, "RegInt19"},
      {RegInt1B, "RegInt1B"},
      {RegName, "RegName"},
      {RegCategory, "RegCategory"},
      {RegShortName, "RegShortName"},
      {RegDescription, "RegDescription"},
      {RegBuildText, "RegBuildText"},
      {DataType, "DataType"},
      {InputControl, "InputControl"},
      {Default, "Default"},
      {RangeMin, "RangeMin"},
      {RangeMax, "RangeMax"},
      {LimitMax, "LimitMax"},
      {Integer, "Integer"},
      {ColorGroup, "ColorGroup"},
      {ColorChannel, "ColorChannel"},
      {ColorGroupName, "ColorGroupName"},
      {ChoiceText, "ChoiceText"},
      {ChoiceDefault, "ChoiceDefault"},
      {ChoiceFlag, "ChoiceFlag"},
      {MainInput, "MainInput"},
      {Required, "Required"},
      {InputFlag0, "InputFlag0"},
      {InputFlag10, "InputFlag10"},
      {InputFlagA, "InputFlagA"},
      {ImageLike, "ImageLike"},
  };
  for (const auto& [number, name] : names)
    if (number == tag) return name;
  char text[32];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(tag));
  return text;
}
