// ReadJson against RapidJSON's own Reader: the same verdict on every text
// that stays within the nesting bound; and, on every text it reads, the
// same tree as the same events written through the property API one by one
// (Member for each name, Append for each element), which is what the tree
// builder must reproduce.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_checks.h"
#include "sdk/formats/json_reader.h"
#include "sdk/formats/rapidjson_reader.h"

namespace {

// Writes each event into the tree at once, as the readers did before they
// had a builder: a repeated name is the same member again, an array or
// object meeting one of its kind adds to it, null leaves what is there.
class DirectHandler : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, DirectHandler> {
public:
    explicit DirectHandler(Korvo::BindingProperty& root) : root_(root) {}

    bool Null() { return Place(), true; }
    bool Bool(bool value) { return Place().SetBool(value), true; }
    bool Int(int value) { return Place().SetSigned(value), true; }
    bool Uint(unsigned value) { return Place().SetUnsigned(value), true; }
    bool Int64(int64_t value) { return Place().SetSigned(value), true; }
    bool Uint64(uint64_t value) { return Place().SetUnsigned(value), true; }
    bool Double(double value) { return Place().SetFloat(value), true; }
    bool String(const char* text, rapidjson::SizeType length, bool) {
        return Place().SetString(std::string_view(text, strnlen(text, length))), true;
    }
    bool Key(const char* text, rapidjson::SizeType length, bool) {
        keyed_ = &open_.back()->Member(std::string_view(text, strnlen(text, length)));
        return true;
    }
    bool StartObject() { return Open(Korvo::BindingPropertyKind::Structure); }
    bool StartArray() { return Open(Korvo::BindingPropertyKind::Collection); }
    bool EndObject(rapidjson::SizeType) { return Close(); }
    bool EndArray(rapidjson::SizeType) { return Close(); }

private:
    Korvo::BindingProperty& Place() {
        if (open_.empty()) return root_;
        if (open_.back()->Is(Korvo::BindingPropertyKind::Collection) && keyed_ == nullptr) {
            return open_.back()->Append();
        }
        Korvo::BindingProperty* target = keyed_;
        keyed_ = nullptr;
        return *target;
    }
    bool Open(Korvo::BindingPropertyKind kind) {
        Korvo::BindingProperty& target = Place();
        if (!target.Is(kind)) {
            if (kind == Korvo::BindingPropertyKind::Collection) {
                target.SetCollection();
            } else {
                target.SetStructure();
            }
        }
        open_.push_back(&target);
        return true;
    }
    bool Close() {
        open_.pop_back();
        return true;
    }

    Korvo::BindingProperty& root_;
    std::vector<Korvo::BindingProperty*> open_;
    Korvo::BindingProperty* keyed_ = nullptr;
};

}  // namespace

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

    if (result.Succeeded()) {
        Korvo::BindingProperty direct;
        DirectHandler writer(direct);
        rapidjson::StringStream again(text.c_str());
        reader.Parse<rapidjson::kParseDefaultFlags>(again, writer);
        Korvo::Fuzz::Check(direct == result.Value(), "ReadJson builds the tree the property API builds");
    }
    return 0;
}
