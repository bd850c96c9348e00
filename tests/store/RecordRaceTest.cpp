// Two clients storing the same key at once, against the real server code in
// process: the record tables' sends take as sent exactly the lost races that
// leave the table as the change meant to, and nothing else.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/Connection.h"
#include "platform/Wire.h"
#include "protocol/Methods.h"
#include "protocol/Record.h"
#include "server/Service.h"
#include "store/Record.h"
#include "store/Store.h"

namespace trd::store {
namespace {

const RecordKey kKey{"CADASTRO", "FRMCADASTRO", "BTNSALVAR", "Caption", 0, "POR"};

// A new record of `key` posted into a client's table and sent.
void Insert(Store& s, const RecordKey& key, std::string_view text) {
  PostNewRecord(s.cdsPropProp, key, text);
  s.SendCreated(s.FormRecords());
}

// The looked-up record deleted from a client's table and sent.
void Delete(Store& s) {
  s.cdsVerificaProp.Delete();
  s.SendDeleted(s.FormRecords());
}

class RecordRace : public ::testing::Test {
 protected:
  void SetUp() override {
    mine.OpenConnections({});
    theirs.OpenConnections({});
    mine.cdsPropProp.CreateDataSet();
    theirs.cdsPropProp.CreateDataSet();
  }

  // The records of the key, as the server holds them.
  std::vector<std::string> SourcesOfKey() {
    Value v = service->Call(
        protocol::kModuleForms, "GetVerProp",
        std::vector<Value>{kKey.program, kKey.form, kKey.component, kKey.property, std::string("0"), kKey.language});
    std::vector<std::string> out;
    const Packet& p = std::get<Packet>(v);
    for (const Row& r : p.rows) out.push_back(std::get<std::string>(r[std::size_t(p.FieldIndex("STAGRVALPROP"))]));
    return out;
  }

  // The key's record as a client looked it up before changing it.
  void LookUp(Store& s) {
    Lookup(services, s.cdsVerificaProp, s.NetTradRelDfm, "GetVerProp",
           {kKey.program, kKey.form, kKey.component, kKey.property, std::string("0"), kKey.language});
  }

  std::shared_ptr<server::Service> service = server::Service::Open(":memory:");
  shared::Services services;
  Store mine{services, InProcessTransports(service->Handler())};
  Store theirs{services, InProcessTransports(service->Handler())};
};

TEST_F(RecordRace, InsertOfTheSameTextStoredMeanwhileCountsAsStored) {
  Insert(theirs, kKey, "Salvar");
  Insert(mine, kKey, "Salvar  ");  // trailing blanks compare equal
  EXPECT_EQ(mine.stats.created, 0);
  EXPECT_EQ(mine.stats.already_stored, 1);
  EXPECT_EQ(mine.cdsPropProp.ChangeCount(), 0);  // settled like a sent row
  EXPECT_EQ(mine.cdsPropProp.RecordCount(), 1);
  EXPECT_EQ(SourcesOfKey(), std::vector<std::string>{"Salvar"});
}

TEST_F(RecordRace, InsertOverAnotherTextStoredMeanwhileStaysAFailure) {
  Insert(theirs, kKey, "Gravar");
  try {
    Insert(mine, kKey, "Salvar");
    ADD_FAILURE() << "the insert over another text went through";
  } catch (const ServerError& e) {
    EXPECT_NE(std::string(e.what()).find("duplicate key"), std::string::npos) << e.what();
  }
  EXPECT_EQ(mine.stats.already_stored, 0);
  EXPECT_EQ(mine.cdsPropProp.RecordCount(), 0);  // undone locally
  EXPECT_EQ(SourcesOfKey(), std::vector<std::string>{"Gravar"});
}

TEST_F(RecordRace, DeleteOfARecordDeletedMeanwhileIsDone) {
  Insert(theirs, kKey, "Texto antigo");
  LookUp(mine);
  LookUp(theirs);
  Delete(theirs);
  EXPECT_NO_THROW(Delete(mine));
  EXPECT_EQ(mine.cdsVerificaProp.ChangeCount(), 0);
  EXPECT_EQ(mine.stats.replaced, 0);  // the other client replaced it
  EXPECT_TRUE(SourcesOfKey().empty());

  // Both then insert the same new text: one stores it, the other finds it.
  Insert(theirs, kKey, "Texto novo");
  Insert(mine, kKey, "Texto novo");
  EXPECT_EQ(mine.stats.created, 0);
  EXPECT_EQ(mine.stats.already_stored, 1);
  EXPECT_EQ(SourcesOfKey(), std::vector<std::string>{"Texto novo"});
}

TEST_F(RecordRace, ChangeSetOfSeveralChangesIsNeverTakenAsSent) {
  Insert(theirs, kKey, "Salvar");
  DataSet table("lote", protocol::RecordFields());  // both rows go in one change set
  table.CreateDataSet();
  RecordKey other = kKey;
  other.component = "BTNCANCELAR";
  PostNewRecord(table, other, "Cancelar");
  PostNewRecord(table, kKey, "Salvar");
  EXPECT_THROW(SendChanges(services, table, mine.NetTradRelDfm, "SetPropried",
                           store::RecordRace(services, mine.NetTradRelDfm, "GetVerProp", mine.stats)),
               ServerError);
  EXPECT_EQ(table.RecordCount(), 0);
}

// The key is emptied again between the refused insert and the re-read (a
// third client replacing it): the insert is sent again, a bounded number of
// times. The refusal is known by its code, whatever its message says; the
// message of a refusal without a code settles nothing.
TEST(RecordRaceScripted, InsertIsSentAgainWhileTheKeyComesBackEmptyButNotForever) {
  const ServerFailure reworded{"SetPropried: a chave já tem um registro", "key_taken"};
  const ServerFailure uncoded{
      "Trd00200.rdmLeituraDfm.SetPropried: change 1 of 1 (insert): duplicate key: "
      "TRDPROPRIEDADE has a record of key (...) already"};
  for (int refusals : {1, 8, 0}) {
    SCOPED_TRACE(std::to_string(refusals) + " refusals");
    int inserts = 0;
    auto transports = [&](const std::string&, int) {
      return MakeValueTransport([&](const wire::Request& r) -> Value {
        if (r.method == "GetVerProp") return Packet{protocol::RecordFields(), {}};
        if (r.method != "SetPropried") return std::monostate{};
        if (++inserts > std::max(refusals, 1)) return std::monostate{};
        return refusals == 0 ? uncoded : reworded;
      });
    };
    shared::Services services;
    Store store(services, transports);
    store.OpenConnections({});
    store.cdsPropProp.CreateDataSet();
    if (refusals == 0) {
      EXPECT_THROW(Insert(store, kKey, "Salvar"), ServerError);
      EXPECT_EQ(inserts, 1);
    } else if (refusals < 8) {
      EXPECT_NO_THROW(Insert(store, kKey, "Salvar"));
      EXPECT_EQ(inserts, refusals + 1);
      EXPECT_EQ(store.stats.created, 1);
    } else {
      EXPECT_THROW(Insert(store, kKey, "Salvar"), ServerError);
      EXPECT_EQ(inserts, 8);
    }
  }
}

}  // namespace
}  // namespace trd::store
