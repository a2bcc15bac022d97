// host/common/host_answers.h - what a host answers one plug-in, read from a
// file that plugin-host and plugin-check both take (--host-answers FILE), so
// that neither program knows any plug-in.
//
// The file is text, one entry a line; blank lines and lines starting with
// '#' are skipped:
//
//   PATH=JSON            the answer to the plug-in's GET PATH: the same text
//                        as plugin-check's --host-answer PATH=JSON, so a line
//                        moves between the file and a command line as it is
//   --NAME DESCRIPTION   an option of the plug-in's own, without a value:
//                        plugin-host accepts it on its command line (the
//                        plug-in reads the host's command line) and lists it
//                        in --help with DESCRIPTION
//
// Every error names the file and the line: "FILE:LINE: what is wrong".
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace Korvo::Host {

struct HostAnswer {
    std::string path;
    std::string json;
    std::string where;  // "FILE:LINE", or empty when given on a command line
};

struct PluginOption {
    std::string name;         // with its two dashes: "--verbose"
    std::string description;
    std::string where;        // "FILE:LINE"
};

struct HostAnswers {
    std::vector<HostAnswer> answers;   // in the file's order
    std::vector<PluginOption> options;
};

// Splits "PATH=JSON" at the first '='; false, with error saying why, when
// there is no '=' or PATH does not start with '/'. The JSON is not read here.
bool ParseHostAnswer(std::string_view text, HostAnswer& out, std::string& error);

// Appends what the file holds to out; false, with error naming the file and
// the line, when it cannot be read, a line is neither kind of entry, an
// answer is not JSON or an option name is not dashes, letters, digits and
// '-'. On failure out keeps what earlier files gave.
bool ReadHostAnswers(const std::string& path, HostAnswers& out, std::string& error);

}  // namespace Korvo::Host
