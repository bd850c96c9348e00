#include "Records.h"

#include <cmath>
#include <cstdio>

#include "Journal.h"
#include "KeyCheck.h"
#include "Memory.h"
#include "platform/Text.h"
#include "protocol/ChangeSets.h"
#include "protocol/Failures.h"

namespace trd::server {
namespace {

std::string Quote(std::string_view s) { return "'" + std::string(s) + "'"; }

std::string FormatNumber(double d) {
  char buf[64];
  if (std::isfinite(d) && d == std::floor(d) && std::fabs(d) < 1e15)
    std::snprintf(buf, sizeof buf, "%.0f", d);
  else
    std::snprintf(buf, sizeof buf, "%.17g", d);
  return buf;
}

std::string FormatValue(const FieldValue& v) {
  if (std::holds_alternative<std::monostate>(v)) return "null";
  if (const auto* s = std::get_if<std::string>(&v)) return Quote(*s);
  if (const auto* d = std::get_if<double>(&v)) return FormatNumber(*d);
  return std::get<DateTime>(v).ToIso();
}

std::vector<FieldType> TypesOf(const std::vector<FieldDef>& fields) {
  std::vector<FieldType> types;
  types.reserve(fields.size());
  for (const auto& f : fields) types.push_back(f.type);
  return types;
}

std::vector<FieldValue> KeyParams(const RecordKey& key) {
  return {key.program, key.form, key.component, key.property, key.number, key.language};
}

Packet Select(Session& s, const std::vector<FieldDef>& fields, std::string_view sql,
              std::span<const FieldValue> params) {
  auto types = TypesOf(fields);
  return Packet{fields, s.Query(sql, params, types)};
}

// ---- Change sets ------------------------------------------------------------

// The change set's fields matched to the table's columns.
struct FieldMap {
  std::vector<int> column;  // per change-set field, its column in the table
  std::vector<int> key_at;  // per key column of the table, its change-set field
};

FieldMap MapFields(const TableDef& t, const ChangeSet& cs) {
  FieldMap m;
  std::vector<bool> seen(t.fields.size(), false);
  for (const auto& f : cs.fields) {
    int c = t.FieldIndex(f.name);
    if (c < 0) throw FieldError("the change set's field " + f.name + " is not a column of " + t.name);
    if (seen[std::size_t(c)]) throw FieldError("the change set has the field " + f.name + " twice");
    const FieldDef& col = t.fields[std::size_t(c)];
    if (f.type != col.type)
      throw FieldError("the change set's field " + f.name + " is " + TypeName(f.type) + ", " + t.name +
                       "." + col.name + " is " + TypeName(col.type));
    seen[std::size_t(c)] = true;
    m.column.push_back(c);
  }
  if (cs.fields.empty()) throw FieldError("the change set has no fields for " + t.name);
  for (int k : t.key) {
    if (!seen[std::size_t(k)])
      throw FieldError("the change set lacks the key field " + t.fields[std::size_t(k)].name + " of " +
                       t.name);
    for (std::size_t i = 0; i < m.column.size(); ++i)
      if (m.column[i] == k) m.key_at.push_back(int(i));
  }
  return m;
}

using protocol::ChangeName;

// `what` makes the name of the row for a message.
template <class What>
void CheckRow(const TableDef& t, const FieldMap& m, const Row& row, const What& what) {
  for (std::size_t i = 0; i < m.column.size(); ++i) {
    int c = m.column[i];
    const FieldDef& col = t.fields[std::size_t(c)];
    const FieldValue& v = row[i];
    if (std::holds_alternative<std::monostate>(v)) {
      if (t.IsKey(c)) throw FieldError(what() + ": the key field " + col.name + " is null");
      continue;
    }
    const bool kind_fits = (col.type == FieldType::String && std::holds_alternative<std::string>(v)) ||
                           (col.type == FieldType::Float && std::holds_alternative<double>(v)) ||
                           (col.type == FieldType::DateTime && std::holds_alternative<DateTime>(v));
    if (!kind_fits) throw FieldError(what() + ": the value of " + col.name + " is not a " + TypeName(col.type));
    if (const auto* s = std::get_if<std::string>(&v); s && !Fits(col, *s)) RefuseTooLong(col, *s, what());
    if (const auto* d = std::get_if<double>(&v); d && !std::isfinite(*d))
      throw FieldError(what() + ": " + col.name + " is not a finite number");
  }
}

std::string DescribeRowKey(const TableDef& t, const FieldMap& m, const Row& row) {
  std::string s = "(";
  for (std::size_t k = 0; k < t.key.size(); ++k) {
    if (k) s += ", ";
    s += t.fields[std::size_t(t.key[k])].name + " " + FormatValue(row[std::size_t(m.key_at[k])]);
  }
  return s + ")";
}

std::string KeyWhere(const TableDef& t) { return " WHERE " + t.KeyCondition(); }

void AppendKey(const FieldMap& m, const Row& row, std::vector<FieldValue>& params) {
  for (int at : m.key_at) params.push_back(row[std::size_t(at)]);
}

// The stored row of the key (its values in table key order), if any.
std::optional<Row> StoredRow(Session& s, std::span<const FieldValue> key) {
  static const std::vector<FieldType> types = TypesOf(TranslationTable().fields);
  auto rows = s.Query(sql::RecordsOfKey(), key, types);
  if (rows.empty()) return std::nullopt;
  return std::move(rows.front());
}

bool IsTranslated(const std::optional<Row>& r) {
  const auto* state = r ? std::get_if<std::string>(&(*r)[kIdSitTraducao]) : nullptr;
  return state && *state == protocol::kStateTranslated;
}

// Whether a change gives the record a translation it did not hold.
bool SetsTranslation(const std::optional<Row>& before, const std::optional<Row>& after) {
  if (!IsTranslated(after)) return false;
  return !IsTranslated(before) || (*before)[kStValorProp] != (*after)[kStValorProp] ||
         (*before)[kStAgrValProp] != (*after)[kStAgrValProp];
}

void ApplyKeyed(Session& s, const TableDef& t, const FieldMap& m, const ChangeSet& cs, Journal* journal) {
  std::string columns, marks, sets;
  for (std::size_t i = 0; i < m.column.size(); ++i) {
    const std::string& name = t.fields[std::size_t(m.column[i])].name;
    columns += (i ? ", " : "") + name;
    marks += i ? ", ?" : "?";
    sets += (i ? ", " : "") + name + " = ?";
  }
  const std::string where = KeyWhere(t);
  const std::string insert = "INSERT INTO " + t.name + " (" + columns + ") VALUES (" + marks + ")";
  const std::string update = "UPDATE " + t.name + " SET " + sets + where;
  const std::string remove = "DELETE FROM " + t.name + where;

  std::vector<FieldValue> params, old_key, new_key;
  for (std::size_t i = 0; i < cs.changes.size(); ++i) {
    const Change& ch = cs.changes[i];
    auto what = [&] { return ChangeName(i, cs.changes.size(), ch.kind); };
    params.clear();
    std::optional<Row> before;
    if (journal && ch.kind != ChangeKind::Insert) {
      old_key.clear();
      AppendKey(m, ch.before, old_key);
      before = StoredRow(s, old_key);
    }
    try {
      switch (ch.kind) {
        case ChangeKind::Insert:
          s.Execute(insert, ch.after);
          break;
        case ChangeKind::Delete:
          AppendKey(m, ch.before, params);
          if (s.Execute(remove, params) == 0)
            throw protocol::RecordMissingError(what() + ": " + std::string(protocol::kNoRecordOfKey) +
                                               DescribeRowKey(t, m, ch.before) + " in " + t.name);
          break;
        case ChangeKind::Modify:
          params.assign(ch.after.begin(), ch.after.end());
          AppendKey(m, ch.before, params);
          if (s.Execute(update, params) == 0)
            throw protocol::RecordMissingError(what() + ": " + std::string(protocol::kNoRecordOfKey) +
                                               DescribeRowKey(t, m, ch.before) + " in " + t.name);
          break;
      }
    } catch (const DuplicateKeyError&) {
      throw protocol::KeyTakenError(what() + ": " + std::string(protocol::kDuplicateKey) + t.name +
                                    " has a record of key " + DescribeRowKey(t, m, ch.after) + " already");
    }
    if (!journal) continue;
    std::optional<Row> after;
    if (ch.kind != ChangeKind::Delete) {
      new_key.clear();
      AppendKey(m, ch.after, new_key);
      after = StoredRow(s, new_key);
    }
    Attribution by = journal->By();
    if (SetsTranslation(before, after)) by.origin = Origin::Call;
    journal->Changed(before, after, by);
  }
}

void ApplySingleRow(Session& s, const TableDef& t, const FieldMap& m, const ChangeSet& cs) {
  const std::string& col = t.fields[std::size_t(m.column.at(0))].name;
  const std::string update = "UPDATE " + t.name + " SET " + col + " = ?";
  const std::string insert = "INSERT INTO " + t.name + " (" + col + ") VALUES (?)";
  const std::string remove = "DELETE FROM " + t.name;
  for (const Change& ch : cs.changes) {
    if (ch.kind == ChangeKind::Delete) {
      s.Execute(remove);
      continue;
    }
    std::span<const FieldValue> value(ch.after.data(), 1);
    if (s.Execute(update, value) == 0) s.Execute(insert, value);
  }
}

}  // namespace

std::string DescribeKey(const RecordKey& key) {
  const std::vector<FieldValue> values = KeyParams(key);
  std::string s = "(";
  for (std::size_t k = 0; k < values.size(); ++k)
    s += (k ? ", " : "") + protocol::FieldName(protocol::KeyFields()[k]) + " " + FormatValue(values[k]);
  return s + ")";
}

bool Fits(const FieldDef& field, std::string_view s) {
  if (field.type != FieldType::String || field.size <= 0) return true;
  // The byte length bounds the character count from above: most texts need no count.
  return s.size() <= std::size_t(field.size) || text::Length(s) <= std::size_t(field.size);
}

void RefuseTooLong(const FieldDef& field, std::string_view s, std::string_view what) {
  throw WidthError(std::string(what) + ": a text of " + std::to_string(text::Length(s)) +
                   " characters does not fit " + field.name + " (" + std::to_string(field.size) +
                   " characters); it is refused, not cut");
}

Packet Languages(Session& s) {
  const TableDef& t = LanguageTable();
  static const std::string select = "SELECT " + protocol::ColumnList(t.fields) + " FROM " + t.name + " ORDER BY " +
                                    Column(t, protocol::kLangCode);
  return Select(s, LanguageTable().fields, select, {});
}

Packet Version(Session& s) {
  // The table holds one row; should a foreign writer have added more, the
  // latest stamp is the version.
  const TableDef& t = VersionTable();
  const std::string& stamp = Column(t, protocol::kVersionStamp);
  static const std::string select = "SELECT " + stamp + " FROM " + t.name + " ORDER BY CASE WHEN " + stamp +
                                    " IS NULL THEN 1 ELSE 0 END, " + stamp + " DESC LIMIT 1";
  return Select(s, t.fields, select, {});
}

Packet RecordsOfKey(Session& s, const RecordKey& key) {
  auto params = KeyParams(key);
  return Select(s, TranslationTable().fields, sql::RecordsOfKey(), params);
}

bool HoldsSource(const FieldValue& record_source, std::string_view source) {
  const auto* held = std::get_if<std::string>(&record_source);
  return held && text::TrimTrailingBlanks(*held) == text::TrimTrailingBlanks(source);
}

Packet RecordsOfKeyAndSource(Session& s, const RecordKey& key, std::string_view source) {
  const auto& fields = TranslationTable().fields;
  source = text::TrimTrailingBlanks(source);
  if (text::Length(source) > std::size_t(fields[kStAgrValProp].size)) return Packet{fields, {}};
  auto params = KeyParams(key);
  params.emplace_back(std::string(source));
  return Select(s, fields, sql::RecordsOfKeyAndSource(), params);
}

Packet LatestTranslationOfSource(Session& s, std::string_view language, std::string_view source) {
  const auto& fields = protocol::TranslationFields();
  if (text::Length(source) > std::size_t(fields[0].size)) return Packet{fields, {}};
  std::vector<FieldValue> params{std::string(language), std::string(source)};
  if (s.Kind() == Backend::Postgres) params.emplace_back(std::string(source));
  return Select(s, fields, sql::LatestTranslationOfSource(s.Kind()), params);
}

Packet TranslationOfSource(Session& s, std::string_view language, std::string_view source) {
  Packet p = LatestTranslationOfSource(s, language, source);
  if (!p.rows.empty()) return p;
  if (std::optional<std::string> remembered = Recall(s, language, source))
    p.rows.push_back({std::string(source), std::move(*remembered)});
  return p;
}

std::vector<std::optional<std::string>> TranslationsOfSources(Session& s, std::string_view language,
                                                              const std::vector<std::string>& sources) {
  constexpr std::size_t kChunk = 100;
  const bool postgres = s.Kind() == Backend::Postgres;
  const std::size_t width = std::size_t(protocol::TranslationFields()[0].size);
  std::vector<std::optional<std::string>> out(sources.size());
  std::unordered_map<std::string_view, std::vector<std::size_t>> wanted;  // text -> its places
  for (std::size_t i = 0; i < sources.size(); ++i)
    if (text::Length(sources[i]) <= width) wanted[sources[i]].push_back(i);
  std::vector<std::string_view> texts;
  for (const auto& [text, places] : wanted) texts.push_back(text);
  // Each text's latest translated record, as LatestTranslationOfSource reads
  // it (the same index, the same order), one probe per text. The answer is
  // "T" and the translation, so that a record whose translation is null is
  // told from no record.
  const std::string& source = Column(kStAgrValProp);
  const std::string latest =
      "(SELECT 'T' || COALESCE(" + Column(kStValorProp) + ", '') FROM " + TranslationTable().name + " WHERE " +
      Column(kIdIdioma) + " = ? AND " + Column(kIdSitTraducao) + " = '" + std::string(protocol::kStateTranslated) +
      "' AND " + (postgres ? "md5(" + source + ") = md5(x.column1) AND " : "") + source + " = x.column1 ORDER BY " +
      Column(kDtUltAtuTrad) + " DESC NULLS LAST LIMIT 1)";
  const FieldType types[] = {FieldType::String, FieldType::String};
  std::vector<std::string> unanswered;
  for (std::size_t at = 0; at < texts.size(); at += kChunk) {
    std::vector<FieldValue> params{std::string(language)};
    std::string rows;
    for (std::size_t i = at; i < std::min(at + kChunk, texts.size()); ++i) {
      rows += rows.empty() ? "" : ", ";
      rows += postgres ? "(CAST(? AS TEXT))" : "(?)";
      params.emplace_back(std::string(texts[i]));
    }
    for (Row& r : s.Query("SELECT x.column1, " + latest + " FROM (VALUES " + rows + ") AS x", params, types)) {
      const auto* text = std::get_if<std::string>(&r[0]);
      const auto* answer = std::get_if<std::string>(&r[1]);
      const auto it = text ? wanted.find(*text) : wanted.end();
      if (it == wanted.end()) continue;
      if (!answer) {
        unanswered.push_back(*text);
        continue;
      }
      for (std::size_t place : it->second) out[place] = answer->substr(1);
    }
  }
  // The rest from the memory.
  const auto recalled = RecallAll(s, language, unanswered);
  for (std::size_t i = 0; i < unanswered.size(); ++i)
    if (recalled[i])
      for (std::size_t place : wanted.find(unanswered[i])->second) out[place] = recalled[i];
  return out;
}

void StoreTranslation(Session& s, const RecordKey& key, const std::string& translation,
                      const std::string& state, DateTime when) {
  std::vector<FieldValue> params{translation, state, when};
  auto key_params = KeyParams(key);
  params.insert(params.end(), key_params.begin(), key_params.end());
  const TableDef& t = TranslationTable();
  static const std::string update = "UPDATE " + t.name + " SET " + Column(kStValorProp) + " = ?, " +
                                    Column(kIdSitTraducao) + " = ?, " + Column(kDtUltAtuTrad) + " = ?" + KeyWhere(t);
  if (s.Execute(update, params) == 0)
    throw protocol::RecordMissingError(std::string(protocol::kNoRecordOfKey) + DescribeKey(key) + " in " + t.name);
}

void SetRecordTranslation(Session& s, const RecordKey& key, const std::string& translation,
                          const std::string& state, DateTime when, const std::string& user) {
  Transaction tx(s);
  const auto key_params = KeyParams(key);
  std::optional<Row> before = StoredRow(s, key_params);
  if (!before)
    throw protocol::RecordMissingError(std::string(protocol::kNoRecordOfKey) + DescribeKey(key) + " in " +
                                       TranslationTable().name);
  Row after = *before;
  after[kStValorProp] = translation;
  after[kIdSitTraducao] = state;
  after[kDtUltAtuTrad] = when;
  Origin origin = Origin::Call;
  if (!IsTranslated(before) && IsTranslated(after)) {
    const auto* source = std::get_if<std::string>(&(*before)[kStAgrValProp]);
    const Packet offered = source ? TranslationOfSource(s, key.language, *source) : Packet{};
    if (!offered.rows.empty() && offered.rows.front()[1] == FieldValue{translation}) origin = Origin::Reuse;
  }
  StoreTranslation(s, key, translation, state, when);
  Journal(s, Attribution{user, origin, DateTime::Now()}).Changed(before, after);
  tx.Commit();
}

namespace {

// The new rows of the change set's inserts and modifications hold keys
// KeyCheck.h accepts (the translation table's key order is RecordKey's).
void CheckNewKeys(Session& s, const FieldMap& m, const ChangeSet& cs) {
  std::optional<ListedLanguages> languages;
  const std::size_t n = cs.changes.size();
  for (std::size_t i = 0; i < n; ++i) {
    const Change& ch = cs.changes[i];
    if (ch.kind == ChangeKind::Delete) continue;
    auto part = [&](std::size_t k) -> const FieldValue& { return ch.after[std::size_t(m.key_at[k])]; };
    RecordKey key{std::get<std::string>(part(0)), std::get<std::string>(part(1)), std::get<std::string>(part(2)),
                  std::get<std::string>(part(3)), std::get<double>(part(4)), std::get<std::string>(part(5))};
    const std::string what = ChangeName(i, n, ch.kind) + ", new row";
    CheckKeyParts(key, what);
    if (!languages) languages.emplace(s);
    languages->Check(key.language, what);
  }
}

enum class KeyRule { None, Records };  // whether CheckNewKeys applies

void ApplyChecked(Session& s, const TableDef& table, const ChangeSet& cs, Journal* journal, KeyRule rule) {
  FieldMap m = MapFields(table, cs);
  const std::size_t n = cs.changes.size();
  for (std::size_t i = 0; i < n; ++i) {
    const Change& ch = cs.changes[i];
    auto what = [&] { return ChangeName(i, n, ch.kind); };
    // The wire decoder gives every row one value per field; a change set built
    // in process is held to the same shape.
    if (ch.kind != ChangeKind::Insert) {
      if (ch.before.size() != cs.fields.size()) throw ProtocolError(what() + ": the old row does not match the fields");
      CheckRow(table, m, ch.before, [&] { return what() + ", old row"; });
    }
    if (ch.kind != ChangeKind::Delete) {
      if (ch.after.size() != cs.fields.size()) throw ProtocolError(what() + ": the new row does not match the fields");
      CheckRow(table, m, ch.after, [&] { return what() + ", new row"; });
    }
  }
  if (n == 0) return;
  if (rule == KeyRule::Records) CheckNewKeys(s, m, cs);
  Transaction tx(s);
  if (table.key.empty())
    ApplySingleRow(s, table, m, cs);
  else
    ApplyKeyed(s, table, m, cs, journal);
  tx.Commit();
}

}  // namespace

void ApplyChangeSet(Session& s, const TableDef& table, const ChangeSet& cs) { ApplyChecked(s, table, cs, nullptr, KeyRule::None); }

void ApplyRecordChanges(Session& s, const ChangeSet& cs, const Attribution& by) {
  Journal journal(s, by);
  ApplyChecked(s, TranslationTable(), cs, &journal, KeyRule::Records);
}

}  // namespace trd::server
