// Shared pieces of the server tests: a service on a private database of the
// backend the test is instantiated for (SQLite in memory, or a fresh
// PostgreSQL schema), calls through the full wire encoding, and builders of
// records and change sets.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/Wire.h"
#include "protocol/Methods.h"
#include "server/Schema.h"
#include "server/Service.h"
#include "support/TestDatabase.h"

namespace trd::server::testing {

inline constexpr std::string_view kDfm = protocol::kModuleForms;
inline constexpr std::string_view kRel = protocol::kModuleReports;
inline constexpr std::string_view kUpd = protocol::kModuleTranslations;

// One translation record, with defaults for the fields a test leaves alone.
struct Rec {
  std::string program = "CADASTRO";
  std::string form = "FRMCADASTRO";
  std::string component = "BTNSALVAR";
  std::string property = "Caption";
  double number = 0;
  std::string state = "N";
  std::string value = "Salvar";
  std::string source = "Salvar";
  DateTime when = DateTime::FromParts(2024, 5, 1, 10, 0, 0);
  std::string language = "POR";

  Row ToRow() const {
    return {program, form, component, property, number, state, value, source, when, language};
  }
  // The number as the form scanner passes it to the look-ups: text.
  std::string NumberText() const { return std::to_string(static_cast<long long>(number)); }
};

inline ChangeSet Changes(std::vector<Change> changes) {
  return ChangeSet{TranslationTable().fields, std::move(changes)};
}
inline Change Insert(const Rec& r) { return Change{ChangeKind::Insert, {}, r.ToRow()}; }
inline Change Delete(const Rec& r) { return Change{ChangeKind::Delete, r.ToRow(), {}}; }
inline Change Modify(const Rec& before, const Rec& after) {
  return Change{ChangeKind::Modify, before.ToRow(), after.ToRow()};
}

using test::TestBackend;
using test::TestDatabase;

// Instantiate a suite of these with INSTANTIATE_BACKENDS(Suite).
class ServiceTest : public ::testing::TestWithParam<TestBackend> {
 protected:
  void SetUp() override {
    if (!TestDatabase::Available(GetParam())) GTEST_SKIP() << TestDatabase::kSkipMessage;
    db = std::make_unique<TestDatabase>(GetParam());
    service = Service::Open(db->Url());
  }

  std::unique_ptr<TestDatabase> db;
  std::shared_ptr<Service> service;

  // A call through Handle with the request and response encoded as on the wire.
  Value Call(std::string_view module, std::string_view method, std::vector<Value> args = {}) {
    std::string body = wire::EncodeRequest({std::string(module), std::string(method), std::move(args)});
    return wire::DecodeResponse(service->Handle(body));
  }

  Packet Lookup(std::string_view module, std::string_view method, std::vector<Value> args = {}) {
    Value v = Call(module, method, std::move(args));
    if (const auto* f = std::get_if<ServerFailure>(&v)) ADD_FAILURE() << f->message;
    const auto* p = std::get_if<Packet>(&v);
    return p ? *p : Packet{};
  }

  // Expects a failure response and returns its message.
  std::string Failure(std::string_view module, std::string_view method, std::vector<Value> args = {}) {
    return FailureOf(Call(module, method, std::move(args)));
  }
  static std::string FailureOf(const Value& v) {
    const auto* f = std::get_if<ServerFailure>(&v);
    if (!f) {
      ADD_FAILURE() << "expected a failure, got a " << KindName(v);
      return {};
    }
    return f->message;
  }

  void Apply(std::string_view method, const ChangeSet& cs, std::string_view module = kDfm) {
    Value v = Call(module, method, {cs});
    if (const auto* f = std::get_if<ServerFailure>(&v)) FAIL() << f->message;
    EXPECT_TRUE(std::holds_alternative<std::monostate>(v));
  }

  Packet ByKey(const Rec& r) {
    return Lookup(kDfm, "GetVerProp", {r.program, r.form, r.component, r.property, r.NumberText(), r.language});
  }
  Packet ByValue(const Rec& r, std::string value) {
    return Lookup(kDfm, "GetPropried",
                  {r.program, r.form, r.component, r.property, r.NumberText(), std::move(value), r.language});
  }

  // The service keeps answering: a good request after a bad one.
  void ExpectStillServing() {
    Packet p = Lookup(kDfm, "GetIdiLeDfm");
    EXPECT_EQ(p.rows.size(), 3u);
  }
};

#define INSTANTIATE_BACKENDS(Suite)                                                             \
  INSTANTIATE_TEST_SUITE_P(Backends, Suite,                                                      \
                           ::testing::Values(::trd::test::TestBackend::Sqlite,                   \
                                             ::trd::test::TestBackend::Postgres),                \
                           [](const auto& info) { return std::string(::trd::test::BackendName(info.param)); })

}  // namespace trd::server::testing
