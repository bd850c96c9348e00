// The batch method SetPropriedArq on both backends: each record's outcome
// by the record rule, in order, and a refused batch that changes nothing.
#include <chrono>
#include <future>
#include <thread>

#include "Fixture.h"
#include "protocol/Failures.h"
#include "protocol/RecordBatch.h"
#include "server/Records.h"
#include "server/StorageChannel.h"

namespace trd::server::testing {
namespace {

class Batch : public ServiceTest {
 protected:
  // A request row for `r` with r.source as the text.
  static Row BatchRow(const Rec& r, bool accepted = true, bool look_up = true) {
    return {r.program, r.form, r.component, r.property, r.number, r.source,
            std::string(accepted ? "S" : "N"), std::string(look_up ? "S" : "N")};
  }
  Value Send(std::vector<Row> rows) {
    return Call(kDfm, protocol::kSetPropriedArq,
                {std::string("POR"), Packet{protocol::BatchRecordFields(), std::move(rows)}});
  }
  // "outcome/S|N" per row.
  static std::vector<std::string> Outcomes(const Value& v) {
    std::vector<std::string> out;
    const auto* p = std::get_if<Packet>(&v);
    if (!p) {
      ADD_FAILURE() << "no packet: " << (std::holds_alternative<ServerFailure>(v) ? std::get<ServerFailure>(v).message : "");
      return out;
    }
    for (const Row& r : p->rows) out.push_back(std::get<std::string>(r[0]) + "/" + std::get<std::string>(r[1]));
    return out;
  }
  std::string SourceOf(const Rec& r) {
    Packet p = ByKey(r);
    return p.rows.empty() ? "<none>" : std::get<std::string>(p.rows[0][kStAgrValProp]);
  }
};

TEST_P(Batch, EachRecordGetsTheRulesOutcomeInOrder) {
  Rec stored, older, translated;
  stored.component = "BTNSTORED";
  older.component = "BTNOLDER";
  older.source = older.value = "Texto antigo";
  translated.program = "DICIONARIO";
  translated.state = "T";
  translated.source = "Gravar";
  translated.value = "Save";
  Apply("SetPropried", Changes({Insert(stored), Insert(older), Insert(translated)}));

  Rec replaced = older, declined, fresh, no_look_up, several;
  replaced.source = "Gravar";  // replaces the older text, reuses the translation
  declined.component = "BTNDECLINED";
  fresh.component = "BTNNEW";
  fresh.source = "Novo texto";
  no_look_up.component = "BTNNOLOOKUP";
  no_look_up.source = "Gravar";
  several.component = "BTNSEVERAL";
  Rec several2 = several;
  several2.source = "Segundo";
  const Value v = Send({BatchRow(stored), BatchRow(replaced), BatchRow(declined, false), BatchRow(fresh),
                        BatchRow(no_look_up, true, false), BatchRow(several), BatchRow(several2),
                        BatchRow(stored, false)});
  EXPECT_EQ(Outcomes(v), (std::vector<std::string>{"stored_already/N", "replaced/S", "skipped/N", "created/N",
                                                    "created/N", "created/N", "replaced/N", "stored_already/N"}));
  Packet p = ByKey(replaced);
  ASSERT_EQ(p.rows.size(), 1u);
  EXPECT_EQ(std::get<std::string>(p.rows[0][kIdSitTraducao]), "T");
  EXPECT_EQ(std::get<std::string>(p.rows[0][kStValorProp]), "Save");
  EXPECT_EQ(SourceOf(declined), "<none>");
  EXPECT_EQ(SourceOf(several), "Segundo");
  EXPECT_EQ(std::get<std::string>(ByKey(no_look_up).rows.at(0)[kIdSitTraducao]), "N");
  // Sent again: nothing left to change.
  EXPECT_EQ(Outcomes(Send({BatchRow(fresh), BatchRow(several2)})),
            (std::vector<std::string>{"stored_already/N", "stored_already/N"}));
}

// Several files in one call: each file's records of its own form, one of
// them again in a later file, with the outcomes one call per file gives;
// counts that do not fit the packet are refused before anything is stored.
TEST_P(Batch, SeveralFilesInOneCallGiveTheOutcomesOfOneCallEach) {
  Rec stored_b, older_b;
  stored_b.form = older_b.form = "FRMB";
  older_b.component = "BTNOLDER";
  older_b.source = older_b.value = "Antigo";
  Apply("SetPropried", Changes({Insert(stored_b), Insert(older_b)}));

  Rec a1, a2, b_new = older_b, a_again;
  a1.component = "BTNA1";
  a2.component = "BTNA2";
  a2.source = "Outro";
  b_new.source = "Novo";
  a_again.component = "BTNA1";
  a_again.source = "Terceiro";
  auto send = [&](std::vector<Row> rows, std::string counts) {
    return Call(kDfm, protocol::kSetPropriedArq,
                {std::string("POR"), Packet{protocol::BatchRecordFields(), std::move(rows)}, std::move(counts)});
  };
  const std::vector<Row> rows = {BatchRow(a1), BatchRow(a2), BatchRow(stored_b), BatchRow(b_new), BatchRow(a_again)};
  for (const char* bad : {"2,2", "2,0,3", "2,x,3", "", "5,"})
    EXPECT_NE(FailureOf(send(rows, bad)).find("counts"), std::string::npos) << bad;
  EXPECT_EQ(SourceOf(a1), "<none>");

  EXPECT_EQ(Outcomes(send(rows, "2,2,1")), (std::vector<std::string>{"created/N", "created/N", "stored_already/N",
                                                                     "replaced/N", "replaced/N"}));
  EXPECT_EQ(SourceOf(a1), "Terceiro");
  EXPECT_EQ(SourceOf(a2), "Outro");
  EXPECT_EQ(SourceOf(older_b), "Novo");
  EXPECT_EQ(Outcomes(send({BatchRow(a2), BatchRow(older_b)}, "1,1")),
            (std::vector<std::string>{"stored_already/N", "replaced/N"}));
}

TEST_P(Batch, ARefusedBatchChangesNothing) {
  Rec fine, too_long;
  fine.component = "BTNFINE";
  too_long.component = std::string(51, 'X');
  const std::string msg = FailureOf(Send({BatchRow(fine), BatchRow(too_long)}));
  EXPECT_NE(msg.find("record 2 of 2"), std::string::npos) << msg;
  EXPECT_NE(msg.find("NMCOMPONENTE"), std::string::npos) << msg;
  EXPECT_EQ(SourceOf(fine), "<none>");

  const std::string shape = FailureOf(Call(kDfm, protocol::kSetPropriedArq,
                                           {std::string("POR"), Packet{TranslationTable().fields, {fine.ToRow()}}}));
  EXPECT_NE(shape.find("fields"), std::string::npos) << shape;
  EXPECT_EQ(SourceOf(fine), "<none>");
  ExpectStillServing();
}

// A language the server does not list, and a key part that is empty or holds
// a control character, are refused with their codes by the batch and by the
// per-text change sets, before anything of the request is stored.
TEST_P(Batch, UnlistedLanguagesAndUnusableKeysAreRefusedBeforeAnythingIsStored) {
  using protocol::FailureCode;
  auto code_of = [](const Value& v) {
    const auto* f = std::get_if<ServerFailure>(&v);
    return f ? protocol::CodeOf(*f) : FailureCode::Other;
  };
  Rec fine;
  fine.component = "BTNFINE";
  const Value refused = Call(kDfm, protocol::kSetPropriedArq,
                              {std::string("XYZ"), Packet{protocol::BatchRecordFields(), {BatchRow(fine)}}});
  EXPECT_EQ(code_of(refused), FailureCode::UnknownLanguage) << FailureOf(refused);
  EXPECT_NE(FailureOf(refused).find("ENG, ESP, POR"), std::string::npos) << FailureOf(refused);

  Rec empty = fine, tab = fine, del = fine, c1 = fine;
  empty.property = "";
  tab.component = "BTN\tOK";
  del.form = "FRM\x7f";
  c1.program = "CAD\xc2\x85";  // U+0085, NEXT LINE
  for (const Rec* bad : {&empty, &tab, &del, &c1}) {
    const Value v = Send({BatchRow(fine), BatchRow(*bad)});
    EXPECT_EQ(code_of(v), FailureCode::InvalidKey) << FailureOf(v);
    EXPECT_NE(FailureOf(v).find("record 2 of 2"), std::string::npos) << FailureOf(v);
    const Value per_text = Call(kDfm, "SetPropried", {Changes({Insert(fine), Insert(*bad)})});
    EXPECT_EQ(code_of(per_text), FailureCode::InvalidKey) << FailureOf(per_text);
  }
  EXPECT_NE(FailureOf(Send({BatchRow(tab)})).find("\"BTN<U+0009>OK\""), std::string::npos);
  Rec unlisted = fine;
  unlisted.language = "XYZ";
  const Value report = Call(kRel, "SetPropriedRel", {Changes({Insert(fine), Insert(unlisted)})});
  EXPECT_EQ(code_of(report), FailureCode::UnknownLanguage) << FailureOf(report);
  const Value moved = Call(kDfm, "SetVerProp", {Changes({Modify(fine, tab)})});
  EXPECT_EQ(code_of(moved), FailureCode::InvalidKey) << FailureOf(moved);
  EXPECT_EQ(SourceOf(fine), "<none>");

  // A record already stored under such a key can still be deleted.
  {
    auto session = service->Storage().Acquire();
    ApplyChangeSet(*session, TranslationTable(), Changes({Insert(tab)}));
  }
  Apply("SetVerProp", Changes({Delete(tab)}));
  EXPECT_EQ(SourceOf(tab), "<none>");
  ExpectStillServing();
}

// A file whose texts are all stored already takes no write lock: it is
// answered while another writer holds the lock; one with a new text waits
// for it.
// Every text of a file found stored is answered from what is read before any
// change: a file of many records, its texts in no order of the key, texts
// with trailing blanks, and a key of another form among them.
TEST_P(Batch, AnUnchangedFileTakesNoWriteLock) {
  TestDatabase file_db(GetParam(), TestDatabase::Storage::File);
  auto served = Service::Open(file_db.Url());
  std::vector<Rec> file;
  for (const char* component : {"LBLZ", "BTN10", "BTN2", "LBLA", "BTN1"})
    for (double number : {10.0, 2.0, 0.0}) {
      Rec r;
      r.component = component;
      r.number = number;
      r.source = std::string("Texto ") + component + " " + std::to_string(int(number));
      file.push_back(r);
    }
  file[4].source += "  ";
  file[7].form = "FRMOUTRO";
  Rec fresh;
  fresh.component = "BTNNEW";
  auto send = [&](const std::vector<Rec>& recs) {
    std::vector<Row> rows;
    for (const Rec& r : recs) rows.push_back(BatchRow(r));
    return served->Call(kDfm, protocol::kSetPropriedArq,
                        std::vector<Value>{std::string("POR"), Packet{protocol::BatchRecordFields(), std::move(rows)}});
  };
  send(file);
  file[4].source.resize(file[4].source.size() - 2);  // stored with its blanks, sent without

  auto other = OpenDatabase(file_db.Url());
  auto writer = other->Acquire();
  writer->Begin();  // another writer holds the write lock
  const auto started = std::chrono::steady_clock::now();
  Value v = send(file);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
  EXPECT_EQ(Outcomes(v), std::vector<std::string>(file.size(), "stored_already/N"));

  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    writer->Commit();
  });
  const auto waited = std::chrono::steady_clock::now();
  Value created = send({fresh});
  release.join();
  EXPECT_GE(std::chrono::steady_clock::now() - waited, std::chrono::milliseconds(250));
  EXPECT_EQ(std::get<std::string>(std::get<Packet>(created).rows.at(0)[0]), "created");
}

