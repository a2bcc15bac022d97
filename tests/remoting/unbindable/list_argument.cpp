// refused: std::(__cxx11::)?list<
// A route handler's argument.
#include <list>
#include <string>

#include "sdk/remoting/transport.h"

void Register(Korvo::HttpBaseTransport& transport) {
    transport.RegisterRoute(Korvo::HttpMethod::Post, "/notes", [](std::list<std::string> lines) {
        return Korvo::HandlerResult<int32_t>(static_cast<int32_t>(lines.size()));
    });
}
