#include "StorageChannel.h"

#include <cmath>
#include <utility>

#include "Journal.h"
#include "KeyCheck.h"
#include "Records.h"
#include "Schema.h"
#include "platform/Text.h"
#include "protocol/RecordBatch.h"

namespace trd::server {
namespace {

using protocol::RecordKey;
using store::RecordText;

std::vector<FieldValue> KeyParams(const RecordKey& key) {
  return {key.program, key.form, key.component, key.property, key.number, key.language};
}

// The rule's six operations as statements on one session; the client's
// decisions (step 2, whether step 6 looks up) come with the record. What the
// rule changed goes to the journal once the rule is done (Finish): the
// record before, and after with the translation it took, as one change.
class StorageChannel final : public store::RecordChannel {
 public:
  StorageChannel(Session& session, const BatchRecord& record, Journal& journal)
      : s_(session), record_(record), journal_(journal) {}

  // Step 1 reads K's record whole, in the batch's transaction: the record
  // step 3 asks for next is the same one (nothing else writes in between),
  // so the first SourceOfKey takes it from here instead of reading it again.
  // A retry after KeyTakenError reads afresh.
  bool HoldsValue(const RecordKey& key, const RecordText& text) override {
    ReadKey(key);
    read_ahead_ = true;
    const auto* source = held_ ? std::get_if<std::string>(&(*held_)[kStAgrValProp]) : nullptr;
    return source && text::TrimTrailingBlanks(*source) == text::TrimTrailingBlanks(text.value);
  }
  bool Accepts(const RecordKey&, const RecordText&) override { return record_.declined == Declined::No; }
  std::optional<std::string> SourceOfKey(const RecordKey& key) override {
    // A record deleted on a try whose insert found the key taken again is
    // journalled gone before the rule looks at what took its place.
    if (deleted_) journal_.Changed(std::exchange(deleted_, std::nullopt), std::nullopt);
    if (!std::exchange(read_ahead_, false)) ReadKey(key);
    if (!held_) return std::nullopt;
    const auto* source = std::get_if<std::string>(&(*held_)[kStAgrValProp]);
    return source ? *source : std::string();
  }
  void DeleteRecord(const RecordKey& key) override {
    read_ahead_ = false;
    static const std::string remove =
        "DELETE FROM " + TranslationTable().name + " WHERE " + TranslationTable().KeyCondition();
    s_.Execute(remove, KeyParams(key));
    deleted_ = std::move(held_);
  }
  void InsertRecord(const RecordKey& key, const RecordText& text) override {
    read_ahead_ = false;
    static const std::string insert = "INSERT INTO " + TranslationTable().name + " (" +
                                      protocol::ColumnList(TranslationTable().fields) +
                                      ") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT DO NOTHING";
    Row row{key.program, key.form,   key.component, key.property, key.number, std::string(protocol::kStateNew),
            text.value,  text.value, DateTime::Now(), key.language};
    if (s_.Execute(insert, row) == 0)
      throw store::KeyTakenError(TranslationTable().name + " has a record of key " + DescribeKey(key) + " already");
    inserted_ = std::move(row);
  }
  std::optional<std::string> FindTranslation(const RecordKey& key, const RecordText& text) override {
    if (record_.look_up == TranslationLookUp::No) return std::nullopt;
    Packet p = TranslationOfSource(s_, key.language, text.value);
    if (p.rows.empty()) return std::nullopt;
    const auto* translation = std::get_if<std::string>(&p.rows.front()[1]);
    return translation ? *translation : std::string();
  }
  void StoreTranslation(const RecordKey& key, const std::string& translation) override {
    const DateTime now = DateTime::Now();
    server::StoreTranslation(s_, key, translation, std::string(protocol::kStateTranslated), now);
    if (!inserted_) return;
    (*inserted_)[kStValorProp] = translation;
    (*inserted_)[kIdSitTraducao] = std::string(protocol::kStateTranslated);
    (*inserted_)[kDtUltAtuTrad] = now;
    reused_ = true;
  }

  // Journals what the rule changed, if anything.
  void Finish() {
    if (!deleted_ && !inserted_) return;
    Attribution by = journal_.By();
    if (reused_) by.origin = Origin::Reuse;
    journal_.Changed(deleted_, inserted_, by);
  }

 private:
  Session& s_;
  const BatchRecord& record_;
  Journal& journal_;
  // K's record as last read; held_ unset when K holds none.
  void ReadKey(const RecordKey& key) {
    Packet p = RecordsOfKey(s_, key);
    if (p.rows.empty()) held_.reset();
    else held_ = std::move(p.rows.front());
  }

