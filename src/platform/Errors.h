// Failure types of the system. Every failure is an exception derived from
// trd::Error whose message says what went wrong and, where it helps, where
// (file, field, offset) so that a person can act on it.
#pragma once

#include <stdexcept>
#include <string>

namespace trd {

class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A value does not fit a field (width, type) or a field name is unknown.
class FieldError : public Error {
 public:
  using Error::Error;
};

// A text longer than its field's width (in characters).
class WidthError : public FieldError {
 public:
  using FieldError::FieldError;
};

// An operation on a staging table that its state does not allow
// (posting while browsing, editing an empty table, ...).
class DataSetError : public Error {
 public:
  using Error::Error;
};

// The translation server could not be reached, or the transport broke.
class ConnectionError : public Error {
 public:
  using Error::Error;
};

// The translation server answered with a failure (raised by the result check).
class ServerError : public Error {
 public:
  using Error::Error;
};

// A request or response on the wire is malformed.
class ProtocolError : public Error {
 public:
  using Error::Error;
};

// A source file (form or report) cannot be opened or read, is not a regular
// file, or is larger than the limit.
class FileError : public Error {
 public:
  using Error::Error;
};

// A form, report or exchange (PO, XLIFF) file is malformed or truncated.
class FormatError : public Error {
 public:
  using Error::Error;
};

// An error of the storage behind the translation server.
class StorageError : public Error {
 public:
  using Error::Error;
};

}  // namespace trd
