// Failures as client and server name them. Every failure response carries a
// stable code beside its message ({"error": "...", "code": "key_taken"},
// docs/protocol.md "Failure codes"); the message is for people and may be
// reworded, the code is what programs decide by. The one table of codes:
//
//   code          kind                                                HTTP
//   key_taken     an insert of a key that holds a record              200
//   not_found     a delete, modification or translation of a key
//                 that holds no record                                200
//   width         a text longer than its column                       200
//   malformed     a request that is not JSON or does not fit the
//                 method; bytes that are not HTTP                     200, 400
//   no_method     an unknown module, method or path                   200, 404
//   refused       a request the server will not carry out as things
//                 stand (its database is gone, ...); a Host that is
//                 not one of the server's names                       200, 421
//   storage       the storage behind the server failed                200
//   unauthorized  the token is missing or wrong; a write sent by a
//                 page of another origin                              403
//   busy          the server holds as many connections as it takes    503
//   too_large     a body or headers over the limit                    200, 413, 431
//   unsupported   a compressed body or transfer coding; a call that
//                 is not application/json                             415
//   internal      an unexpected failure of the server                 200, 500
//   unknown_language  a record of a language the server does not list
//                 (its languages table)                               200
//   invalid_key   a record key whose program, form, component or
//                 property is empty or holds a control character     200
//
// The server raises a ServerFailureError (or one of the types below) where
// it decides the kind, or one of the system's failure types that it maps to
// a code; the client's result check raises the type of the code it gets
// (RaiseFailure). A response without a code (an older server) or with one
// this client does not know is FailureCode::Other: a ServerFailureError.
#pragma once

#include <string>
#include <string_view>

#include "platform/Errors.h"
#include "platform/Value.h"

namespace trd::protocol {

enum class FailureCode {
  Other,
  KeyTaken,
  NotFound,
  Width,
  Malformed,
  NoMethod,
  Refused,
  Storage,
  Unauthorized,
  Busy,
  TooLarge,
  Unsupported,
  Internal,
  UnknownLanguage,
  InvalidKey,
};

// The code's name on the wire ("key_taken", ...); "" for Other.
std::string_view FailureCodeName(FailureCode code);
// The code of a name; Other for "" and for a name not in the table.
FailureCode FailureCodeNamed(std::string_view name);

// A failure answer of `code`.
ServerFailure Failure(FailureCode code, std::string message);
// The code of a failure answered.
FailureCode CodeOf(const ServerFailure& failure);
// A failure response body: {"error": message, "code": name}.
std::string EncodeFailure(FailureCode code, std::string_view message);

// A failure of a named kind: raised by the server, and by the client's result
// check for a failure the server answered (its message as the server wrote it).
class ServerFailureError : public ServerError {
 public:
  ServerFailureError(FailureCode code, const std::string& message) : ServerError(message), code_(code) {}
  explicit ServerFailureError(const std::string& message) : ServerFailureError(FailureCode::Other, message) {}
  FailureCode Code() const { return code_; }

 private:
  FailureCode code_;
};

// The kinds a caller acts on, each a type of its own.
class KeyTakenError : public ServerFailureError {  // key_taken
 public:
  explicit KeyTakenError(const std::string& message) : ServerFailureError(FailureCode::KeyTaken, message) {}
};
class RecordMissingError : public ServerFailureError {  // not_found
 public:
  explicit RecordMissingError(const std::string& message) : ServerFailureError(FailureCode::NotFound, message) {}
};
class UnauthorizedError : public ServerFailureError {  // unauthorized
 public:
  explicit UnauthorizedError(const std::string& message)
      : ServerFailureError(FailureCode::Unauthorized, message) {}
};
class ServerBusyError : public ServerFailureError {  // busy
 public:
  explicit ServerBusyError(const std::string& message) : ServerFailureError(FailureCode::Busy, message) {}
};

// Raises the exception of the failure's code, with its message.
[[noreturn]] void RaiseFailure(const ServerFailure& failure);

}  // namespace trd::protocol
