#include "StorageChannel.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <tuple>
#include <unordered_map>
#include <utility>

#include "HeldSources.h"
#include "InsertsTogether.h"
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

// Whether `record` holds `value` as its source text (HoldsSource).
bool SourceIs(const Row& record, std::string_view value) { return HoldsSource(record[kStAgrValProp], value); }

// The records of a batch's keys as its transaction sees them. A batch holds
// one file's texts or several files' one after the other: the records of a
// file's (program, form, language) are read at once when the transaction
// reaches the file (one statement instead of one a text; the file in which
// the transaction begins from its first text that changes anything), and
// kept in step with the batch's own deletes and inserts. The write lock the
// transaction holds keeps every other writer out meanwhile. A key of a form
// no file of the batch began with, or one whose insert found it taken, is
// read from the table as it comes. (The look-ups before the first change,
// which only ask whether a text is stored, read the source texts alone:
// HeldSources.h.)
class HeldRecords {
 public:
  explicit HeldRecords(Session& s) : s_(s) {}

  // Reads the records of `first`'s (program, form, language), the form of a
  // file of the batch, unless they are held already.
  void Hold(const RecordKey& first) {
    const auto [form, fresh] = forms_.try_emplace(FormOf(first));
    if (!fresh) return;
    const FieldValue params[] = {first.program, first.form, first.language};
    for (Row& read : s_.Query(AllOf(1), params, AllTypes())) Keep(form->second, std::move(read));
  }

  // Hold for the forms of every key of `firsts` at once: a statement for up
  // to kFormsAtOnce forms instead of one a form. The statement lists a power
  // of two of forms (the last repeated), so that few distinct statements are
  // prepared whatever the batch's count.
  void HoldAll(std::span<const RecordKey> firsts) {
    std::vector<FormKey> wanted;
    for (const RecordKey& key : firsts)
      if (forms_.try_emplace(FormOf(key)).second) wanted.push_back(FormOf(key));
    for (std::size_t from = 0; from < wanted.size(); from += kFormsAtOnce) {
      const std::size_t n = std::min(kFormsAtOnce, wanted.size() - from);
      std::size_t listed = 1;
      while (listed < n) listed *= 2;
      std::vector<FieldValue> params;
      params.reserve(listed * 3);
      for (std::size_t i = 0; i < listed; ++i) {
        const auto& [program, form, language] = wanted[from + std::min(i, n - 1)];
        params.insert(params.end(), {program, form, language});
      }
      for (Row& read : s_.Query(AllOf(listed), params, AllTypes())) {
        const auto* program = std::get_if<std::string>(&read[kCdPrograma]);
        const auto* form = std::get_if<std::string>(&read[kNmFormulario]);
        const auto* language = std::get_if<std::string>(&read[kIdIdioma]);
        if (!program || !form || !language) continue;  // never: key columns hold no nulls
        const auto it = forms_.find(FormKey{*program, *form, *language});
        if (it != forms_.end()) Keep(it->second, std::move(read));
      }
    }
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
    if (Form* form = Covering(key))
      if (const auto it = form->held.find(PartOf(key)); it != form->held.end()) form->held.erase(it);
  }
  void Inserted(const RecordKey& key, const Row& row) {
    if (Form* form = Covering(key)) form->held.insert_or_assign(PartCopy(key), row);
  }
  // K was found holding a record the batch did not know of: read it from
  // the table from now on.
  void Unknown(const RecordKey& key) {
    if (Form* form = Covering(key)) form->unknown.insert(PartCopy(key));
  }

 private:
  using FormKey = std::tuple<std::string, std::string, std::string>;  // program, form, language
  using Part = std::tuple<std::string, std::string, double>;          // component, property, number
  using PartView = std::tuple<std::string_view, std::string_view, double>;
  struct Form {
    std::map<Part, Row, std::less<>> held;  // every field
    std::set<Part, std::less<>> unknown;
  };
  static constexpr std::size_t kFormsAtOnce = 64;

