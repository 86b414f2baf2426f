#include "damageText.h"

#include <cinttypes>
#include <cstdio>

namespace damageText {

std::string atOffset(uint64_t pos) { return " at offset " + std::to_string(pos); }

std::string hexByte(unsigned b) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", b & 0xFFu);
  return text;
}

std::string fourccText(uint32_t code) {
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const char c = static_cast<char>(code >> shift & 0xFF);
    if (c < 0x20 || c > 0x7E) {
      char hex[16];
      std::snprintf(hex, sizeof hex, "0x%08" PRIX32, code);
      return hex;
    }
    text += c;
  }
  while (text.size() > 1 && text.back() == ' ') text.pop_back();  // "VP8 " is VP8
  return text;
}

misc_error truncated(const std::string& what) {
  return misc_error("", (" is truncated: " + what).c_str());
}

misc_error damaged(const std::string& what) { return misc_error("", (" is damaged: " + what).c_str()); }

misc_error damagedIn(const std::string& container, const std::string& what) {
  return misc_error("", (" has a damaged " + container + ": " + what).c_str());
}

}  // namespace damageText
