// TextID: an identifier built from a text. Equal texts give equal IDs, and an
// ID compares equal to its text.
#pragma once

#include <cstring>
#include <string>
#include <string_view>

#include "host/export.h"

class VX_HOST TextID {
 public:
  TextID() = default;
  // The text is copied into the host's table of identifiers, which lives as
  // long as the process; `copy` is accepted for the host's interface, every
  // ID owns its text either way.
  explicit TextID(const char* text, bool copy = true);
  explicit TextID(std::string_view text);

  const char* Text() const { return text_ ? text_ : ""; }
  bool Empty() const { return text_ == nullptr || *text_ == '\0'; }

  friend bool operator==(const TextID& a, const TextID& b) { return a.text_ == b.text_; }
  friend bool operator==(const TextID& a, const char* text) {
    return std::strcmp(a.Text(), text ? text : "") == 0;
  }
  friend bool operator==(const TextID& a, std::string_view text) { return a.Text() == text; }

 private:
  const char* text_ = nullptr;  // interned; identical texts share one pointer
};
