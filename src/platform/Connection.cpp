#include "Connection.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <httplib.h>

#include "Errors.h"
#include "Wire.h"
#include "WireCarry.h"

namespace trd {
namespace {

using Clock = std::chrono::steady_clock;

// Whether a request may be sent a second time after its connection broke.
enum class Resend { Never, IfUnanswered };

class HttpTransport final : public Transport {
 public:
  HttpTransport(std::string host, int port, HttpOptions options)
      : host_(std::move(host)), port_(port), options_(std::move(options)), client_(host_, port_) {
    client_.set_keep_alive(true);
    client_.set_tcp_nodelay(true);
    client_.set_connection_timeout(options_.connect_timeout);
    client_.set_read_timeout(options_.read_timeout);
    client_.set_write_timeout(options_.read_timeout);
    if (!options_.token.empty()) headers_.emplace("X-Trd-Token", options_.token);
  }

  // The bytes of an encoded request are opaque here: never resent.
  std::string Exchange(const std::string& request) override {
    request_.assign(request);
    Post(Resend::Never);
    return answer_;
  }

  Value Call(const wire::Request& request) override {
    const Resend resend = IsLookup(request.method) ? Resend::IfUnanswered : Resend::Never;
    wire::EncodeRequestInto(request, request_);
    Post(resend);
    return wire::DecodeResponse(answer_);
  }

 private:
  // Sends request_ and leaves the answer's body in answer_. Both buffers
  // live as long as the connection and keep their room from call to call:
  // a batch's request and answer run to a megabyte, and a text grown afresh
  // for each (and copied once more into httplib's request) cost the client
  // a fifth of its time in copies and page faults.
  void Post(Resend resend) {
    for (int attempt = 1;; ++attempt) {
      // A kept-alive connection the server closed while idle is noticed and
      // replaced by httplib before sending; one that breaks under the request
      // ends in a read or write error.
      const bool kept_alive = client_.is_socket_open() != 0;
      const auto started = Clock::now();
      httplib::Request req;
      req.method = "POST";
      req.path = "/call";
      req.headers = headers_;
      req.headers.emplace("Content-Type", "application/json");
      req.body = std::move(request_);
      answer_.clear();
      req.content_receiver = [this](const char* data, std::size_t size, std::uint64_t, std::uint64_t) {
        answer_.append(data, size);
        return true;
      };
      httplib::Response res;
      httplib::Error error = httplib::Error::Success;
      const bool answered = client_.send(req, res, error);
      request_ = std::move(req.body);
      if (answered) {
        if (res.status != 200 && answer_.empty())
          throw ConnectionError("the translation server at " + Where() + " answered HTTP " +
                                std::to_string(res.status));
        return;
      }
      const auto took = Clock::now() - started;
      const bool broke_unanswered = (error == httplib::Error::Read || error == httplib::Error::Write) &&
                                    kept_alive && took < options_.read_timeout;
      if (attempt == 1 && resend == Resend::IfUnanswered && broke_unanswered) continue;
      throw ConnectionError(Describe(error, took));
    }
  }

  std::string Where() const { return host_ + ":" + std::to_string(port_); }

  std::string Describe(httplib::Error error, Clock::duration took) const {
    switch (error) {
      case httplib::Error::Connection:
        return "cannot reach the translation server at " + Where() + ": no connection could be made";
      case httplib::Error::ConnectionTimeout:
        return "cannot reach the translation server at " + Where() + ": no connection within " +
               std::to_string(options_.connect_timeout.count()) + " ms";
      case httplib::Error::Read:
      case httplib::Error::Write:
        if (took >= options_.read_timeout)
          return "the translation server at " + Where() + " did not answer within " +
                 std::to_string(options_.read_timeout.count()) + " ms";
        return "lost the connection to the translation server at " + Where() +
               " before its answer (the server stopped or closed the connection)";
      default:
        return "cannot reach the translation server at " + Where() + ": " + httplib::to_string(error);
    }
  }

  std::string host_;
  int port_;
  HttpOptions options_;
  httplib::Client client_;
  httplib::Headers headers_;
  std::string request_;  // the request being sent
  std::string answer_;   // the body of its answer
};

class ValueTransport final : public Transport {
 public:
  explicit ValueTransport(ValueHandler handler) : handler_(std::move(handler)) {}
  std::string Exchange(const std::string& request) override {
    return wire::EncodeResult(handler_(wire::DecodeRequest(request)));
  }
  Value Call(const wire::Request& request) override { return handler_(request); }

 private:
  ValueHandler handler_;
};

class InProcessTransport final : public Transport {
 public:
  InProcessTransport(RequestHandler handler, ValueHandler values)
      : handler_(std::move(handler)), values_(std::move(values)) {}
  std::string Exchange(const std::string& request) override { return handler_(request); }
  Value Call(const wire::Request& request) override {
    if (!values_) return Transport::Call(request);
    return wire::CarriedResult(values_(request));
  }

