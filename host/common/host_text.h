// host/common/host_text.h - texts the host side hands to the plug-in or reads
// from its records.
#pragma once

#include <cstring>
#include <string>

namespace Korvo::Host {

// A NUL-terminated copy for a record the host fills; freed with delete[] by
// the release function that the host gives the record.
inline char* CopyText(const std::string& text) {
    auto* copy = new char[text.size() + 1];
    std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

// A record's text, empty where the record holds none.
inline std::string TextOrEmpty(const char* text) { return text ? std::string(text) : std::string(); }

// ASCII letters in lower case, every other byte as it is: for protocol names
// (HTTP header and host names), never for user text.
inline std::string LowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

}  // namespace Korvo::Host
