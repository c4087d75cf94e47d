#include "apps/cli/command_line.h"

#include <cstdio>

const char* corvanta_version() { return CORVANTA_VERSION; }

std::string escaped_for_message(const std::string& text) {
  std::string out;
  for (const char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out;
}

// Whole decimal digits only: "12abc", "-3", "+3", " 3" and "" are all refused, so a typo
// never turns into a silently different run.
bool parse_decimal(const char* text, uint64_t max, uint64_t& value) {
  if (*text == '\0') return false;
  uint64_t v = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return false;
    v = v * 10 + static_cast<uint64_t>(*p - '0');
    if (v > max) return false;
  }
  value = v;
  return true;
}
