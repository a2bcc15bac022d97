// sdk/formats/rapidjson_reader.h - RapidJSON's SAX Reader and its English
// error texts, for the JSON reader (and the tests and fuzz target that
// compare against a plain Reader). Include this rather than the RapidJSON
// headers themselves.
//
// RapidJSON 1.1.0's internal stack tests for room with "stackTop_ + n >
// stackEnd_" while both pointers are still null, which is pointer arithmetic
// on null: harmless on every compiler we use, but clang's
// UndefinedBehaviorSanitizer stops on it. That one check is switched off for
// RapidJSON's functions only; our own code keeps it.
#pragma once

#if defined(__clang__)
#pragma clang attribute push(__attribute__((no_sanitize("pointer-overflow"))), apply_to = function)
#endif

#include <rapidjson/error/en.h>
#include <rapidjson/reader.h>

#if defined(__clang__)
#pragma clang attribute pop
#endif
