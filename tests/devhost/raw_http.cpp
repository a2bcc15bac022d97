#include "tests/devhost/raw_http.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>

namespace Korvo::Host::Testing {

namespace {

constexpr int kReceiveTimeoutSeconds = 30;

bool EqualsNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

// Closes the socket however the exchange ends.
struct Socket {
    int fd = -1;
    ~Socket() {
        if (fd >= 0) close(fd);
    }
};

// The status line and headers of received, once its header block is
// complete; body holds what came after it.
std::optional<RawAnswer> ParseHead(const std::string& received) {
    size_t headerEnd = received.find("\r\n\r\n");
    if (headerEnd == std::string::npos || received.rfind("HTTP/1.1 ", 0) != 0) return std::nullopt;
    RawAnswer answer;
    answer.status = std::atoi(received.c_str() + 9);
    size_t line = received.find("\r\n") + 2;
    while (line < headerEnd) {
        size_t lineEnd = received.find("\r\n", line);
        std::string text = received.substr(line, lineEnd - line);
        size_t colon = text.find(':');
        if (colon != std::string::npos) {
            size_t valueStart = text.find_first_not_of(' ', colon + 1);
            answer.headers.emplace_back(text.substr(0, colon),
                                        valueStart == std::string::npos ? "" : text.substr(valueStart));
        }
        line = lineEnd + 2;
    }
    answer.body = received.substr(headerEnd + 4);
    return answer;
}

}  // namespace

std::optional<std::string> RawAnswer::Header(const std::string& name) const {
    for (const auto& [key, value] : headers) {
        if (EqualsNoCase(key, name)) return value;
    }
    return std::nullopt;
}

std::optional<RawAnswer> ExchangeRaw(int port, const std::string& request) {
    Socket connection{::socket(AF_INET, SOCK_STREAM, 0)};
    if (connection.fd < 0) return std::nullopt;
    timeval timeout{kReceiveTimeoutSeconds, 0};
    setsockopt(connection.fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(connection.fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        return std::nullopt;
    }

    for (size_t sent = 0; sent < request.size();) {
        ssize_t n = send(connection.fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        // The server may answer and close before it has read everything (a
        // body it refuses); what it answered is still there to read.
        if (n <= 0) break;
        sent += static_cast<size_t>(n);
    }
    std::string received;
    char buffer[16384];
    for (;;) {
        ssize_t n = recv(connection.fd, buffer, sizeof(buffer), 0);
        if (n <= 0) return n == 0 ? ParseHead(received) : std::nullopt;
        received.append(buffer, static_cast<size_t>(n));
        std::optional<RawAnswer> answer = ParseHead(received);
        if (!answer) continue;
        std::optional<std::string> length = answer->Header("Content-Length");
        if (!length) continue;
        const size_t expected = std::strtoull(length->c_str(), nullptr, 10);
        if (answer->body.size() >= expected) {
            answer->body.resize(expected);
            return answer;
        }
    }
}

}  // namespace Korvo::Host::Testing
