#include "host/common/host_answers.h"

#include <fstream>

#include "host/common/host_value_json.h"

namespace Korvo::Host {

namespace {

constexpr std::string_view kBlanks = " \t\r";

std::string_view Trimmed(std::string_view text) {
    const size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

bool IsOptionName(std::string_view name) {
    if (name.size() < 3 || !name.starts_with("--") || name[2] == '-') return false;
    for (char c : name.substr(2)) {
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!letter && !(c >= '0' && c <= '9') && c != '-') return false;
    }
    return true;
}

}  // namespace

bool ParseHostAnswer(std::string_view text, HostAnswer& out, std::string& error) {
    const size_t equals = text.find('=');
    if (equals == std::string_view::npos || equals == 0) {
        error = "expected PATH=JSON, not '" + std::string(text) + "'";
        return false;
    }
    if (text[0] != '/') {
        error = "the path of an answer starts with '/', not '" + std::string(text.substr(0, equals)) + "'";
        return false;
    }
    out.path = std::string(text.substr(0, equals));
    out.json = std::string(text.substr(equals + 1));
    return true;
}

bool ReadHostAnswers(const std::string& path, HostAnswers& out, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read the host answers file " + path;
        return false;
    }
    HostAnswers read;
    std::string line;
    for (size_t number = 1; std::getline(in, line); ++number) {
        const std::string where = path + ":" + std::to_string(number);
        const std::string_view entry = Trimmed(line);
        if (entry.empty() || entry[0] == '#') continue;
        if (entry.starts_with("--")) {
            const size_t blank = entry.find_first_of(kBlanks);
            const std::string_view name = entry.substr(0, blank);
            if (!IsOptionName(name)) {
                error = where + ": an option of the plug-in is --NAME (letters, digits and '-'), not '" +
                        std::string(name) + "'";
                return false;
            }
            const std::string_view description =
                blank == std::string_view::npos ? std::string_view() : Trimmed(entry.substr(blank));
            read.options.push_back(PluginOption{std::string(name), std::string(description), where});
            continue;
        }
        if (entry.find('=') == std::string_view::npos) {
            error = where + ": expected PATH=JSON or --OPTION DESCRIPTION, not '" + std::string(entry) + "'";
            return false;
        }
        HostAnswer answer;
        std::string why;
        if (!ParseHostAnswer(entry, answer, why)) {
            error = where + ": " + why;
            return false;
        }
        OwnedHostValue ignored;
        if (!JsonToHostValue(answer.json, ignored, why)) {
            error = where + ": the answer for " + answer.path + " is not JSON: " + why;
            return false;
        }
        answer.where = where;
        read.answers.push_back(std::move(answer));
    }
    if (in.bad()) {
        error = "cannot read the host answers file " + path;
        return false;
    }
    out.answers.insert(out.answers.end(), read.answers.begin(), read.answers.end());
    out.options.insert(out.options.end(), read.options.begin(), read.options.end());
    return true;
}

}  // namespace Korvo::Host
