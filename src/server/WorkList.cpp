#include "WorkList.h"

#include <algorithm>

#include <sodium.h>

#include "ExchangeRecords.h"
#include "History.h"
#include "Records.h"
#include "Suggestions.h"
#include "protocol/Failures.h"
#include "protocol/Translatable.h"

namespace trd::server {
namespace {

using namespace protocol;

std::string TextOf(const FieldValue& v) {
  const auto* s = std::get_if<std::string>(&v);
  return s ? *s : std::string();
}

WorkRecord WorkRecordOf(const Row& row) {
  WorkRecord r;
  r.key = KeyOfRecord(row);
  r.source = TextOf(row[kStAgrValProp]);
  r.translation = TextOf(row[kStValorProp]);
  r.translated = TextOf(row[kIdSitTraducao]) == kStateTranslated;
  if (row.size() > std::size_t(kRevBy)) {
    r.review = TextOf(row[kRevState]);
    r.reviewer = TextOf(row[kRevBy]);
  }
  return r;
}

void Require(const Caller& caller, Permission permission) {
  if (!Permits(caller.role, permission))
    throw ServerFailureError(FailureCode::Refused, "o papel " + std::string(RoleName(caller.role)) +
                                                       " não permite " + std::string(PermissionName(permission)));
}

RecordsQuery UntranslatedQuery(const WorkScope& scope, std::size_t page) {
  RecordsQuery q;
  q.language = scope.language;
  q.state = StateFilter::Untranslated;
  q.programs = {scope.program};
  q.form = scope.form;
  q.page = page;
  return q;
}

// The records of `language` holding `source`, in key order (a text held by
// more records than a page shows the first page's).
std::vector<WorkRecord> Holders(Session& s, const std::string& language, const std::string& source,
                                std::size_t limit) {
  TextRecordsQuery q;
  q.language = language;
  q.texts = {source};
  q.page = limit;
  std::vector<WorkRecord> out;
  for (const Row& row : RecordsOfTexts(s, q).rows) out.push_back(WorkRecordOf(row));
  return out;
}

constexpr std::size_t kHoldersShown = 200;

}  // namespace

std::optional<WorkRecord> RecordOfKey(Session& s, const RecordKey& key) {
  const Packet p = ReviewedRecordOfKey(s, key);
  if (p.rows.empty()) return std::nullopt;
  return WorkRecordOf(p.rows.front());
}

std::string TextDigest(std::string_view text) {
  unsigned char digest[16];
  crypto_generichash(digest, sizeof digest, reinterpret_cast<const unsigned char*>(text.data()), text.size(), nullptr,
                     0);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char b : digest) {
    out += kHex[b >> 4];
    out += kHex[b & 0xF];
  }
  return out;
}

std::string WithBreaksOf(std::string_view source, std::string_view typed) {
  const bool crlf = source.find("\r\n") != std::string_view::npos;
  std::string out;
  out.reserve(typed.size());
  for (std::size_t i = 0; i < typed.size(); ++i) {
    const bool pair = typed[i] == '\r' && i + 1 < typed.size() && typed[i + 1] == '\n';
    if (pair || typed[i] == '\n' || typed[i] == '\r') {
      out += crlf ? "\r\n" : "\n";
      if (pair) ++i;
    } else {
      out += typed[i];
    }
  }
  return out;
}

WorkListPage UntranslatedTexts(Session& s, const WorkScope& scope, const std::string& after, std::size_t records) {
  RecordsQuery q = UntranslatedQuery(scope, records);
  q.after = ParseCursor(CursorKind::Key, after);
  const Packet page = RecordsPage(s, q);
  WorkListPage out;
  for (const Row& row : page.rows) {
    const std::string source = TextOf(row[kStAgrValProp]);
    if (!Translatable(source)) continue;
    auto it = std::find_if(out.texts.begin(), out.texts.end(), [&](const ListedText& t) { return t.source == source; });
    if (it == out.texts.end()) it = out.texts.insert(out.texts.end(), ListedText{source, {}});
    it->keys.push_back(KeyOfRecord(row));
  }
  if (!page.rows.empty() && !IsLastPage(page, records)) out.next = CursorAfter(CursorKind::Key, page.rows.back());
  return out;
}

std::optional<RecordKey> NextUntranslated(Session& s, const WorkScope& scope, const RecordKey& key) {
  // A few records a read: untranslatable ones (no source text) are skipped.
  constexpr std::size_t kBatch = 20;
  for (int pass = 0; pass < 2; ++pass) {
    RecordsQuery q = UntranslatedQuery(scope, kBatch);
    if (pass == 0) q.after = PageCursor{key, std::nullopt, {}};
    for (;;) {
      const Packet page = RecordsPage(s, q);
      for (const Row& row : page.rows) {
        RecordKey k = KeyOfRecord(row);
        if (pass == 1 && k >= key) return std::nullopt;  // wrapped round to where it started
        if (Translatable(TextOf(row[kStAgrValProp]))) return k;
      }
      if (page.rows.empty() || IsLastPage(page, kBatch)) break;
      q.after = PageCursor{KeyOfRecord(page.rows.back()), std::nullopt, {}};
    }
  }
  return std::nullopt;
}