  // Every field of the records of `forms` forms, their (program, form,
  // language) bound in this order.
  static const std::string& AllOf(std::size_t forms) {
    static std::mutex mutex;
    static std::map<std::size_t, std::string> made;
    std::lock_guard lock(mutex);
    auto [it, fresh] = made.try_emplace(forms);
    if (!fresh) return it->second;
    std::string& sql = it->second;
    sql = "SELECT " + protocol::ColumnList(TranslationTable().fields) + " FROM " + TranslationTable().name + " WHERE ";
    if (forms == 1) {
      sql += FormCondition();
      return sql;
    }
    sql += "(" + Column(kCdPrograma) + ", " + Column(kNmFormulario) + ", " + Column(kIdIdioma) + ") IN (";
    for (std::size_t i = 0; i < forms; ++i) sql += i ? ", (?, ?, ?)" : "(?, ?, ?)";
    sql += ")";
    return sql;
  }
  static const std::vector<FieldType>& AllTypes() {
    static const std::vector<FieldType> types = [] {
      std::vector<FieldType> t;
      for (const FieldDef& f : TranslationTable().fields) t.push_back(f.type);
      return t;
    }();
    return types;
  }
  // Keeps a record read in its form.
  static void Keep(Form& form, Row read) {
    const auto* component = std::get_if<std::string>(&read[kNmComponente]);
    const auto* property = std::get_if<std::string>(&read[kNmPropriedade]);
    const auto* number = std::get_if<double>(&read[kNrValorProp]);
    if (!component || !property || !number) return;  // never: key columns hold no nulls
    form.held[Part{*component, *property, *number}] = std::move(read);
  }

  static FormKey FormOf(const RecordKey& key) { return {key.program, key.form, key.language}; }
  static PartView PartOf(const RecordKey& key) { return {key.component, key.property, key.number}; }
  static Part PartCopy(const RecordKey& key) { return {key.component, key.property, key.number}; }
  // The form of `key` when it was read, and `key` not found unknown since.
  // The texts of a file come one after another: the form of the last look-up
  // is tried first.
  Form* Covering(const RecordKey& key) {
    const auto it = FormOfKey(forms_, last_, key);
    if (it == forms_.end()) return nullptr;
    Form& form = it->second;
    if (!form.unknown.empty() && form.unknown.contains(PartOf(key))) return nullptr;
    return &form;
  }