  std::optional<Row> held_, deleted_, inserted_;
  bool read_ahead_ = false;  // held_ is step 1's read, not yet used by step 3
  bool reused_ = false;
};

// The look-ups before the first change, on one read snapshot. SQLite takes
// and drops its read lock around every statement outside a transaction
// (locks on the file and its shared memory, a look for a hot journal), which
// costs more than a look-up by key itself; a deferred transaction that only
// reads holds one lock for the run and ends before the write transaction
// begins. PostgreSQL reads statement by statement as before.
class SharedReads {
 public:
  explicit SharedReads(Session& s) : s_(s.Kind() == Backend::Sqlite ? &s : nullptr) {
    if (s_) s_->Execute("BEGIN DEFERRED");
  }
  ~SharedReads() {
    try {
      if (s_) s_->Execute("COMMIT");
    } catch (...) {
      // Nothing was written; the session's end discards the transaction.
    }
  }
  SharedReads(const SharedReads&) = delete;
  SharedReads& operator=(const SharedReads&) = delete;

 private:
  Session* s_;
};

Row ResultRow(const store::RecordResult& r) {
  const bool reused = r.translation == store::TranslationReuse::Reused;
  return {std::string(store::OutcomeName(r.outcome)), std::string(reused ? protocol::kYes : protocol::kNo)};
}

// The outcome when nothing is written: stored already, or declined; nullopt
// when the record needs a change.
std::optional<store::RecordResult> WithoutChange(Session& s, const BatchRecord& r) {
  const RecordText t(r.text);
  if (!RecordsOfKeyAndSource(s, r.key, t.value).rows.empty()) return store::RecordResult{store::RecordOutcome::StoredAlready};
  if (r.declined == Declined::Yes) return store::RecordResult{store::RecordOutcome::Skipped};
  return std::nullopt;
}

}  // namespace

std::vector<BatchRecord> ReadBatch(const Packet& packet, const std::string& language) {
  using namespace protocol;
  const std::vector<FieldDef>& expected = BatchRecordFields();
  if (packet.fields.size() != expected.size())
    throw ProtocolError("the records packet has " + std::to_string(packet.fields.size()) + " fields; " +
                        std::to_string(expected.size()) + " are expected (" + ColumnList(expected) + ")");
  for (std::size_t i = 0; i < expected.size(); ++i)
    if (!text::EqualsIgnoreCase(packet.fields[i].name, expected[i].name) || packet.fields[i].type != expected[i].type)
      throw ProtocolError("field " + std::to_string(i + 1) + " of the records packet is " + packet.fields[i].name +
                          "; expected " + expected[i].name + " (" + ColumnList(expected) + ")");
  const std::size_t n = packet.rows.size();
  std::vector<BatchRecord> records;
  records.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    const Row& row = packet.rows[i];
    const std::string what = "record " + std::to_string(i + 1) + " of " + std::to_string(n);
    if (row.size() != expected.size()) throw ProtocolError(what + " does not match the fields");
    auto text = [&](int at) -> const std::string& {
      const auto* s = std::get_if<std::string>(&row[std::size_t(at)]);
      if (!s) throw ProtocolError(what + ": " + expected[std::size_t(at)].name + " must be text");
      CheckFits(expected[std::size_t(at)], *s, what);
      return *s;
    };
    auto flag = [&](int at) {
      const std::string& s = text(at);
      if (s != kYes && s != kNo) throw ProtocolError(what + ": " + expected[std::size_t(at)].name + " must be S or N");
      return s == kYes;
    };
    const auto* number = std::get_if<double>(&row[kBatchNumber]);
    if (!number || !std::isfinite(*number)) throw ProtocolError(what + ": NRVALORPROP must be a finite number");
    BatchRecord r;
    r.key = {text(kBatchProgram), text(kBatchForm), text(kBatchComponent), text(kBatchProperty), *number, language};
    CheckKeyParts(r.key, what);
    r.text = text(kBatchText);
    r.declined = flag(kBatchAccepted) ? Declined::No : Declined::Yes;
    r.look_up = flag(kBatchLookUp) ? TranslationLookUp::Yes : TranslationLookUp::No;
    records.push_back(std::move(r));
  }
  return records;
}

Packet ApplyRecordBatch(Session& session, const std::vector<BatchRecord>& records, const Attribution& by) {
  Packet result{protocol::BatchResultFields(), {}};
  result.rows.reserve(records.size());
  std::size_t i = 0;
  {
    SharedReads reads(session);
    for (; i < records.size(); ++i) {
      std::optional<store::RecordResult> unchanged = WithoutChange(session, records[i]);
      if (!unchanged) break;
      result.rows.push_back(ResultRow(*unchanged));
    }
  }
  if (i == records.size()) return result;
  Transaction tx(session);
  Journal journal(session, by);
  for (; i < records.size(); ++i) {
    StorageChannel channel(session, records[i], journal);
    result.rows.push_back(ResultRow(store::ApplyRecordRule(channel, records[i].key, records[i].text)));
    channel.Finish();
  }
  tx.Commit();
  return result;
}

}  // namespace trd::server
