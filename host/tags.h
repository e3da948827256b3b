// Tag lists: the attribute lists that registration records, inputs, outputs
// and images are described with.
//
// A tag is a 32-bit number carried in 64 bits. Its top four bits give the
// kind of the value paired with it, so any list can be read back and printed
// without knowing the tags themselves.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "host/textid.h"

using Tag = uint64_t;

enum class TagKind : int {
  End = 0,
  Int = 1,
  Double = 2,
  Text = 3,
  Pointer = 6,
  ID = 8,
};

constexpr TagKind KindOf(Tag tag) { return static_cast<TagKind>((tag >> 28) & 0xF); }

// Registration record tags.
constexpr Tag RegFactory = 0x60000000;
constexpr Tag RegInitFunc = 0x60000001;
constexpr Tag RegCleanupFunc = 0x60000002;
constexpr Tag RegScriptInfo = 0x60000005;
constexpr Tag RegTileColor = 0x6000000d;
constexpr Tag RegBaseClass = 0x60000011;
constexpr Tag RegInt0 = 0x10000000;
constexpr Tag RegInt3 = 0x10000003;
constexpr Tag RegInt4 = 0x10000004;
constexpr Tag RegInt19 = 0x10000019;
constexpr Tag RegInt1B = 0x1000001b;
constexpr Tag RegName = 0x30000002;
constexpr Tag RegCategory = 0x30000003;
constexpr Tag RegShortName = 0x30000004;
constexpr Tag RegDescription = 0x30000005;
constexpr Tag RegBuildText = 0x30000008;

// Input and output attribute tags.
constexpr Tag DataType = 0x88020000;
constexpr Tag InputControl = 0x80030000;
constexpr Tag Default = 0x20030004;
constexpr Tag RangeMin = 0x20030000;
constexpr Tag RangeMax = 0x20030001;
constexpr Tag LimitMax = 0x20030003;
constexpr Tag Integer = 0x1003000c;
constexpr Tag ColorGroup = 0x10030006;
constexpr Tag ColorChannel = 0x10030007;
constexpr Tag ColorGroupName = 0x30040000;
constexpr Tag ChoiceText = 0x38040000;
constexpr Tag ChoiceDefault = 0x80030003;
constexpr Tag ChoiceFlag = 0x1005000a;
constexpr Tag MainInput = 0x10020001;
constexpr Tag Required = 0x10030002;
constexpr Tag InputFlag0 = 0x10030000;
constexpr Tag InputFlag10 = 0x10030010;
constexpr Tag InputFlagA = 0x1003000a;

// Image creation tags.
constexpr Tag ImageLike = 0x60020000;

// Text values (kind 3) point at zero-terminated strings that must outlive the
// list; in practice they are literals. Pointer values (kind 6) are addresses
// of objects or functions.
struct VX_HOST TagItem {
  Tag tag = 0;
  union {
    int64_t i;
    double d;
    const char* text;
    const void* ptr;
  } value{};
  TextID id;  // the value of an ID-kind tag

  TagItem() = default;
  TagItem(Tag t, int v);
  TagItem(Tag t, int64_t v);
  TagItem(Tag t, double v);
  TagItem(Tag t, const char* v);
  TagItem(Tag t, const void* v);
  TagItem(Tag t, const TextID& v);

  TagKind Kind() const { return KindOf(tag); }
  std::string ValueText() const;  // the value printed by its kind
};

// An ordered list of tag items. Data() ends with a zero tag, as the host's
// interface expects of every list.
class VX_HOST TagList {
 public:
  TagList() { items_.emplace_back(); }
  TagList(std::initializer_list<TagItem> items);

  TagList& Add(const TagItem& item);
  template <typename V>
  TagList& Add(Tag tag, V value) {
    return Add(TagItem(tag, value));
  }

  const TagItem* Data() const { return items_.data(); }
  size_t Size() const { return items_.size() - 1; }
  const TagItem* begin() const { return items_.data(); }
  const TagItem* end() const { return items_.data() + Size(); }
  const TagItem& operator[](size_t i) const { return items_[i]; }

  // First item with this tag, or null.
  const TagItem* Find(Tag tag) const;
  size_t Count(Tag tag) const;
  std::optional<int64_t> GetInt(Tag tag) const;
  std::optional<double> GetDouble(Tag tag) const;
  const char* GetText(Tag tag) const;  // null when absent
  const void* GetPointer(Tag tag) const;
  std::optional<TextID> GetID(Tag tag) const;

 private:
  std::vector<TagItem> items_;
};

// Name of a known tag ("RangeMin"), or its number in hex.
VX_HOST std::string TagName(Tag tag);
