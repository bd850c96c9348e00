// Decoding the wire's usual messages straight from the text into values,
// without a JSON document in between (every text is built once), with
// simdjson's on-demand reader (its portable kernel: the reader's kernel is
// chosen when this is compiled, and the build targets every x86-64).
//
// Contract: each function returns a value only for a message it reads
// completely and finds well-formed; the value is then exactly the one
// DecodeRequest / DecodeResponse (Wire.h) would give. For anything else
// (malformed text or shape, a bound exceeded, a member it does not expect
// or in an order it does not follow, a change set) it returns nothing and
// never throws for the input, so the caller decodes through the document,
// which holds the accepted inputs and the error messages. Members it
// follows: a request's "module", "method", "args" in any order, a
// response's "result" alone, and a packet's "fields" before its "rows".
#pragma once

#include <optional>
#include <string_view>

#include "Value.h"
#include "Wire.h"

namespace trd::wire {

std::optional<Request> ReadRequest(std::string_view body);
std::optional<Value> ReadResult(std::string_view body);

}  // namespace trd::wire
