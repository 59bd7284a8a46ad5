// Diagnostics: one line on standard error, "(module:line) text". Every module of the library and
// the update program reports through these macros, after defining kDiagnosticModule.
#ifndef FUSEKIT_DIAGNOSTIC_H
#define FUSEKIT_DIAGNOSTIC_H

namespace fusekit {

// Writes "(module:line) ", the formatted text and, when line_end is set, a line feed.
void Report(const char* module, int line, bool line_end, const char* format, ...)
    __attribute__((format(printf, 4, 5)));

}  // namespace fusekit

#define DIAGNOSTIC(...) ::fusekit::Report(kDiagnosticModule, __LINE__, true, __VA_ARGS__)
// The one report without a line end: the next report continues its line.
#define DIAGNOSTIC_NO_LINE_END(...) \
  ::fusekit::Report(kDiagnosticModule, __LINE__, false, __VA_ARGS__)

#endif
