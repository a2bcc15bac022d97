// sdk/diagnostics/assertion.h - reports of conditions that must hold and do
// not.
//
// \file
// The report is a multi-line text:
//   Assertion failed!
//   <blank line>
//   File: <file>            (when a file name is given)
//   Line: <line>            (when the line is not 0), then a blank line
//   Function: <function>    (when given), then a blank line
//   Expression: <expression>            (when given; no line break after)
//   <blank line>Description: <description>   (when given)
// ReportAssertionFailure logs it at level Error in group "DBG" as one
// record and returns; what happens next is the caller's decision. Any
// thread may report. Every text may be null or empty.
#pragma once

#include <cstdint>
#include <string>

namespace Korvo {

// Builds the report without logging it. Throws std::bad_alloc only.
std::string FormatAssertionFailure(const char* expression, const char* description, const char* file,
                                   uint32_t line, const char* function);

// Builds the report and logs it; never throws (without memory for the
// report, logs the expression alone).
void ReportAssertionFailure(const char* expression, const char* description, const char* file, uint32_t line,
                            const char* function) noexcept;

}  // namespace Korvo
