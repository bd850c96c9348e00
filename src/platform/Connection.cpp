#include "Connection.h"

#include <cstdlib>
#include <mutex>

#include <httplib.h>

#include "Errors.h"
#include "Wire.h"

namespace trd {
namespace {

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

  std::string Exchange(const std::string& request) override {
    auto res = client_.Post("/call", headers_, request, "application/json");
    if (!res) {
      throw ConnectionError("cannot reach the translation server at " + host_ + ":" +
                            std::to_string(port_) + ": " + httplib::to_string(res.error()));
    }
    if (res->status != 200 && res->body.empty()) {
      throw ConnectionError("the translation server at " + host_ + ":" + std::to_string(port_) +
                            " answered HTTP " + std::to_string(res->status));
    }
    return std::move(res->body);
  }

 private:
  std::string host_;
  int port_;
  HttpOptions options_;
  httplib::Client client_;
  httplib::Headers headers_;
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
  explicit InProcessTransport(RequestHandler handler) : handler_(std::move(handler)) {}
  std::string Exchange(const std::string& request) override { return handler_(request); }

 private:
  RequestHandler handler_;
};

std::mutex g_factory_mutex;
TransportFactory g_factory;

std::unique_ptr<Transport> DefaultFactory(const std::string& host, int port) {
  HttpOptions options;
  if (const char* t = std::getenv("TRD_TOKEN")) options.token = t;
  return MakeHttpTransport(host, port, options);
}

}  // namespace

std::unique_ptr<Transport> MakeHttpTransport(std::string host, int port, HttpOptions options) {
  return std::make_unique<HttpTransport>(std::move(host), port, std::move(options));
}

Value Transport::Call(const wire::Request& request) {
  return wire::DecodeResponse(Exchange(wire::EncodeRequest(request)));
}

std::unique_ptr<Transport> MakeValueTransport(ValueHandler handler) {
  return std::make_unique<ValueTransport>(std::move(handler));
}

std::unique_ptr<Transport> MakeInProcessTransport(RequestHandler handler) {
  return std::make_unique<InProcessTransport>(std::move(handler));
}

void SetTransportFactory(TransportFactory factory) {
  std::lock_guard lock(g_factory_mutex);
  g_factory = std::move(factory);
}

Connection::Connection(std::string name, std::string module)
    : name_(std::move(name)), module_(std::move(module)) {}

Connection::~Connection() = default;

void Connection::Open() {
  if (transport_) return;
  TransportFactory factory;
  {
    std::lock_guard lock(g_factory_mutex);
    factory = g_factory;
  }
  transport_ = factory ? factory(host, port) : DefaultFactory(host, port);
}

void Connection::Close() { transport_.reset(); }

Value Connection::Call(std::string_view method, std::vector<Value> args) {
  Open();
  Value result = transport_->Call(wire::Request{module_, std::string(method), std::move(args)});
  if (OnResult) OnResult(method, result);
  return result;
}

}  // namespace trd