// A look-up is answered while a harvest's write transaction is open on the
// same server: it reads beside the writer, not after it.
TEST_P(Batch, LookUpsAreAnsweredWhileAWriteTransactionIsOpen) {
  TestDatabase file_db(GetParam(), TestDatabase::Storage::File);
  auto served = Service::Open(file_db.Url());
  Rec stored;
  served->Call(kDfm, "SetPropried", std::vector<Value>{Changes({Insert(stored)})});
  auto writer = served->Storage().Acquire();
  writer->Begin();
  auto answered = std::async(std::launch::async, [&] {
    return served->Call(kDfm, "GetVerProp", std::vector<Value>{stored.program, stored.form, stored.component,
                                                              stored.property, stored.NumberText(), stored.language});
  });
  const bool in_time = answered.wait_for(std::chrono::seconds(2)) == std::future_status::ready;
  writer->Rollback();
  writer.reset();  // a look-up still waiting gets the storage now
  ASSERT_TRUE(in_time) << "the look-up waited for the write transaction";
  EXPECT_EQ(std::get<Packet>(answered.get()).rows.size(), 1u);
}

// Write transactions sent at once are each kept or undone alone, however the
// backend commits them (SQLite: those waiting for the writer in one group):
// the one that fails (a key twice) leaves nothing and gets its own error,
// each other returns once its record is stored. They all wait for a writer
// that holds its transaction until they are sent.
TEST_P(Batch, TransactionsCommittedTogetherAreEachKeptOrUndoneAlone) {
  TestDatabase file_db(GetParam(), TestDatabase::Storage::File);
  auto served = Service::Open(file_db.Url());
  Database& db = served->Storage();
  std::vector<Rec> recs(5);
  for (std::size_t i = 0; i < recs.size(); ++i) recs[i].component = "BTN" + std::to_string(i);
  auto stored = [&](const Rec& r) {
    return RecordsOfKey(*db.AcquireReader(), {r.program, r.form, r.component, r.property, r.number, r.language})
        .rows.size();
  };
  auto holder = db.Acquire();
  holder->Begin();
  std::vector<std::future<std::size_t>> writes;
  for (std::size_t i = 0; i < recs.size(); ++i)
    writes.push_back(std::async(std::launch::async, [&, i] {
      auto s = db.AcquireTogether();
      ApplyChangeSet(*s, TranslationTable(),
                     i == 2 ? Changes({Insert(recs[i]), Insert(recs[i])}) : Changes({Insert(recs[i])}));
      return stored(recs[i]);
    }));
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  holder->Commit();
  holder.reset();
  for (std::size_t i = 0; i < writes.size(); ++i) {
    if (i != 2) {
      EXPECT_EQ(writes[i].get(), 1u) << recs[i].component << " was answered before it was stored";
      continue;
    }
    EXPECT_THROW(writes[i].get(), protocol::KeyTakenError);
    EXPECT_EQ(stored(recs[i]), 0u);
  }
  // The writer is free again: a batch is stored.
  Rec later;
  later.component = "BTNLATER";
  Value v = served->Call(kDfm, protocol::kSetPropriedArq,
                         std::vector<Value>{std::string("POR"), Packet{protocol::BatchRecordFields(), {BatchRow(later)}}});
  EXPECT_EQ(std::get<std::string>(std::get<Packet>(v).rows.at(0)[0]), "created");
}

