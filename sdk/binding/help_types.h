// sdk/binding/help_types.h - the records with which an API describes itself.
//
// Every registry carries these builtin types (tags "$builtin" and "help"):
// a help format and records for a type identifier, a function argument, a
// function, an enumerator, a struct field, a type, an event and a whole
// API. They are plain native records: the layout comments give the offsets
// of the 32-bit Windows build (std::string 24 bytes, std::vector 12, bool 1,
// natural alignment), where the registry reports exactly these numbers.
// The host reads these descriptions by name and offset: their odd shape (field
// order, int32 enums, the naming) is the contract's, not to be tidied up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Korvo {

class BindingRegistry;

struct BindingHelpProvider {
    // Registered as "BindingHelpFormat".
    enum class HelpFormat : int32_t {
        Full = 1,     // native help format
        Epytext = 2,  // Python epytext format
    };

    // "BindingFullTypeIdentifier", 48 bytes.
    struct FullTypeIdentifier {
        std::string type;         // +0
        std::string elementType;  // +24
    };

    // "BindingFullArgumentHelp", 100 bytes.
    struct FullArgumentHelp {
        std::string name;          // +0
        std::string description;   // +24
        FullTypeIdentifier type;   // +48
        bool optional = false;     // +96
    };

    // "BindingFullFunctionHelp", 196 bytes.
    struct FullFunctionHelp {
        std::string name;                         // +0
        std::string nameSpace;                    // +24
        std::vector<FullArgumentHelp> arguments;  // +48
        FullTypeIdentifier returns;               // +60
        std::string description;                  // +108
        std::string help;                         // +132
        bool threadSafe = false;                  // +156
        std::string async;                        // +160
        std::vector<std::string> tags;            // +184
    };

    // "BindingFullEnumValueHelp", 52 bytes.
    struct FullEnumValueHelp {
        std::string name;         // +0
        std::string description;  // +24
        int32_t value = 0;        // +48
    };

    // "BindingFullFieldHelp", 104 bytes.
    struct FullFieldHelp {
        std::string name;         // +0
        std::string description;  // +24
        uint32_t offset = 0;      // +48
        FullTypeIdentifier type;  // +52
        bool optional = false;    // +100
    };

    // "BindingFullTypeHelp", 112 bytes.
    struct FullTypeHelp {
        std::string name;                       // +0
        std::string nameSpace;                  // +24
        uint32_t size = 0;                      // +48
        std::string description;                // +52
        std::vector<std::string> tags;          // +76
        std::vector<FullFieldHelp> fields;      // +88
        std::vector<FullEnumValueHelp> values;  // +100
    };

    // "BindingFullEventHelp", 132 bytes.
    struct FullEventHelp {
        std::string name;         // +0
        std::string nameSpace;    // +24
        FullTypeIdentifier type;  // +48
        std::string description;  // +96
        std::vector<std::string> tags;  // +120
    };

    // "BindingFullApiHelp", 36 bytes.
    struct FullApiHelp {
        std::vector<FullFunctionHelp> functions;  // +0
        std::vector<FullTypeHelp> types;          // +12
        std::vector<FullEventHelp> events;        // +24
    };
};

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(BindingHelpProvider::HelpFormat) == 4);
static_assert(sizeof(BindingHelpProvider::FullTypeIdentifier) == 48);
static_assert(sizeof(BindingHelpProvider::FullArgumentHelp) == 100);
static_assert(sizeof(BindingHelpProvider::FullFunctionHelp) == 196);
static_assert(sizeof(BindingHelpProvider::FullEnumValueHelp) == 52);
static_assert(sizeof(BindingHelpProvider::FullFieldHelp) == 104);
static_assert(sizeof(BindingHelpProvider::FullTypeHelp) == 112);
static_assert(sizeof(BindingHelpProvider::FullEventHelp) == 132);
static_assert(sizeof(BindingHelpProvider::FullApiHelp) == 36);
#endif

// Registers the help format and the eight help records, in that order (each
// record after the records it contains), with their fields, descriptions and
// the tags "$builtin" and "help". Register-once: a second run changes
// nothing.
void RegisterHelpTypes(BindingRegistry& registry);

}  // namespace Korvo
