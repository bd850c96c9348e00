// Each post or delete of a sending table reaches the server as one change set
// when it is sent; a failed send undoes the change locally and reaches the
// caller.
#include <gtest/gtest.h>

#include "platform/Connection.h"
#include "platform/Wire.h"
#include "protocol/Methods.h"
#include "protocol/Record.h"
#include "shared/Services.h"
#include "store/Record.h"
#include "store/Store.h"

namespace trd::store {
namespace {

struct CountingBusy : shared::BusyIndicator {
  int shows = 0, hides = 0;
  bool visible = false;
  void Show(void*, shared::ShowAviKind) override { ++shows, visible = true; }
  void Hide() override { ++hides, visible = false; }
};

// Answers every call from a script and records what was asked.
struct FakeServer {
  std::vector<wire::Request> calls;
  std::string fail_method;  // answers a failure for this method
  Packet lookup_answer;

  RequestHandler Handler() {
    return [this](std::string_view body) {
      wire::Request r = wire::DecodeRequest(body);
      calls.push_back(r);
      if (r.method == fail_method) return wire::EncodeFailure("recusado pelo servidor");
      if (r.method.rfind("Get", 0) == 0) return wire::EncodeResult(lookup_answer);
      return wire::EncodeResult(std::monostate{});
    };
  }
};

class SendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    services.busy = busy;
    store.OpenConnections({});
  }

  // The fake server, or a port nobody listens on once `unreachable`.
  std::unique_ptr<Transport> Connect() {
    return unreachable ? MakeHttpTransport("127.0.0.1", 1) : MakeInProcessTransport(server.Handler());
  }

  void InsertRecord(DataSet& t, const std::string& value) {
    t.Insert();
    t.SetField("CDPROGRAMA", std::string("CADASTRO"));
    t.SetField("NMFORMULARIO", std::string("FRMCADASTRO"));
    t.SetField("NMCOMPONENTE", std::string("BTNSALVAR"));
    t.SetField("NMPROPRIEDADE", std::string("Caption"));
    t.SetField("NRVALORPROP", 0.0);
    t.SetField("IDSITTRADUCAO", std::string("N"));
    t.SetField("STVALORPROP", value);
    t.SetField("STAGRVALPROP", value);
    t.SetField("DTULTATUTRAD", DateTime::FromParts(2026, 12, 8, 10, 0, 0));
    t.SetField("IDIDIOMA", std::string("POR"));
    t.Post();
    store.SendCreated(&t == &store.cdsPropRel ? store.ReportRecords() : store.FormRecords());
  }

  FakeServer server;
  bool unreachable = false;
  std::shared_ptr<CountingBusy> busy = std::make_shared<CountingBusy>();
  shared::Services services;
  Store store{services, [this](const std::string&, int) { return Connect(); }};
};

TEST_F(SendTest, PostSendsOneInsertedRowAndSettles) {
  store.cdsPropProp.CreateDataSet();
  InsertRecord(store.cdsPropProp, "Salvar");
  ASSERT_EQ(server.calls.size(), 1u);
  EXPECT_EQ(server.calls[0].module, "Trd00200.rdmLeituraDfm");
  EXPECT_EQ(server.calls[0].method, "SetPropried");
  const auto& delta = std::get<ChangeSet>(server.calls[0].args.at(0));
  ASSERT_EQ(delta.changes.size(), 1u);
  EXPECT_EQ(delta.changes[0].kind, ChangeKind::Insert);
  EXPECT_EQ(std::get<std::string>(delta.changes[0].after[delta.FieldIndex("STVALORPROP")]), "Salvar");
  EXPECT_EQ(store.cdsPropProp.ChangeCount(), 0);
  EXPECT_EQ(store.cdsPropProp.RecordCount(), 1);
  EXPECT_EQ(busy->shows, 1);
  EXPECT_FALSE(busy->visible);

  InsertRecord(store.cdsPropProp, "Cancelar");  // each send carries only its own change
  ASSERT_EQ(server.calls.size(), 2u);
  EXPECT_EQ(std::get<ChangeSet>(server.calls[1].args.at(0)).changes.size(), 1u);
}

TEST_F(SendTest, DeleteOfALookedUpRowSendsOneDeletedRow) {
  server.lookup_answer.fields = protocol::RecordFields();
  server.lookup_answer.rows.push_back(Row{std::string("CADASTRO"), std::string("FRMCADASTRO"),
                                          std::string("BTNSALVAR"), std::string("Caption"), 0.0,
                                          std::string("N"), std::string("Gravar"), std::string("Gravar"),
                                          DateTime::FromParts(2026, 1, 1), std::string("POR")});
  Lookup(services, store.cdsVerificaProp, store.NetTradRelDfm, "GetVerProp",
         {std::string("CADASTRO"), std::string("FRMCADASTRO"), std::string("BTNSALVAR"),
          std::string("Caption"), std::string("0"), std::string("POR")});
  ASSERT_EQ(store.cdsVerificaProp.RecordCount(), 1);
  store.cdsVerificaProp.Delete();
  EXPECT_EQ(server.calls.size(), 1u);  // the delete goes out when it is sent, not before
  store.SendDeleted(store.FormRecords());
  ASSERT_EQ(server.calls.size(), 2u);
  EXPECT_EQ(server.calls[1].method, "SetVerProp");
  const auto& delta = std::get<ChangeSet>(server.calls[1].args.at(0));
  ASSERT_EQ(delta.changes.size(), 1u);
  EXPECT_EQ(delta.changes[0].kind, ChangeKind::Delete);
  EXPECT_EQ(std::get<std::string>(delta.changes[0].before[delta.FieldIndex("STAGRVALPROP")]), "Gravar");
  EXPECT_EQ(store.cdsVerificaProp.RecordCount(), 0);
  EXPECT_EQ(store.cdsVerificaProp.ChangeCount(), 0);
}

