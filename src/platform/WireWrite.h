// Direct JSON writer for the wire encoding: appends the same text that
// nlohmann::json's dump() gives for wire::ToJson(value), without building a
// document first. Requests and results are written on every server call, so
// this path matters; decoding stays with the checked DOM reader in Wire.cpp.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "Value.h"

namespace trd::wire {

// Appends a JSON string literal; invalid UTF-8 becomes U+FFFD.
void AppendJsonString(std::string& out, std::string_view s);
// Appends the JSON of a value in the tagged wire encoding.
void AppendJsonValue(std::string& out, const Value& v);

// The bytes those append, counted without writing them.
std::size_t JsonStringSize(std::string_view s);
std::size_t JsonValueSize(const Value& v);

}  // namespace trd::wire