 private:
  RequestHandler handler_;
  ValueHandler values_;
};

std::chrono::milliseconds MillisecondsFromEnvironment(const char* name, std::chrono::milliseconds fallback) {
  const char* env = std::getenv(name);
  if (!env || !*env) return fallback;
  std::string_view s = env;
  long long ms = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), ms);
  if (ec != std::errc() || end != s.data() + s.size() || ms < 1 || ms > 86'400'000)
    throw Error(std::string(name) + " must be a whole number of milliseconds from 1 to 86400000, not \"" + env +
                "\"");
  return std::chrono::milliseconds(ms);
}

}  // namespace

HttpOptions HttpOptionsFromEnvironment() {
  HttpOptions options;
  options.connect_timeout = MillisecondsFromEnvironment("TRD_CONNECT_TIMEOUT_MS", options.connect_timeout);
  options.read_timeout = MillisecondsFromEnvironment("TRD_READ_TIMEOUT_MS", options.read_timeout);
  if (std::optional<TokenSetting> setting = TokenFromEnvironment()) options.token = std::move(setting->token);
  return options;
}

std::optional<TokenSetting> TokenFromEnvironment() {
  TokenSetting setting;
  if (const char* t = std::getenv("TRD_TOKEN"); t && *t) {
    setting.token = TokenFromText(t, "TRD_TOKEN");
  } else if (const char* f = std::getenv("TRD_TOKEN_FILE"); f && *f) {
    setting.file = f;
    setting.token = ReadTokenFile(setting.file, &setting.too_open);
  } else {
    return std::nullopt;
  }
  return setting;
}

std::string ReadTokenFile(const std::string& path, bool* too_open) {
  const std::string what = "the token file " + path;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw Error("cannot open " + what + ": " + std::strerror(errno));
  struct stat st {};
  std::string token;
  int read_errno = 0;
  if (fstat(fd, &st) != 0) {
    read_errno = errno;
  } else if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    throw Error(what + " is not a regular file");
  } else {
    char buf[4096];
    for (;;) {
      ssize_t n = ::read(fd, buf, sizeof buf);
      if (n > 0) {
        token.append(buf, std::size_t(n));
        if (token.size() > 64 * 1024) break;
      } else if (n == 0 || errno != EINTR) {
        if (n < 0) read_errno = errno;
        break;
      }
    }
  }
  ::close(fd);
  if (read_errno != 0) throw Error("cannot read " + what + ": " + std::strerror(read_errno));
  if (token.size() > 64 * 1024) throw Error(what + " is larger than 64 KiB; a token is one line");
  token = TokenFromText(token, what);
  if (too_open) *too_open = (st.st_mode & (S_IRWXG | S_IRWXO)) != 0;
  return token;
}

std::string TokenFromText(std::string_view text, const std::string& source) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  const std::string_view raw = text;
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  if (text.empty())
    throw Error(source + (raw.empty() ? " is empty" : " is empty but for blanks") + "; it must hold the token");
  for (unsigned char c : text)
    if (c < 0x20 || c == 0x7f)
      throw Error(source + " holds a line break or control character inside the token; a token is one line");
  return std::string(text);
}

bool IsLookup(std::string_view method) {
  return method.size() >= 3 && (method[0] == 'G' || method[0] == 'g') && (method[1] == 'E' || method[1] == 'e') &&
         (method[2] == 'T' || method[2] == 't');
}

std::unique_ptr<Transport> MakeHttpTransport(std::string host, int port, HttpOptions options) {
  return std::make_unique<HttpTransport>(std::move(host), port, std::move(options));
}

Value Transport::Call(const wire::Request& request) {
  return wire::DecodeResponse(Exchange(wire::EncodeRequest(request)));
}

std::unique_ptr<Transport> MakeValueTransport(ValueHandler handler) {
  return std::make_unique<ValueTransport>(std::move(handler));
}

std::unique_ptr<Transport> MakeInProcessTransport(RequestHandler handler, ValueHandler values) {
  return std::make_unique<InProcessTransport>(std::move(handler), std::move(values));
}

TransportFactory HttpTransports() {
  return [](const std::string& host, int port) { return MakeHttpTransport(host, port, HttpOptionsFromEnvironment()); };
}

TransportFactory InProcessTransports(RequestHandler handler, ValueHandler values) {
  return [handler = std::move(handler), values = std::move(values)](const std::string&, int) {
    return MakeInProcessTransport(handler, values);
  };
}

Connection::Connection(std::string name, std::string module, TransportFactory transports)
    : name_(std::move(name)), module_(std::move(module)), transports_(std::move(transports)) {
  if (!transports_) transports_ = HttpTransports();
}

Connection::~Connection() = default;

void Connection::Open() {
  if (transport_) return;
  transport_ = transports_(host, port);
}

void Connection::Close() { transport_.reset(); }

Value Connection::Call(std::string_view method, std::vector<Value> args) { return CallKeeping(method, args); }

Value Connection::CallKeeping(std::string_view method, std::vector<Value>& args) {
  Open();
  // The transports read the request without changing it (Transport::Call).
  struct GiveBack {
    wire::Request request;
    std::vector<Value>& args;
    ~GiveBack() { args = std::move(request.args); }
  } lent{wire::Request{module_, std::string(method), std::move(args)}, args};
  Value result = transport_->Call(lent.request);
  if (OnResult) OnResult(method, result);
  return result;
}

}  // namespace trd