std::optional<TextView> ReadTextView(Session& s, const RecordKey& key) {
  std::optional<WorkRecord> record = RecordOfKey(s, key);
  if (!record) return std::nullopt;
  TextView v;
  v.record = std::move(*record);
  const std::string& source = v.record.source;
  if (!source.empty()) {
    v.holders = Holders(s, key.language, source, kHoldersShown);
    // Exact: the distinct translations the other translated records hold.
    for (const WorkRecord& h : v.holders) {
      if (!h.translated || h.key == key) continue;
      const bool known = std::any_of(v.suggestions.begin(), v.suggestions.end(),
                                     [&](const Suggestion& x) { return x.translation == h.translation; });
      if (!known) v.suggestions.push_back({source, h.translation, 100, Suggestion::From::Records});
    }
    const Packet memory = Suggestions(s, key.language, {source});
    for (const Row& row : memory.rows) {
      if (!std::holds_alternative<std::string>(row[kSugTranslation])) continue;
      Suggestion m{TextOf(row[kSugSource]), TextOf(row[kSugTranslation]), 100, Suggestion::From::Memory};
      if (const auto* d = std::get_if<double>(&row[kSugSimilarity])) m.similarity = int(*d);
      const bool known = std::any_of(v.suggestions.begin(), v.suggestions.end(),
                                     [&](const Suggestion& x) { return x.translation == m.translation; });
      if (!known) v.suggestions.push_back(std::move(m));
    }
    for (const Row& l : Languages(s).rows) {
      const std::string code = TextOf(l[0]);
      if (code == key.language) continue;
      for (WorkRecord& r : Holders(s, code, source, 1)) v.other_languages.push_back(std::move(r));
    }
  }
  const Packet history = HistoryOfKey(s, key);
  const auto at = [&](const char* name) { return history.FieldIndex(name); };
  const int user = at("NMUSUARIO"), when = at("DTALTERACAO"), origin = at("IDORIGEM"),
            old_text = at("STVALORPROPANT"), new_text = at("STVALORPROP"), old_source = at("STAGRVALPROPANT"),
            new_source = at("STAGRVALPROP"), old_review = at("IDSITREVISAOANT"), new_review = at("IDSITREVISAO");
  const auto text = [](const Row& row, int i) { return i < 0 ? std::string() : TextOf(row[std::size_t(i)]); };
  for (const Row& row : history.rows) {
    HistoryEntry e;
    e.user = text(row, user);
    if (when >= 0)
      if (const auto* d = std::get_if<DateTime>(&row[std::size_t(when)])) e.when = *d;
    e.origin = text(row, origin);
    e.old_translation = text(row, old_text);
    e.new_translation = text(row, new_text);
    e.old_source = text(row, old_source);
    e.new_source = text(row, new_source);
    e.old_review = text(row, old_review);
    e.new_review = text(row, new_review);
    v.history.push_back(std::move(e));
  }
  return v;
}

std::vector<exchange::Issue> CheckTyped(const std::string& source, const std::string& translation) {
  return exchange::CheckTranslation(source, translation);
}

bool HasError(const std::vector<exchange::Issue>& problems) {
  return std::any_of(problems.begin(), problems.end(),
                     [](const exchange::Issue& i) { return exchange::SeverityOf(i.kind) == exchange::Severity::Error; });
}

SaveOutcome SaveTranslation(Session& s, const RecordKey& key, const std::string& shown_source,
                            const std::string& translation, const Caller& caller) {
  Require(caller, Permission::Translate);
  SaveOutcome out;
  const std::optional<WorkRecord> now = RecordOfKey(s, key);
  if (!now) {
    out.result = SaveResult::Missing;
    return out;
  }
  if (now->source != shown_source) {
    out.result = SaveResult::SourceChanged;
    out.current = now->source;
    return out;
  }
  Packet changes{TranslationChangeFields(), {}};
  changes.rows.push_back(
      Row{FieldValue{}, FieldValue{}, FieldValue{}, FieldValue{}, FieldValue{}, shown_source, translation});
  const Packet result =
      SetTranslations(s, key.language, changes, SetMode::Apply, Attribution{caller.user, Origin::Page, DateTime::Now()});
  const Row& row = result.rows.at(0);
  const auto outcome = ParseSetOutcome(TextOf(row[kOutOutcome]));
  if (const auto* n = std::get_if<double>(&row[kOutTranslated])) out.records = std::size_t(*n);
  if (outcome == SetOutcome::Translated) return out;
  if (outcome == SetOutcome::Already) {
    out.result = SaveResult::Already;
    return out;
  }
  // Every record left the text between the look and the set.
  const std::optional<WorkRecord> after = RecordOfKey(s, key);
  out.result = after ? SaveResult::SourceChanged : SaveResult::Missing;
  if (after) out.current = after->source;
  return out;
}

ReviewOutcome ReviewTranslation(Session& s, const RecordKey& key, ReviewAction action, const std::string& shown_source,
                                const std::string& shown_translation, const Caller& caller) {
  Require(caller, Permission::Review);
  Packet entries{ReviewListFields(), {}};
  entries.rows.push_back(Row{key.program, key.form, key.component, key.property, key.number, shown_source,
                             shown_translation});
  const Packet result =
      ReviewRecords(s, key.language, action, entries, Attribution{caller.user, Origin::Review, DateTime::Now()});
  return ParseReviewOutcome(TextOf(result.rows.at(0)[kRvoOutcome])).value_or(ReviewOutcome::Changed);
}

}  // namespace trd::server