  Session& s_;
  std::map<FormKey, Form, std::less<>> forms_;
  std::map<FormKey, Form, std::less<>>::iterator last_ = forms_.end();
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
  // `together`, when given, is `session` and takes the inserts (they are
  // sent with the next statement; InsertsTogether.h).
  StorageChannel(Session& session, InsertsTogether* together, const std::vector<BatchRecord>& batch, std::size_t at,
                 Journal& journal, HeldRecords& records, BatchTranslations& translations)
      : s_(session),
        together_(together),
        record_(batch[at]),
        at_(at),
        journal_(journal),
        records_(records),
        translations_(translations) {}

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
    if (together_) {
      together_->Insert(row);
    } else if (s_.Execute(insert, row) == 0) {
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
  InsertsTogether* together_;
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
std::optional<store::RecordResult> WithoutChange(HeldSources& stored, const BatchRecord& r) {
  const RecordText t(r.text);
  if (stored.Holds(r.key, t.value)) return store::RecordResult{store::RecordOutcome::StoredAlready};
  if (r.declined == Declined::Yes) return store::RecordResult{store::RecordOutcome::Skipped};
  return std::nullopt;
}

// "record 3 of 40", written in `room`: each record of a batch is named so for
// its refusals, which are rare, so without an allocation.
std::string_view RecordOfN(std::array<char, 64>& room, std::size_t i, std::size_t n) {
  constexpr int kDigits = 20;  // of the largest std::size_t
  char* p = std::copy_n("record ", 7, room.data());
  p = std::to_chars(p, p + kDigits, i).ptr;
  p = std::copy_n(" of ", 4, p);
  p = std::to_chars(p, p + kDigits, n).ptr;
  return {room.data(), std::size_t(p - room.data())};
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
    std::array<char, 64> what_room;
    const std::string_view what = RecordOfN(what_room, i + 1, n);
    if (row.size() != expected.size()) throw ProtocolError(std::string(what) + " does not match the fields");
    auto text = [&](int at) -> const std::string& {
      const auto* s = std::get_if<std::string>(&row[std::size_t(at)]);
      if (!s) throw ProtocolError(std::string(what) + ": " + expected[std::size_t(at)].name + " must be text");
      CheckFits(expected[std::size_t(at)], *s, what);
      return *s;
    };
    auto flag = [&](int at) {
      const std::string& s = text(at);
      if (s != kYes && s != kNo)
        throw ProtocolError(std::string(what) + ": " + expected[std::size_t(at)].name + " must be S or N");
      return s == kYes;
    };
    const auto* number = std::get_if<double>(&row[kBatchNumber]);
    if (!number || !std::isfinite(*number))
      throw ProtocolError(std::string(what) + ": NRVALORPROP must be a finite number");
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

namespace {

// How a batch's transaction inserts its new records: each by itself, its row
// count telling a key taken at once; or held back and sent together with the
// next statement (InsertsTogether.h), which pays where a statement is a round
// trip (PostgreSQL), and is run again one by one should a key be found taken.
enum class Inserts { Each, Together };

Packet Apply(Session& session, const std::vector<BatchRecord>& records, const Attribution& by,
             const std::vector<std::size_t>& files, Inserts inserts) {
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
    HeldSources stored(session);
    for (; i < records.size(); ++i) {
      if (starts[i]) stored.Hold(records[i].key);
      std::optional<store::RecordResult> unchanged = WithoutChange(stored, records[i]);
      if (!unchanged) break;
      result.rows.push_back(ResultRow(*unchanged));
    }
  }
  if (i == records.size()) return result;
  Transaction tx(session);
  std::optional<InsertsTogether> together;
  if (inserts == Inserts::Together) together.emplace(session, TranslationTable().name, TranslationTable().fields);
  Session& s = together ? static_cast<Session&>(*together) : session;
  Journal journal(s, by, HistoryWrite::Together);
  HeldRecords held(s);
  if (together) {
    // Where a statement is a round trip, the forms of every file from here
    // on are read now in a few statements, not one each as its file begins.
    std::vector<RecordKey> firsts{records[i].key};
    for (std::size_t at = i + 1; at < records.size(); ++at)
      if (starts[at]) firsts.push_back(records[at].key);
    held.HoldAll(firsts);
  } else {
    held.Hold(records[i].key);
  }
  BatchTranslations translations(s, records);
  std::int64_t inserted = 0;
  for (; i < records.size(); ++i) {
    if (starts[i]) held.Hold(records[i].key);
    StorageChannel channel(s, together ? &*together : nullptr, records, i, journal, held, translations);
    const store::RecordResult r = store::ApplyRecordRule(channel, records[i].key, records[i].text);
    inserted += r.outcome == store::RecordOutcome::Created || r.outcome == store::RecordOutcome::Replaced;
    result.rows.push_back(ResultRow(r));
    channel.Finish();
  }
  journal.Flush();
  if (together) together->Flush();
  tx.Commit();
  session.Grew(TranslationTable().name, inserted);
  return result;
}

}  // namespace

Packet ApplyRecordBatch(Session& session, const std::vector<BatchRecord>& records, const Attribution& by,
                        const std::vector<std::size_t>& files) {
  if (session.Kind() == Backend::Postgres) {
    try {
      return Apply(session, records, by, files, Inserts::Together);
    } catch (const KeyTakenMeanwhile&) {
      // Rolled back as the exception left the transaction's scope.
    }
  }
  return Apply(session, records, by, files, Inserts::Each);
}

}  // namespace trd::server
