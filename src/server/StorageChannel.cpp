#include "StorageChannel.h"

#include <cmath>
#include <map>
#include <set>
#include <tuple>
#include <unordered_map>
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

// Whether `record` holds `value` as its source text: RecordsOfKeyAndSource's
// test, trailing blanks ignored on both sides.
bool SourceIs(const Row& record, std::string_view value) {
  const auto* source = std::get_if<std::string>(&record[kStAgrValProp]);
  return source && text::TrimTrailingBlanks(*source) == text::TrimTrailingBlanks(value);
}

// The records of a batch's keys as its transaction sees them. A batch holds
// one file's texts or several files' one after the other: the records of a
// file's (program, form, language) are read at once when the transaction
// reaches the file (one statement instead of one a text; the file in which
// the transaction begins from its first text that changes anything), and
// kept in step with the batch's own deletes and inserts. The write lock the
// transaction holds keeps every other writer out meanwhile. A key of a form
// no file of the batch began with, or one whose insert found it taken, is
// read from the table as it comes.
class HeldRecords {
 public:
  explicit HeldRecords(Session& s) : s_(s) {}

  // Reads the records of `first`'s (program, form, language), the form of a
  // file of the batch, unless they are held already.
  void Hold(const RecordKey& first) {
    static const std::string of_form = "SELECT " + protocol::ColumnList(TranslationTable().fields) + " FROM " +
                                       TranslationTable().name + " WHERE " + Column(kCdPrograma) + " = ? AND " +
                                       Column(kNmFormulario) + " = ? AND " + Column(kIdIdioma) + " = ?";
    const auto [form, fresh] = forms_.try_emplace(FormOf(first));
    if (!fresh) return;
    const FieldValue params[] = {first.program, first.form, first.language};
    std::vector<FieldType> types;
    for (const FieldDef& f : TranslationTable().fields) types.push_back(f.type);
    for (Row& row : s_.Query(of_form, params, types)) {
      const auto* component = std::get_if<std::string>(&row[kNmComponente]);
      const auto* property = std::get_if<std::string>(&row[kNmPropriedade]);
      const auto* number = std::get_if<double>(&row[kNrValorProp]);
      if (!component || !property || !number) continue;  // never: key columns hold no nulls
      form->second.held[Part{*component, *property, *number}] = std::move(row);
    }
  }

  // Whether K's record holds `value` (SourceIs).
  bool Holds(const RecordKey& key, std::string_view value) {
    Form* form = Covering(key);
    if (!form) return !RecordsOfKeyAndSource(s_, key, value).rows.empty();
    const auto it = form->held.find(PartOf(key));
    return it != form->held.end() && SourceIs(it->second, value);
  }
  // K's record; nullopt when K holds none.
  std::optional<Row> Of(const RecordKey& key) {
    Form* form = Covering(key);
    if (!form) {
      Packet p = RecordsOfKey(s_, key);
      if (p.rows.empty()) return std::nullopt;
      return std::move(p.rows.front());
    }
    const auto it = form->held.find(PartOf(key));
    if (it == form->held.end()) return std::nullopt;
    return it->second;
  }
  void Deleted(const RecordKey& key) {
    if (Form* form = Covering(key)) form->held.erase(PartOf(key));
  }
  void Inserted(const RecordKey& key, const Row& row) {
    if (Form* form = Covering(key)) form->held[PartOf(key)] = row;
  }
  // K was found holding a record the batch did not know of: read it from
  // the table from now on.
  void Unknown(const RecordKey& key) {
    if (Form* form = Covering(key)) form->unknown.insert(PartOf(key));
  }

 private:
  using FormKey = std::tuple<std::string, std::string, std::string>;  // program, form, language
  using Part = std::tuple<std::string, std::string, double>;          // component, property, number
  struct Form {
    std::map<Part, Row> held;
    std::set<Part> unknown;
  };
  static FormKey FormOf(const RecordKey& key) { return {key.program, key.form, key.language}; }
  static Part PartOf(const RecordKey& key) { return {key.component, key.property, key.number}; }
  Form* Covering(const RecordKey& key) {
    const auto it = forms_.find(FormOf(key));
    if (it == forms_.end() || it->second.unknown.contains(PartOf(key))) return nullptr;
    return &it->second;
  }

