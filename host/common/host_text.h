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

}  // namespace Korvo::Host
