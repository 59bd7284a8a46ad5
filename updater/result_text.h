// The operator's text for each result code.
#ifndef FUSEUPDATE_RESULT_TEXT_H
#define FUSEUPDATE_RESULT_TEXT_H

#include <cstdint>

// The buffer must hold kResultTextBufferSize bytes; every text fits it with its terminator.
constexpr int kResultTextBufferSize = 50;

// Copies the code's text and its NUL to the start of p_message; the bytes after it stay as they
// were. Codes outside the table give "UNKNOWN ERROR".
void ResultCodeToText(int16_t code, char* p_message);

#endif