  Session& s_;
  std::map<FormKey, Form> forms_;
};

// The translations the batch's new records take (step 6): when the first is
// wanted, those of every text from there to the batch's end are looked up
// at once (TranslationsOfSources). Within the batch an answer changes only
// when a translated record of its text goes: a record the rule inserts is
// not translated, and one that takes a translation over takes the answer
// itself. So a text whose record the batch deletes is looked up alone from
// then on.
class BatchTranslations {
 public:
  BatchTranslations(Session& s, const std::vector<BatchRecord>& records) : s_(s), records_(records) {}

  std::optional<std::string> Of(std::size_t at, const RecordKey& key, const RecordText& text) {
    if (!read_) Read(at, key.language);
    if (const auto it = known_.find(text.value); it != known_.end()) return it->second;
    Packet p = TranslationOfSource(s_, key.language, text.value);
    if (p.rows.empty()) return std::nullopt;
    const auto* translation = std::get_if<std::string>(&p.rows.front()[1]);
    return translation ? *translation : std::string();
  }
  void Deleted(const Row& record) {
    if (const auto* source = std::get_if<std::string>(&record[kStAgrValProp])) known_.erase(*source);
  }

 private:
  void Read(std::size_t from, const std::string& language) {
    read_ = true;
    std::vector<std::string> texts;
    for (std::size_t i = from; i < records_.size(); ++i) {
      const BatchRecord& r = records_[i];
      if (r.declined == Declined::No && r.look_up == TranslationLookUp::Yes && r.key.language == language)
        texts.push_back(RecordText(r.text).value);
    }
    std::vector<std::optional<std::string>> found = TranslationsOfSources(s_, language, texts);
    for (std::size_t i = 0; i < texts.size(); ++i) known_.try_emplace(std::move(texts[i]), std::move(found[i]));
  }

  Session& s_;
  const std::vector<BatchRecord>& records_;
  bool read_ = false;
  std::unordered_map<std::string, std::optional<std::string>> known_;
};

// The rule's six operations as statements on one session; the client's
// decisions (step 2, whether step 6 looks up) come with the record. What the
// rule changed goes to the journal once the rule is done (Finish): the
// record before, and after with the translation it took, as one change.
class StorageChannel final : public store::RecordChannel {
 public:
  StorageChannel(Session& session, const std::vector<BatchRecord>& batch, std::size_t at, Journal& journal,
                 HeldRecords& records, BatchTranslations& translations)
      : s_(session), record_(batch[at]), at_(at), journal_(journal), records_(records), translations_(translations) {}

