// Number and list parsing for the simulator's settings.
#include "number_text.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace sim {

bool ParseInteger(const std::string& text, int64_t minimum, int64_t maximum, int64_t* value) {
  size_t position = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (negative) position = 1;
  int base = 10;
  if (text.size() > position + 1 && text[position] == '0' &&
      (text[position + 1] == 'x' || text[position + 1] == 'X')) {
    base = 16;
    position += 2;
  }
  if (position >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[position]))) {
    return false;
  }
  errno = 0;
  char* end = nullptr;
  const unsigned long long magnitude = std::strtoull(text.c_str() + position, &end, base);
  if (errno != 0 || *end != '\0' || magnitude > static_cast<unsigned long long>(INT64_MAX)) {
    return false;
  }
  const int64_t number =
      negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
  if (number < minimum || number > maximum) return false;
  *value = number;
  return true;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (true) {
    const size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return std::string();
  const size_t last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

}  // namespace sim
