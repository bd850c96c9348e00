// Remote connection to one data module of the translation server, with
// late-bound calls by method name: what the client's remote connection
// component does.
//
// A Connection takes its host and port just before it opens (the caller sets
// them) and makes its transport with the factory it was given: HTTP/1.1 on a
// kept-alive socket by default, or for example the in-process transport,
// which hands the request to a server object living in this process.
//
// Call() returns the server's result; a failure answered by the server comes
// back as a ServerFailure value for the result check to raise. A transport
// failure (refused, timed out, broken) raises ConnectionError.
//
// Resending: a request is sent a second time (once, on a fresh connection)
// only when it is a look-up (a method whose name starts with "Get", ASCII
// case ignored: those only read) that went out on a kept-alive connection
// which broke before any answer came back, quicker than the read timeout: the
// server was restarted or closed the idle connection. A method that changes
// data (Set..., UpdateRelDfm) is never resent, because a connection that
// breaks after the request went out cannot tell whether the server applied
// it; the caller gets ConnectionError and decides. (A connection the server
// closed while idle is noticed before sending and replaced, so it costs no
// failure either way.)
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Value.h"
#include "Wire.h"

namespace trd {

// Carries one encoded request to the server and returns its encoded response.
class Transport {
 public:
  virtual ~Transport() = default;
  // Throws ConnectionError when the exchange cannot be completed.
  virtual std::string Exchange(const std::string& request) = 0;
  // Answers a whole call: by default encodes the request, exchanges it and
  // decodes the response. A transport living in memory may answer values
  // directly (see MakeValueTransport).
  virtual Value Call(const wire::Request& request);
};

// Answers calls with values, without any encoding: for measuring and testing
// the client side alone. Exchange() of such a transport decodes, answers and
// encodes, so it still speaks the wire encoding when asked to.
using ValueHandler = std::function<Value(const wire::Request&)>;
std::unique_ptr<Transport> MakeValueTransport(ValueHandler handler);

struct HttpOptions {
  std::chrono::milliseconds connect_timeout{3000};
  std::chrono::milliseconds read_timeout{30000};  // also the write timeout
  std::string token;  // sent as the X-Trd-Token header when not empty
};

// The options of the default transport, from the environment:
//   TRD_TOKEN, TRD_TOKEN_FILE  the token (TokenFromEnvironment);
//   TRD_CONNECT_TIMEOUT_MS  connect timeout in milliseconds (default 3000);
//   TRD_READ_TIMEOUT_MS     read and write timeout in milliseconds (default
//                           30000).
// Throws Error for a timeout that is not a whole number from 1 to 86400000
// or a token file that cannot be used.
HttpOptions HttpOptionsFromEnvironment();

// The shared secret held in the file at `path` (see TokenFromText). Throws
// Error naming the file when it cannot be read or holds no token. `too_open`
// (when given) is set when the file grants anything to its group or to
// others (mode & 077).
std::string ReadTokenFile(const std::string& path, bool* too_open = nullptr);

// The token the environment sets, for the server and the clients alike:
// TRD_TOKEN (see TokenFromText) when set and not empty, else the file
// TRD_TOKEN_FILE names (see ReadTokenFile); nullopt when neither is set.
// Throws Error as those do.
struct TokenSetting {
  std::string token;
  std::string file;       // the file it was read from; empty for TRD_TOKEN
  bool too_open = false;  // that file grants anything to its group or others
};
std::optional<TokenSetting> TokenFromEnvironment();

// The token written in `text` (a token file's contents, TRD_TOKEN): without
// the blanks, tabs and line breaks around it, since an HTTP header value
// arrives without them. Throws Error naming `source` when nothing is left,
// or when the token holds a control character (it goes into an HTTP header).
std::string TokenFromText(std::string_view text, const std::string& source);

// Whether `method` only reads (its name starts with "Get"), so that sending it
// twice cannot change anything.
bool IsLookup(std::string_view method);

// HTTP/1.1 POST /call on one kept-alive connection, TCP_NODELAY on.
std::unique_ptr<Transport> MakeHttpTransport(std::string host, int port, HttpOptions options = {});

// Handles an encoded request and returns the encoded response (the server's
// entry point); must not throw.
using RequestHandler = std::function<std::string(std::string_view)>;
// A server in this process. Every call is encoded and handed to `handler`,
// unless `values` is given: then Call() hands it the request's values and
// takes its answer's (a ServerFailure for a failure response), which must be
// what `handler` would answer the encoding, and both cross as the wire would
// carry them (WireCarry.h): the same values, checks and failures, without
// the text. Exchange() always goes to `handler`.
std::unique_ptr<Transport> MakeInProcessTransport(RequestHandler handler, ValueHandler values = {});

// Makes the transport of a connection to host:port.
using TransportFactory = std::function<std::unique_ptr<Transport>(const std::string& host, int port)>;
// HTTP transports with the options of HttpOptionsFromEnvironment(), read
// when a transport is made.
TransportFactory HttpTransports();
// Transports that hand every request to a server in this process, as
// MakeInProcessTransport.
TransportFactory InProcessTransports(RequestHandler handler, ValueHandler values = {});

class Connection {
 public:
  // An empty factory stands for HttpTransports().
  Connection(std::string name, std::string module, TransportFactory transports = {});
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  const std::string& Name() const { return name_; }
  const std::string& Module() const { return module_; }

  std::string host;
  int port = 0;

  // Makes the transport for host:port. Opening an open connection is a no-op.
  void Open();
  void Close();
  bool Connected() const { return transport_ != nullptr; }

  // Calls a method of the module's server object. Opens the connection first
  // when it is closed.
  Value Call(std::string_view method, std::vector<Value> args);
  // Call, leaving `args` as they were when it returns or throws: for a caller
  // that may send them again, without a copy of them kept aside.
  Value CallKeeping(std::string_view method, std::vector<Value>& args);

  // Observes every answered call (after decoding, before any result check);
  // used for run statistics. Must not throw.
  std::function<void(std::string_view method, const Value& result)> OnResult;

 private:
  std::string name_;
  std::string module_;
  TransportFactory transports_;
  std::unique_ptr<Transport> transport_;
};

}  // namespace trd
