// ReadMessagePack on any bytes.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_checks.h"
#include "sdk/formats/message_pack_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint32_t length = static_cast<uint32_t>(size);
    (void)Korvo::LooksLikeMessagePack(data, length);
    uint32_t position = 0;
    Korvo::BindingResult result = Korvo::ReadMessagePack(data, length, &position);
    Korvo::Fuzz::TreeShape shape = Korvo::Fuzz::CheckResult(result);
    Korvo::Fuzz::Check(position <= length, "the stop position lies within the data");
    // Every node but the root was announced by at least one byte.
    Korvo::Fuzz::Check(shape.nodes <= uint64_t{length} + 1, "no node without a byte");
    return 0;
}
