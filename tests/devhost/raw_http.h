// tests/devhost/raw_http.h - one HTTP/1.1 exchange over a fresh loopback
// connection, with the request written byte for byte as given: for the
// answers to what a client library would never send (a PUT without any
// Content-Length, a malformed request line), and to see every header of the
// answer as it came.
//
// POSIX only, like the development host.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace Korvo::Host::Testing {

struct RawAnswer {
    int status = 0;
    std::vector<std::pair<std::string, std::string>> headers;  // in order, as received
    std::string body;

    // The first header of that name (case-insensitive), or nothing.
    std::optional<std::string> Header(const std::string& name) const;
};

// Writes request to 127.0.0.1:port and reads one answer: its header block,
// then Content-Length bytes of body, or without Content-Length everything
// until the server closes the connection (send "Connection: close"). Nothing
// when there is no connection, or no complete answer within 30 s.
std::optional<RawAnswer> ExchangeRaw(int port, const std::string& request);

}  // namespace Korvo::Host::Testing
