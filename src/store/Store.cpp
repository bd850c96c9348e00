#include "Store.h"

#include <string>
#include <variant>

#include "platform/Text.h"
#include "protocol/Failures.h"
#include "protocol/Methods.h"
#include "protocol/Record.h"
#include "shared/Services.h"

namespace trd::store {

Store::Store(shared::Services& services, TransportFactory transports)
    : NetTradRelDfm("NetTradRelDfm", std::string(protocol::kModuleForms), transports),
      netImportRel("netImportRel", std::string(protocol::kModuleReports), transports),
      netUpdRelDfm("netUpdRelDfm", std::string(protocol::kModuleTranslations), transports),
      cdsIdiLeDfm("cdsIdiLeDfm", protocol::LanguageFields()),
      cdsPropried("cdsPropried", protocol::RecordFields()),
      cdsUpdRelDfm("cdsUpdRelDfm", protocol::TranslationFields()),
      cdsProprieRel("cdsProprieRel", protocol::RecordFields()),
      cdsTesteUpd("cdsTesteUpd", protocol::TranslationFields()),
      cdsVersao("cdsVersao", protocol::VersionFields()),
      cdsVerificaProp("cdsVerificaProp", protocol::RecordFields()),
      cdsPropProp("cdsPropProp", protocol::RecordFields()),
      cdsVerifiRel("cdsVerifiRel", protocol::RecordFields()),
      cdsPropRel("cdsPropRel", protocol::RecordFields()),
      services_(services) {
  auto count = [this](std::string_view method, const Value& result) { Count(method, result); };
  NetTradRelDfm.OnResult = count;
  netImportRel.OnResult = count;
  netUpdRelDfm.OnResult = count;
}

void Store::Count(std::string_view method, const Value& result) {
  if (std::holds_alternative<ServerFailure>(result)) return;
  if (method == protocol::kGetPropried || method == protocol::kGetPropriedRel) {
    ++stats.texts_seen;
    if (const auto* p = std::get_if<Packet>(&result); p && !p->rows.empty()) ++stats.already_stored;
  } else if (method == protocol::kSetPropried || method == protocol::kSetPropriedRel) {
    ++stats.created;
  } else if (method == protocol::kSetVerProp || method == protocol::kSetVerPropRel) {
    ++stats.replaced;
  } else if (method == protocol::kUpdateRelDfm) {
    ++stats.translations_reused;
  }
}

void Store::OpenConnections(const Endpoint& server) {
  for (Connection* c : {&NetTradRelDfm, &netImportRel, &netUpdRelDfm}) {
    c->port = server.port;
    c->host = server.host;
    c->Open();
  }
}

void Store::CloseConnections() {
  NetTradRelDfm.Close();
  netImportRel.Close();
  netUpdRelDfm.Close();
}

RecordTables Store::FormRecords() {
  return {NetTradRelDfm,         protocol::kGetPropried, protocol::kGetVerProp, protocol::kSetVerProp,
          protocol::kSetPropried, cdsPropried,           cdsVerificaProp,       cdsPropProp,
          netUpdRelDfm,          cdsUpdRelDfm};
}

RecordTables Store::ReportRecords() {
  return {netImportRel,             protocol::kGetPropriedRel, protocol::kGetVerPropRel, protocol::kSetVerPropRel,
          protocol::kSetPropriedRel, cdsProprieRel,             cdsVerifiRel,              cdsPropRel,
          netUpdRelDfm,             cdsTesteUpd};
}

void Store::SendDeleted(const RecordTables& t) {
  SendChanges(services_, t.by_key, t.records, t.delete_method, RecordRace(services_, t.records, t.by_key_method, stats));
}

void Store::SendCreated(const RecordTables& t) {
  SendChanges(services_, t.created, t.records, t.insert_method, RecordRace(services_, t.records, t.by_key_method, stats));
}

void Store::SendVersion() { SendChanges(services_, cdsVersao, NetTradRelDfm, protocol::kSetVersao); }

namespace {

// Whether the server refused the one change of a change set as `code`
// (protocol/Failures.h): the key held a record, or none.
bool FailedAs(const Value& result, protocol::FailureCode code) {
  const auto* f = std::get_if<ServerFailure>(&result);
  return f && protocol::CodeOf(*f) == code;
}

// A resent insert that keeps meeting a record which vanishes before it can be
// read is given up after this many sends (the failure then stands). Every
// round needs another client's delete of the key, and a client deletes a key
// at most once per text it stores, so this covers 8 clients on one text.
constexpr int kInsertSends = 8;

std::string TextField(const ChangeSet& cs, const Row& row, protocol::RecordField field) {
  const int at = cs.FieldIndex(protocol::FieldName(field));
  const auto* s = at >= 0 ? std::get_if<std::string>(&row[std::size_t(at)]) : nullptr;
  return s ? *s : std::string();
}

enum class KeyHolds { Nothing, SameText, OtherText };

// What the record of the key of `row` holds now, compared by source text
// (trailing blanks ignored, as the look-up by value compares).
KeyHolds ReadKey(const shared::Services& services, Connection& connection, std::string_view by_key,
                 const ChangeSet& delta, const Row& row) {
  std::vector<Value> key;
  for (protocol::RecordField f : protocol::KeyFields()) {
    if (f != protocol::kNrValorProp) {
      key.emplace_back(TextField(delta, row, f));
      continue;
    }
    const int at = delta.FieldIndex(protocol::FieldName(f));
    const auto* n = at >= 0 ? std::get_if<double>(&row[std::size_t(at)]) : nullptr;
    if (!n) return KeyHolds::OtherText;
    key.emplace_back(*n);
  }
  Value found = connection.Call(by_key, std::move(key));
  const Value& payload = services.CheckResultServ(found, true, 0);
  const auto* packet = std::get_if<Packet>(&payload);
  if (!packet)
    throw ServerError(std::string(by_key) + " returned " + KindName(payload) + " where a data packet was expected");
  if (packet->rows.empty()) return KeyHolds::Nothing;
  const int source = packet->FieldIndex(protocol::FieldName(protocol::kStAgrValProp));
  const std::string source_text = TextField(delta, row, protocol::kStAgrValProp);
  const std::string_view ours = text::TrimTrailingBlanks(source_text);
  for (const Row& r : packet->rows) {
    const auto* s = source >= 0 ? std::get_if<std::string>(&r[std::size_t(source)]) : nullptr;
    if (s && text::TrimTrailingBlanks(*s) == ours) return KeyHolds::SameText;
  }
  return KeyHolds::OtherText;
}

}  // namespace

SendAnswer RecordRace(const shared::Services& services, Connection& connection, std::string_view by_key,
                      RunStats& stats) {
  return [&services, &connection, by_key = std::string(by_key), &stats](std::string_view method, const ChangeSet& delta,
                                                          Value result) -> Value {
    // A change set of several changes was rolled back whole: never settled.
    if (delta.changes.size() != 1) return result;
    const Change& change = delta.changes.front();
    if (change.kind == ChangeKind::Delete) {
      // Somebody else deleted it first: gone is what the delete was for.
      return FailedAs(result, protocol::FailureCode::NotFound) ? Value() : result;
    }
    if (change.kind != ChangeKind::Insert) return result;
    for (int sent = 1; FailedAs(result, protocol::FailureCode::KeyTaken); ++sent) {
      switch (ReadKey(services, connection, by_key, delta, change.after)) {
        case KeyHolds::SameText:  // stored by somebody else since our look-ups
          ++stats.already_stored;
          return Value();
        case KeyHolds::OtherText:  // a different text: not ours to overrule
          return result;
        case KeyHolds::Nothing:  // deleted again meanwhile (being replaced): insert as planned
          if (sent == kInsertSends) return result;
          result = connection.Call(method, {Value(delta)});
          break;
      }
    }
    return result;
  };
}

void SendChanges(const shared::Services& services, DataSet& table, Connection& connection,
                 std::string_view method, const SendAnswer& answer) {
  if (table.ChangeCount() <= 0) return;
  try {
    {
      shared::BusyGuard busy(services, shared::ShowAviKind::Transfer);
      ChangeSet delta = table.Delta();
      Value result = connection.Call(method, {Value(delta)});
      if (answer && std::holds_alternative<ServerFailure>(result)) result = answer(method, delta, std::move(result));
      services.CheckResultServ(result, true, 0);
    }
    table.MergeChangeLog();
  } catch (...) {
    table.CancelUpdates();  // the indicator is off already
    throw;
  }
}

void Lookup(const shared::Services& services, DataSet& table, Connection& connection, std::string_view method,
            std::vector<Value> args) {
  table.Close();
  Value result = connection.Call(method, std::move(args));
  const Value& payload = services.CheckResultServ(result, true, 0);
  const auto* packet = std::get_if<Packet>(&payload);
  if (!packet) {
    throw ServerError(std::string(method) + " returned " + KindName(payload) +
                      " where a data packet was expected");
  }
  table.SetData(*packet);
}

}  // namespace trd::store
