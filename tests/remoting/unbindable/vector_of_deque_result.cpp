// refused: std::deque<int>
// A handler's result: a vector binds only when its elements do.
#include <deque>
#include <vector>

#include "sdk/remoting/transport.h"

void Register(Korvo::HttpBaseTransport& transport) {
    transport.RegisterRoute(Korvo::HttpMethod::Get, "/notes", []() {
        return Korvo::HandlerResult<std::vector<std::deque<int>>>(std::vector<std::deque<int>>{});
    });
}