// The same with works that each change over a megabyte of stored pages
// (their undo journal far past what a statement usually keeps), and one that
// fails at its end and is undone after all it changed: the others are kept
// whole, the failed one leaves every record as it was.
TEST_P(Batch, LargeTransactionsCommittedTogetherAreEachKeptOrUndoneAlone) {
  TestDatabase file_db(GetParam(), TestDatabase::Storage::File);
  auto served = Service::Open(file_db.Url());
  Database& db = served->Storage();
  constexpr int kWorks = 4, kRecords = 1500;
  auto record = [](int work, int n, const std::string& text) {
    Rec r;
    r.program = "PROG" + std::to_string(work);
    r.component = "CMP" + std::to_string(n);
    r.source = r.value = text + std::string(300, char('a' + n % 26)) + std::to_string(n);
    return r;
  };
  std::vector<Change> stored;
  for (int w = 0; w < kWorks; ++w)
    for (int n = 0; n < kRecords; ++n) stored.push_back(Insert(record(w, n, "antes ")));
  ApplyChangeSet(*db.Acquire(), TranslationTable(), Changes(std::move(stored)));

  constexpr int kFailing = 2;
  auto holder = db.Acquire();
  holder->Begin();
  std::vector<std::future<void>> works;
  for (int w = 0; w < kWorks; ++w)
    works.push_back(std::async(std::launch::async, [&, w] {
      std::vector<Change> changes;
      for (int n = 0; n < kRecords; ++n) changes.push_back(Modify(record(w, n, "antes "), record(w, n, "depois ")));
      if (w == kFailing) changes.push_back(Insert(record(w, 0, "depois ")));
      ApplyChangeSet(*db.AcquireTogether(), TranslationTable(), Changes(std::move(changes)));
    }));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  holder->Commit();
  holder.reset();
  const FieldType count[] = {FieldType::Float};
  for (int w = 0; w < kWorks; ++w) {
    if (w == kFailing)
      EXPECT_THROW(works[std::size_t(w)].get(), protocol::KeyTakenError);
    else
      EXPECT_NO_THROW(works[std::size_t(w)].get()) << "work " << w;
    const FieldValue program[] = {"PROG" + std::to_string(w)};
    const Row changed = db.AcquireReader()->Query(
        "SELECT COUNT(*) FROM TRDPROPRIEDADE WHERE CDPROGRAMA = ? AND STAGRVALPROP LIKE 'depois %'", program,
        count)[0];
    EXPECT_EQ(std::get<double>(changed[0]), w == kFailing ? 0.0 : double(kRecords)) << "work " << w;
  }
}

