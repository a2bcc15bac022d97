// sdk/values/conversion_messages.h - every message of the conversions
// between values and native types.
//
// These texts reach clients as error messages, so their wording (quirks
// included) and placeholders are fixed; tests compare them exactly. %1, %2
// and %3 are filled by FormatToString (sdk/diagnostics/format.h).
#pragma once

namespace Korvo::ConversionMessage {

// ---- value to native

// %1 name
inline constexpr char kRequired[] = "A value for '%1' is required.";
// %1 name, %2 type name, %3 kind name
inline constexpr char kNumberInvalidType[] =
    "Couldn't assign value to '%1' of type %2 because the input is of an invalid type %3.";
// %1 the number or text, %2 name, %3 type name
inline constexpr char kOutOfRange[] = "Value %1 for '%2' of type %3 is out of range";
inline constexpr char kIncorrectFormat[] = "Value %1 for '%2' of type %3 is in an incorrect format";
// %1 the text, %2 name
inline constexpr char kBoolIncorrectFormat[] =
    "Value %1 for '%2' of type bool is in an incorrect format. Options are \"true\", \"false\", "
    "\"1\", \"0\".";
// %1 name, %2 kind name
inline constexpr char kBoolInvalidType[] =
    "Couldn't assign value to '%1' of type bool because the input is of an invalid type %2.";
// %1 name
inline constexpr char kNotAString[] = "Couldn't assign value to '%1' because the input is not a string.";
// %1 the number, %2 name
inline constexpr char kNoEnumeratorName[] = "%1 is not a valid enumeration value for '%2'.";
// %1 the number or text, %2 the enum's name, %3 name
inline constexpr char kNotAnEnumerator[] = "%1 is not a valid %2 enumeration value for '%3'.";
// %1 name, %2 kind name
inline constexpr char kEnumInvalidType[] =
    "Couldn't assign value to '%1' of enum type because the input is of an invalid type %2.";
// %1 name
inline constexpr char kBlobInvalidBase64[] =
    "Couldn't assign string value to '%1' of type blob because the input has invalid base64 "
    "characters.";
inline constexpr char kNotABlob[] = "Couldn't assign value to '%1' of type blob because the input is not a blob.";
inline constexpr char kNotACollection[] =
    "Couldn't assign value to '%1' of type vector because the input not a collection.";
inline constexpr char kMapNotAStructure[] =
    "Couldn't assign value to '%1' of type map because the input not a structure.";
inline constexpr char kUnregisteredStructure[] =
    "Couldn't assign value to '%1' because the input is an unregistered structure or not a "
    "structure at all.";
// %1 name, %2 the struct's name
inline constexpr char kNotAStructure[] =
    "Couldn't assign value to '%1' of type %2 because the input not a structure.";
// %1 name, %2 the struct's name, %3 the field's name
inline constexpr char kMissingRequiredField[] =
    "Couldn't assign value to '%1' of type %2 because the input structure doesn't have required "
    "field '%3'.";

// ---- native to value

inline constexpr char kUnregisteredNativeStructure[] =
    "Couldn't convert native value because it's an unregistered structure.";

// ---- host values to values

// %1 the root name, %2 the host type's name
inline constexpr char kIncompatibleHostValue[] =
    "Couldn't assign value to '%1' of type object because the input is of an incompatible type "
    "'%2'.";
// %1 the root name
inline constexpr char kHostValueOutOfMemory[] = "Out of memory while reading '%1'.";

}  // namespace Korvo::ConversionMessage
