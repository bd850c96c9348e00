#include "Failures.h"

#include <utility>

#include "platform/Wire.h"

namespace trd::protocol {
namespace {

constexpr std::pair<FailureCode, std::string_view> kNames[] = {
    {FailureCode::KeyTaken, "key_taken"},
    {FailureCode::NotFound, "not_found"},
    {FailureCode::Width, "width"},
    {FailureCode::Malformed, "malformed"},
    {FailureCode::NoMethod, "no_method"},
    {FailureCode::Refused, "refused"},
    {FailureCode::Storage, "storage"},
    {FailureCode::Unauthorized, "unauthorized"},
    {FailureCode::Busy, "busy"},
    {FailureCode::TooLarge, "too_large"},
    {FailureCode::Unsupported, "unsupported"},
    {FailureCode::Internal, "internal"},
    {FailureCode::UnknownLanguage, "unknown_language"},
    {FailureCode::InvalidKey, "invalid_key"},
};

}  // namespace

std::string_view FailureCodeName(FailureCode code) {
  for (const auto& [c, name] : kNames)
    if (c == code) return name;
  return {};
}

FailureCode FailureCodeNamed(std::string_view name) {
  for (const auto& [c, n] : kNames)
    if (n == name) return c;
  return FailureCode::Other;
}

ServerFailure Failure(FailureCode code, std::string message) {
  return ServerFailure{std::move(message), std::string(FailureCodeName(code))};
}

FailureCode CodeOf(const ServerFailure& failure) { return FailureCodeNamed(failure.code); }

std::string EncodeFailure(FailureCode code, std::string_view message) {
  return wire::EncodeFailure(message, FailureCodeName(code));
}

void RaiseFailure(const ServerFailure& failure) {
  const FailureCode code = CodeOf(failure);
  switch (code) {
    case FailureCode::KeyTaken: throw KeyTakenError(failure.message);
    case FailureCode::NotFound: throw RecordMissingError(failure.message);
    case FailureCode::Unauthorized: throw UnauthorizedError(failure.message);
    case FailureCode::Busy: throw ServerBusyError(failure.message);
    default: throw ServerFailureError(code, failure.message);
  }
}

}  // namespace trd::protocol
