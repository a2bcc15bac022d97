// sdk/diagnostics/assertion.cpp - assertion reports.
#include "sdk/diagnostics/assertion.h"

#include "sdk/diagnostics/log.h"

namespace Korvo {

namespace {

bool Given(const char* text) noexcept { return text != nullptr && text[0] != '\0'; }

}  // namespace

std::string FormatAssertionFailure(const char* expression, const char* description, const char* file,
                                   uint32_t line, const char* function) {
    std::string report = "Assertion failed!\n\n";
    if (Given(file)) {
        // One line feed only: the line section follows on the next line.
        report += "File: ";
        report += file;
        report += "\n";
    }
    if (line != 0) {
        report += "Line: ";
        report += std::to_string(line);
        report += "\n\n";
    }
    if (Given(function)) {
        report += "Function: ";
        report += function;
        report += "\n\n";
    }
    if (Given(expression)) {
        report += "Expression: ";
        report += expression;
    }
    if (Given(description)) {
        report += "\n\nDescription: ";
        report += description;
    }
    return report;
}

void ReportAssertionFailure(const char* expression, const char* description, const char* file, uint32_t line,
                            const char* function) noexcept {
    try {
        const std::string report = FormatAssertionFailure(expression, description, file, line, function);
        LogMessage(Error, kLogGroupDebug, "%s", report.c_str());
    } catch (...) {
        if (Given(expression)) {
            LogMessage(Error, kLogGroupDebug, "Assertion failed!\n\nExpression: %s", expression);
        } else {
            LogMessage(Error, kLogGroupDebug, "Assertion failed!\n\n");
        }
    }
}

}  // namespace Korvo
