// ReadJson against RapidJSON's own Reader: the same verdict on every text
// that stays within the nesting bound.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_checks.h"
#include "sdk/formats/json_reader.h"
#include "sdk/formats/rapidjson_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    (void)Korvo::LooksLikeJson(text);
    Korvo::BindingResult result = Korvo::ReadJson(text);
    Korvo::Fuzz::CheckResult(result);

    rapidjson::BaseReaderHandler<> handler;
    rapidjson::Reader reader;
    rapidjson::StringStream stream(text.c_str());
    rapidjson::ParseResult plain = reader.Parse<rapidjson::kParseDefaultFlags>(stream, handler);
    bool plainAccepts = !plain.IsError() || plain.Code() == rapidjson::kParseErrorDocumentEmpty;
    bool tooDeep = result.Failed() && result.ErrorMessage().find("nested deeper than") != std::string::npos;
    if (!tooDeep) Korvo::Fuzz::Check(result.Succeeded() == plainAccepts, "ReadJson agrees with RapidJSON");
    return 0;
}
