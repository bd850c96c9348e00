#include "Store.h"

#include <variant>

#include "Modules.h"
#include "Record.h"
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
  SendChanges(cdsVerificaProp, NetTradRelDfm, "SetVerProp");
}
void Store::cdsPropPropAfterPost(DataSet&) { SendChanges(cdsPropProp, NetTradRelDfm, "SetPropried"); }
void Store::cdsVerifiRelAfterDelete(DataSet&) {
  SendChanges(cdsVerifiRel, netImportRel, "SetVerPropRel");
}
void Store::cdsPropRelAfterPost(DataSet&) { SendChanges(cdsPropRel, netImportRel, "SetPropriedRel"); }
void Store::cdsVersaoAfterCancel(DataSet&) { cdsVersao.CancelUpdates(); }

void SendChanges(DataSet& table, Connection& connection, std::string_view method) {
  if (table.ChangeCount() <= 0) return;
  try {
    shared::ActiveShowAvi(shared::MainWindow(), shared::ShowAviKind::Transfer);
    ChangeSet delta = table.Delta();
    Value result = connection.Call(method, {Value(std::move(delta))});
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
