#include "host/textid.h"

#include <mutex>
#include <string>
#include <unordered_set>

namespace {

// Every identifier text the process has seen, each stored once; never
// shrinks, so the pointers stay valid for the life of the process.
const char* Intern(std::string_view text) {
  static std::mutex lock;
  static auto* table = new std::unordered_set<std::string>();
  std::lock_guard<std::mutex> hold(lock);
  return table->emplace(text).first->c_str();
}

}  // namespace

TextID::TextID(const char* text, bool /*copy*/) : text_(Intern(text ? text : "")) {}

TextID::TextID(std::string_view text) : text_(Intern(text)) {}
