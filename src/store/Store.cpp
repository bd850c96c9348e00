#include "Store.h"

#include <string>
#include <variant>

#include "Modules.h"
#include "Record.h"
#include "platform/Text.h"
#include "shared/Services.h"

namespace trd::store {

Store::Store()
    : NetTradRelDfm("NetTradRelDfm", kModuleLeituraDfm),
      netImportRel("netImportRel", kModuleLeituraRel),
      netUpdRelDfm("netUpdRelDfm", kModuleLeDfmRel),
      cdsIdiLeDfm("cdsIdiLeDfm", LanguageFields()),
      cdsPropried("cdsPropried", RecordFields()),
      cdsUpdRelDfm("cdsUpdRelDfm", TranslationFields()),
      cdsProprieRel("cdsProprieRel", RecordFields()),
      cdsTesteUpd("cdsTesteUpd", TranslationFields()),
      cdsVersao("cdsVersao", VersionFields()),
      cdsVerificaProp("cdsVerificaProp", RecordFields()),
      cdsPropProp("cdsPropProp", RecordFields()),
      cdsVerifiRel("cdsVerifiRel", RecordFields()),
      cdsPropRel("cdsPropRel", RecordFields()) {
  cdsVersao.AfterPost = [this](DataSet& s) { cdsVersaoAfterPost(s); };
  cdsVersao.AfterCancel = [this](DataSet& s) { cdsVersaoAfterCancel(s); };
  cdsVerificaProp.AfterDelete = [this](DataSet& s) { cdsVerificaPropAfterDelete(s); };
  cdsPropProp.AfterPost = [this](DataSet& s) { cdsPropPropAfterPost(s); };
  cdsVerifiRel.AfterDelete = [this](DataSet& s) { cdsVerifiRelAfterDelete(s); };
  cdsPropRel.AfterPost = [this](DataSet& s) { cdsPropRelAfterPost(s); };
  auto count = [this](std::string_view method, const Value& result) { Count(method, result); };
  NetTradRelDfm.OnResult = count;
  netImportRel.OnResult = count;
  netUpdRelDfm.OnResult = count;
}

void Store::Count(std::string_view method, const Value& result) {
  if (std::holds_alternative<ServerFailure>(result)) return;
  if (method == "GetPropried" || method == "GetPropriedRel") {
    ++stats.texts_seen;
    if (const auto* p = std::get_if<Packet>(&result); p && !p->rows.empty()) ++stats.already_stored;
  } else if (method == "SetPropried" || method == "SetPropriedRel") {
    ++stats.created;
  } else if (method == "SetVerProp" || method == "SetVerPropRel") {
    ++stats.replaced;
  } else if (method == "UpdateRelDfm") {
    ++stats.translations_reused;
  }
}

void Store::OpenConnections() {
  for (Connection* c : {&NetTradRelDfm, &netImportRel, &netUpdRelDfm}) {
    c->port = shared::WebPort();
    c->host = shared::WebURL();
    c->Open();
  }
}

void Store::CloseConnections() {
  NetTradRelDfm.Close();
  netImportRel.Close();
  netUpdRelDfm.Close();
}

void Store::cdsVersaoAfterPost(DataSet&) { SendChanges(cdsVersao, NetTradRelDfm, "SetVersao"); }
void Store::cdsVerificaPropAfterDelete(DataSet&) {
  SendChanges(cdsVerificaProp, NetTradRelDfm, "SetVerProp", RecordRace(NetTradRelDfm, "GetVerProp", stats));
}
void Store::cdsPropPropAfterPost(DataSet&) {
  SendChanges(cdsPropProp, NetTradRelDfm, "SetPropried", RecordRace(NetTradRelDfm, "GetVerProp", stats));
}
void Store::cdsVerifiRelAfterDelete(DataSet&) {
  SendChanges(cdsVerifiRel, netImportRel, "SetVerPropRel", RecordRace(netImportRel, "GetVerPropRel", stats));
}
void Store::cdsPropRelAfterPost(DataSet&) {
  SendChanges(cdsPropRel, netImportRel, "SetPropriedRel", RecordRace(netImportRel, "GetVerPropRel", stats));
}
void Store::cdsVersaoAfterCancel(DataSet&) { cdsVersao.CancelUpdates(); }

namespace {

// The server's failure messages for a change that found the table otherwise
// than its sender had seen it (docs/server.md, "Change sets").
bool FailedAs(const Value& result, std::string_view what) {
  const auto* f = std::get_if<ServerFailure>(&result);
  return f && f->message.find(what) != std::string::npos;
}
constexpr std::string_view kInsertOfStoredKey = "change 1 of 1 (insert): duplicate key: ";
constexpr std::string_view kDeleteOfMissingKey = "change 1 of 1 (delete): no record of key ";

// A resent insert that keeps meeting a record which vanishes before it can be
// read is given up after this many sends (the failure then stands). Every
// round needs another client's delete of the key, and a client deletes a key
// at most once per text it stores, so this covers 8 clients on one text.
constexpr int kInsertSends = 8;

std::string TextField(const ChangeSet& cs, const Row& row, std::string_view field) {
  const int at = cs.FieldIndex(field);
  const auto* s = at >= 0 ? std::get_if<std::string>(&row[std::size_t(at)]) : nullptr;
  return s ? *s : std::string();
}

enum class KeyHolds { Nothing, SameText, OtherText };

// What the record of the key of `row` holds now, compared by source text
// (trailing blanks ignored, as the look-up by value compares).
KeyHolds ReadKey(Connection& connection, const std::string& by_key, const ChangeSet& delta, const Row& row) {
  const int number = delta.FieldIndex("NRVALORPROP");
  const auto* n = number >= 0 ? std::get_if<double>(&row[std::size_t(number)]) : nullptr;
  if (!n) return KeyHolds::OtherText;
  auto field = [&](std::string_view name) { return TextField(delta, row, name); };
  Value found = connection.Call(by_key, {field("CDPROGRAMA"), field("NMFORMULARIO"), field("NMCOMPONENTE"),
                                         field("NMPROPRIEDADE"), *n, field("IDIDIOMA")});
  const Value& payload = shared::CheckResultServ(found, true, 0);
  const auto* packet = std::get_if<Packet>(&payload);
  if (!packet) throw ServerError(by_key + " returned " + KindName(payload) + " where a data packet was expected");
  if (packet->rows.empty()) return KeyHolds::Nothing;
  const int source = packet->FieldIndex("STAGRVALPROP");
  const std::string source_text = field("STAGRVALPROP");
  const std::string_view ours = text::TrimTrailingBlanks(source_text);
  for (const Row& r : packet->rows) {
    const auto* s = source >= 0 ? std::get_if<std::string>(&r[std::size_t(source)]) : nullptr;
    if (s && text::TrimTrailingBlanks(*s) == ours) return KeyHolds::SameText;
  }
  return KeyHolds::OtherText;
}

}  // namespace

SendAnswer RecordRace(Connection& connection, std::string by_key, RunStats& stats) {
  return [&connection, by_key = std::move(by_key), &stats](std::string_view method, const ChangeSet& delta,
                                                          Value result) -> Value {
    // A change set of several changes was rolled back whole: never settled.
    if (delta.changes.size() != 1) return result;
    const Change& change = delta.changes.front();
    if (change.kind == ChangeKind::Delete) {
      // Somebody else deleted it first: gone is what the delete was for.
      return FailedAs(result, kDeleteOfMissingKey) ? Value() : result;
    }
    if (change.kind != ChangeKind::Insert) return result;
    for (int sent = 1; FailedAs(result, kInsertOfStoredKey); ++sent) {
      switch (ReadKey(connection, by_key, delta, change.after)) {
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

void SendChanges(DataSet& table, Connection& connection, std::string_view method, const SendAnswer& answer) {
  if (table.ChangeCount() <= 0) return;
  try {
    shared::ActiveShowAvi(shared::MainWindow(), shared::ShowAviKind::Transfer);
    ChangeSet delta = table.Delta();
    Value result = connection.Call(method, {Value(delta)});
    if (answer && std::holds_alternative<ServerFailure>(result)) result = answer(method, delta, std::move(result));
    shared::CheckResultServ(result, true, 0);
    shared::DeactiveShowAvi();
    table.MergeChangeLog();
  } catch (...) {
    shared::DeactiveShowAvi();
    table.CancelUpdates();
    throw;
  }
}

void Lookup(DataSet& table, Connection& connection, std::string_view method,
            std::vector<Value> args) {
  table.Close();
  Value result = connection.Call(method, std::move(args));
  const Value& payload = shared::CheckResultServ(result, true, 0);
  const auto* packet = std::get_if<Packet>(&payload);
  if (!packet) {
    throw ServerError(std::string(method) + " returned " + KindName(payload) +
                      " where a data packet was expected");
  }
  table.SetData(*packet);
}

}  // namespace trd::store
