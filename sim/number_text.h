// Numbers in the simulator's settings: decimal or 0x-prefixed hexadecimal, optionally negative.
#ifndef FUSEKIT_SIM_NUMBER_TEXT_H
#define FUSEKIT_SIM_NUMBER_TEXT_H

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// Parses all of `text` as an integer within [minimum, maximum]. Returns false for anything else
// (empty text, stray characters, out of range).
bool ParseInteger(const std::string& text, int64_t minimum, int64_t maximum, int64_t* value);

// Splits `text` at every `separator`.
std::vector<std::string> Split(const std::string& text, char separator);

// `text` without leading and trailing blanks.
std::string Trim(const std::string& text);

}  // namespace sim

#endif
