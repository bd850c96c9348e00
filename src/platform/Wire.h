// The one wire encoding shared by client and server (JSON; see
// docs/protocol.md). Decoding never trusts its input: every malformed shape
// raises ProtocolError with a message naming what is wrong.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "Value.h"

namespace trd::wire {

// Bounds on what one message may declare, far above any method or table
// (9 arguments, 10 columns at most) and checked before anything is decoded,
// so that a hostile request is refused rather than expanded in memory.
inline constexpr std::size_t kMaxArguments = 64;
inline constexpr std::size_t kMaxFields = 1024;
inline constexpr std::int64_t kMaxFieldSize = 1'000'000;

struct Request {
  std::string module;
  std::string method;
  std::vector<Value> args;
};

nlohmann::json ToJson(const Value& v);
Value FromJson(const nlohmann::json& j);

nlohmann::json PacketToJson(const Packet& p);
Packet PacketFromJson(const nlohmann::json& j);
nlohmann::json ChangeSetToJson(const ChangeSet& c);
ChangeSet ChangeSetFromJson(const nlohmann::json& j);

std::string EncodeRequest(const Request& r);
// EncodeRequest(r) into `out`, replacing what it held: a caller sending
// request after request keeps one buffer's room instead of growing a new
// text (of up to a megabyte) for each.
void EncodeRequestInto(const Request& r, std::string& out);
// EncodeRequest(r).size(), without building the text.
std::size_t EncodedRequestSize(const Request& r);
Request DecodeRequest(std::string_view body);

// A response carries either a result value or a failure: its message and,
// when given, its code. A ServerFailure result is encoded as a failure.
std::string EncodeResult(const Value& v);
std::string EncodeFailure(std::string_view message, std::string_view code = {});
// Returns the result, or a ServerFailure value for a failure response.
Value DecodeResponse(std::string_view body);

}  // namespace trd::wire