// A writer outside the batch's lock (a statement by itself, no Begin) that
// stores one of the batch's keys after the batch read its form: each record
// still gets the rule's outcome against what is stored, as one insert at a
// time tells it.
TEST_P(Batch, AKeyStoredMeanwhileByAnotherWriterGetsTheRulesOutcome) {
  if (GetParam() != test::TestBackend::Postgres)
    GTEST_SKIP() << "SQLite lets one writer in at a time: no key is taken meanwhile";
  // Lets `meddle` run once, right after the first read inside the transaction.
  class Meddling final : public Session {
   public:
    Meddling(Session& s, std::function<void()> meddle) : s_(s), meddle_(std::move(meddle)) {}
    std::vector<Row> QueryWhile(std::string_view sql, std::span<const FieldValue> params,
                                std::span<const FieldType> columns,
                                const std::function<bool(const Row&)>& more) override {
      std::vector<Row> rows = s_.QueryWhile(sql, params, columns, more);
      if (writing_ && meddle_) std::exchange(meddle_, nullptr)();
      return rows;
    }
    std::int64_t Execute(std::string_view sql, std::span<const FieldValue> params) override {
      return s_.Execute(sql, params);
    }
    std::int64_t InsertNew(std::string_view table, std::span<const FieldDef> columns,
                           std::span<const Row> rows) override {
      return s_.InsertNew(table, columns, rows);
    }
    void Begin() override {
      s_.Begin();
      writing_ = true;
    }
    void Commit() override { s_.Commit(); }
    void Rollback() override { s_.Rollback(); }
    Backend Kind() const override { return s_.Kind(); }

   private:
    Session& s_;
    std::function<void()> meddle_;
    bool writing_ = false;
  };
  Rec fresh, same, other;
  fresh.component = "BTNNOVO";
  same.component = "BTNIGUAL";
  other.component = "BTNOUTRO";
  other.source = other.value = "Outro texto";
  Database& storage = service->Storage();
  auto writer = storage.Acquire();
  auto session = storage.Acquire();
  Meddling meddling(*session, [&] {
    const Row rows[] = {same.ToRow(), other.ToRow()};
    EXPECT_EQ(writer->InsertNew(TranslationTable().name, TranslationTable().fields, rows), 2);
  });
  auto record = [](const Rec& r, std::string text) {
    return BatchRecord{{r.program, r.form, r.component, r.property, r.number, r.language}, std::move(text)};
  };
  const Packet p = ApplyRecordBatch(meddling, {record(fresh, "Novo"), record(same, same.source), record(other, "Gravar")},
                                    Attribution{"ana", Origin::Harvest, DateTime::Now()});
  EXPECT_EQ(Outcomes(Value{p}), (std::vector<std::string>{"created/N", "stored_already/N", "replaced/N"}));
  EXPECT_EQ(SourceOf(fresh), "Novo");
  EXPECT_EQ(SourceOf(same), "Salvar");
  EXPECT_EQ(SourceOf(other), "Gravar");
}

}  // namespace

INSTANTIATE_BACKENDS(Batch);

}  // namespace trd::server::testing