TEST_F(SendTest, VersionStampSendsOneModifiedRow) {
  server.lookup_answer.fields = protocol::VersionFields();
  server.lookup_answer.rows.push_back(Row{DateTime::FromParts(2025, 5, 1)});
  Lookup(services, store.cdsVersao, store.NetTradRelDfm, "GetVersao", {});
  store.cdsVersao.Edit();
  store.cdsVersao.SetField("DTGERARQTRAD", DateTime::FromParts(2026, 12, 8));
  store.cdsVersao.Post();
  store.SendVersion();
  ASSERT_EQ(server.calls.back().method, "SetVersao");
  const auto& delta = std::get<ChangeSet>(server.calls.back().args.at(0));
  ASSERT_EQ(delta.changes.size(), 1u);
  EXPECT_EQ(delta.changes[0].kind, ChangeKind::Modify);
  EXPECT_EQ(std::get<DateTime>(delta.changes[0].before[0]), DateTime::FromParts(2025, 5, 1));
  EXPECT_EQ(std::get<DateTime>(delta.changes[0].after[0]), DateTime::FromParts(2026, 12, 8));
}

TEST_F(SendTest, CancelledVersionEditDiscardsItsLog) {
  store.cdsVersao.CreateDataSet();
  store.cdsVersao.Insert();
  store.cdsVersao.SetField("DTGERARQTRAD", DateTime::FromParts(2026, 12, 8));
  store.cdsVersao.Cancel();
  EXPECT_EQ(store.cdsVersao.ChangeCount(), 0);
  EXPECT_EQ(store.cdsVersao.RecordCount(), 0);
  EXPECT_TRUE(server.calls.empty());
}

TEST_F(SendTest, FailedSendUndoesThePostAndReachesTheCaller) {
  server.fail_method = "SetPropriedRel";
  store.cdsPropRel.CreateDataSet();
  EXPECT_THROW(InsertRecord(store.cdsPropRel, "Total"), ServerError);
  EXPECT_EQ(server.calls.back().module, "Trd00900.rdmLeituraRel");
  EXPECT_EQ(store.cdsPropRel.RecordCount(), 0);
  EXPECT_EQ(store.cdsPropRel.ChangeCount(), 0);
  EXPECT_FALSE(busy->visible);
  EXPECT_EQ(busy->hides, busy->shows);
}

TEST_F(SendTest, UnreachableServerUndoesTheDeleteAndRaisesConnectionError) {
  server.lookup_answer.fields = protocol::RecordFields();
  server.lookup_answer.rows.push_back(Row(10));
  Lookup(services, store.cdsVerifiRel, store.netImportRel, "GetVerPropRel", {});
  unreachable = true;
  store.CloseConnections();
  store.OpenConnections({});
  store.cdsVerifiRel.Delete();
  EXPECT_THROW(store.SendDeleted(store.ReportRecords()), ConnectionError);
  EXPECT_EQ(store.cdsVerifiRel.RecordCount(), 1);
  EXPECT_EQ(store.cdsVerifiRel.ChangeCount(), 0);
  EXPECT_FALSE(busy->visible);
}

TEST_F(SendTest, EmptyLogSendsNothingAndShowsNoIndicator) {
  store.cdsPropProp.CreateDataSet();
  store.SendCreated(store.FormRecords());
  store.SendDeleted(store.FormRecords());
  EXPECT_TRUE(server.calls.empty());
  EXPECT_EQ(busy->shows, 0);
}

TEST_F(SendTest, StatisticsCountAnsweredCallsOnly) {
  server.lookup_answer.fields = protocol::RecordFields();
  Lookup(services, store.cdsPropried, store.NetTradRelDfm, "GetPropried", {});
  server.lookup_answer.rows.push_back(Row(10));
  Lookup(services, store.cdsProprieRel, store.netImportRel, "GetPropriedRel", {});
  store.cdsPropProp.CreateDataSet();
  InsertRecord(store.cdsPropProp, "Salvar");
  server.fail_method = "SetPropried";
  EXPECT_THROW(InsertRecord(store.cdsPropProp, "Fechar"), ServerError);
  EXPECT_EQ(store.stats.texts_seen, 2);
  EXPECT_EQ(store.stats.already_stored, 1);
  EXPECT_EQ(store.stats.created, 1);
  EXPECT_EQ(store.stats.replaced, 0);
}

TEST_F(SendTest, LookupRefusesAResultThatIsNotAPacket) {
  server.fail_method = "";
  // SetVersao answers null, which is no packet.
  EXPECT_THROW(Lookup(services, store.cdsPropried, store.NetTradRelDfm, "SetVersao", {}), ServerError);
}

}  // namespace
}  // namespace trd::store