  // Steps 1 and 3 read K's record from what the batch holds; step 3's first
  // try takes the record step 1 read (nothing changes in between).
  bool HoldsValue(const RecordKey& key, const RecordText& text) override {
    held_ = records_.Of(key);
    held_read_ = true;
    return held_ && SourceIs(*held_, text.value);
  }
  bool Accepts(const RecordKey&, const RecordText&) override { return record_.declined == Declined::No; }
  std::optional<std::string> SourceOfKey(const RecordKey& key) override {
    // A record deleted on a try whose insert found the key taken again is
    // journalled gone before the rule looks at what took its place.
    if (deleted_) journal_.Changed(std::exchange(deleted_, std::nullopt), std::nullopt);
    if (!std::exchange(held_read_, false)) held_ = records_.Of(key);
    if (!held_) return std::nullopt;
    const auto* source = std::get_if<std::string>(&(*held_)[kStAgrValProp]);
    return source ? *source : std::string();
  }
  void DeleteRecord(const RecordKey& key) override {
    held_read_ = false;
    static const std::string remove =
        "DELETE FROM " + TranslationTable().name + " WHERE " + TranslationTable().KeyCondition();
    s_.Execute(remove, KeyParams(key));
    records_.Deleted(key);
    if (held_) translations_.Deleted(*held_);
    deleted_ = std::move(held_);
  }
  void InsertRecord(const RecordKey& key, const RecordText& text) override {
    held_read_ = false;
    static const std::string insert = "INSERT INTO " + TranslationTable().name + " (" +
                                      protocol::ColumnList(TranslationTable().fields) +
                                      ") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT DO NOTHING";
    Row row{key.program, key.form,   key.component, key.property, key.number, std::string(protocol::kStateNew),
            text.value,  text.value, DateTime::Now(), key.language};
    if (s_.Execute(insert, row) == 0) {
      records_.Unknown(key);
      throw store::KeyTakenError(TranslationTable().name + " has a record of key " + DescribeKey(key) + " already");
    }
    records_.Inserted(key, row);
    inserted_ = std::move(row);
  }
  std::optional<std::string> FindTranslation(const RecordKey& key, const RecordText& text) override {
    if (record_.look_up == TranslationLookUp::No) return std::nullopt;
    return translations_.Of(at_, key, text);
  }
  void StoreTranslation(const RecordKey& key, const std::string& translation) override {
    const DateTime now = DateTime::Now();
    server::StoreTranslation(s_, key, translation, std::string(protocol::kStateTranslated), now);
    if (!inserted_) {
      records_.Unknown(key);
      return;
    }
    (*inserted_)[kStValorProp] = translation;
    (*inserted_)[kIdSitTraducao] = std::string(protocol::kStateTranslated);
    (*inserted_)[kDtUltAtuTrad] = now;
    records_.Inserted(key, *inserted_);
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
  std::size_t at_;  // record_'s place in the batch
  Journal& journal_;
  HeldRecords& records_;
  BatchTranslations& translations_;
  std::optional<Row> held_, deleted_, inserted_;
  bool held_read_ = false;  // held_ is what step 1 read
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
std::optional<store::RecordResult> WithoutChange(HeldRecords& stored, const BatchRecord& r) {
  const RecordText t(r.text);
  if (stored.Holds(r.key, t.value)) return store::RecordResult{store::RecordOutcome::StoredAlready};
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

std::vector<std::size_t> ReadFileCounts(const std::string& text, std::size_t records) {
  std::vector<std::size_t> counts = protocol::FileCountsOf(text);
  std::size_t sum = 0;
  for (std::size_t n : counts) sum += n;
  if (sum != records)
    throw ProtocolError("the files' counts add up to " + std::to_string(sum) + " records; the packet holds " +
                        std::to_string(records));
  return counts;
}

Packet ApplyRecordBatch(Session& session, const std::vector<BatchRecord>& records, const Attribution& by,
                        const std::vector<std::size_t>& files) {
  // Where each file begins; one file when none are given.
  std::vector<bool> starts(records.size(), false);
  if (!records.empty()) starts[0] = true;
  for (std::size_t at = 0, f = 0; f + 1 < files.size(); ++f)
    if ((at += files[f]) < records.size()) starts[at] = true;
  Packet result{protocol::BatchResultFields(), {}};
  result.rows.reserve(records.size());
  std::size_t i = 0;
  {
    // Each file's records are read at once here too, on the read snapshot;
    // the write transaction reads them again on its own.
    SharedReads reads(session);
    HeldRecords stored(session);
    for (; i < records.size(); ++i) {
      if (starts[i]) stored.Hold(records[i].key);
      std::optional<store::RecordResult> unchanged = WithoutChange(stored, records[i]);
      if (!unchanged) break;
      result.rows.push_back(ResultRow(*unchanged));
    }
  }
  if (i == records.size()) return result;
  Transaction tx(session);
  Journal journal(session, by, HistoryWrite::Together);
  HeldRecords held(session);
  held.Hold(records[i].key);
  BatchTranslations translations(session, records);
  std::int64_t inserted = 0;
  for (; i < records.size(); ++i) {
    if (starts[i]) held.Hold(records[i].key);
    StorageChannel channel(session, records, i, journal, held, translations);
    const store::RecordResult r = store::ApplyRecordRule(channel, records[i].key, records[i].text);
    inserted += r.outcome == store::RecordOutcome::Created || r.outcome == store::RecordOutcome::Replaced;
    result.rows.push_back(ResultRow(r));
    channel.Finish();
  }
  journal.Flush();
  tx.Commit();
  session.Grew(TranslationTable().name, inserted);
  return result;
}

}  // namespace trd::server
