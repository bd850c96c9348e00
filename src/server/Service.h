// The translation server's request handling: decodes a request, runs the
// named method of one of the four data modules on the storage, and encodes
// the response. Transport-free: the HTTP front hands it the encoded request,
// the in-process transport the request's values (Answer), which are held to
// the same limits and checks.
//
// Modules and methods: protocol/Methods.h (names compared ignoring ASCII
// case); their arguments and results are described in docs/server.md.
//
// Thread-safe: requests may be handled concurrently; each takes a storage
// session for its length.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "Database.h"
#include "Roles.h"
#include "Users.h"
#include "platform/Connection.h"
#include "platform/Value.h"

namespace trd::server {

inline constexpr std::size_t kDefaultMaxRequestBytes = std::size_t(8) << 20;  // 8 MiB

struct ServiceOptions {
  // A larger request body is refused with a failure response, undecoded.
  std::size_t max_request_bytes = kDefaultMaxRequestBytes;
  // The server's log (trd serve: standard error); may be empty. Told once
  // when the storage is found gone (DatabaseGoneError): from then on every
  // change is refused.
  std::function<void(const std::string&)> log = {};
};

// What a request asks of the server, as its workers are scheduled:
//   Change   may write (the harvest's batches, translations, reviews)
//   LookUp   reads a few records by key, language or program that a client
//            waits on to go on (the languages, a record, the run's coverage)
//   Browse   pages through or searches the table (the page's listings and
//            searches, the exports' pages, suggestions, history): the bulk
//            reads, which may be many at once
enum class Workload { Change, LookUp, Browse };

class Service {
 public:
  // Serves `db`, first creating its missing tables (EnsureSchema).
  // Throws StorageError when the schema cannot be created.
  explicit Service(std::shared_ptr<Database> db, ServiceOptions options = {});
  // Opens the database named by `db_url` (see OpenDatabase) and serves it.
  static std::shared_ptr<Service> Open(std::string_view db_url, ServiceOptions options = {});

  // Handles one encoded request and returns the encoded response. Never
  // throws: every failure (oversized or malformed body, unknown module or
  // method, wrong arguments, refused data, storage failure) becomes a failure
  // response with its code (protocol/Failures.h) whose message starts with
  // "MODULE.METHOD: " once the request was decoded.
  // `caller` is who sent it (Roles.h): the author of the changes it makes;
  // a method its role does not permit fails with code refused before it
  // reads or writes anything.
  std::string Handle(std::string_view body, const Caller& caller = {}) noexcept;

  // Handle() for a request given as values: the answer Handle() would encode
  // (a ServerFailure for a failure response), with the same failures: the
  // size limit counted on the request's encoding, the decoder's checks and
  // changes (wire::Carried), then Call(). Never throws.
  Value Answer(const wire::Request& request, const Caller& caller = {}) noexcept;

  // Runs one method and returns its result: a packet for the look-ups, null
  // for the methods that change data. Throws trd::Error subclasses
  // (protocol::ServerFailureError of code no_method for an unknown module or
  // method, ProtocolError for a request that does not fit the method,
  // WidthError for a text too long for its column, protocol::KeyTakenError
  // and RecordMissingError for a key that holds a record or none,
  // StorageError for refused or failed data).
  Value Call(std::string_view module, std::string_view method, std::span<const Value> args,
             const Caller& caller = {});

  // The work an encoded request names, judged from its method name alone
  // without decoding it: for scheduling only (the HTTP front gives each its
  // own workers, HttpSession.h); Handle() decides everything else. Change
  // when the name cannot be found.
  static Workload WorkloadOf(std::string_view body) noexcept;

  // Handle() as a handler for MakeInProcessTransport. The service must outlive
  // every transport made with it.
  RequestHandler Handler();
  // Answer() as the value handler of an in-process transport; likewise.
  ValueHandler Values();

  // The user a request's token belongs to, when it is not the server's own
  // token (Users.h). Throws StorageError when the users cannot be read.
  TokenVerifier::Holder Identify(std::string_view token);

  const ServiceOptions& Options() const { return options_; }
  Database& Storage() { return *db_; }

 private:
  ServerFailure TooLarge(std::size_t bytes) const;
  // The failure answer of the exception being handled (called in a catch
  // block); `where` ("MODULE.METHOD: ") starts its message.
  ServerFailure Failed(const std::string& where) noexcept;

  std::shared_ptr<Database> db_;
  ServiceOptions options_;
  std::atomic<bool> gone_logged_{false};
  TokenVerifier tokens_;
};

}  // namespace trd::server
