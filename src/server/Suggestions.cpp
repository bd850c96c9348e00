#include "Suggestions.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <unordered_map>

#include "Memory.h"
#include "platform/Text.h"

namespace trd::server {
namespace {

// Candidates a backend's index gives for one text, at most this many.
constexpr std::size_t kCandidates = 20;
// The trigrams of a text the SQLite query looks for: its rarest ones.
constexpr std::size_t kRareTrigrams = 6;

// Lower case for the letters of the Latin scripts the forms use (ASCII,
// Latin-1, Latin Extended-A), as a case-insensitive comparison needs them.
char32_t Fold(char32_t c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 0x20;
  if (c >= 0x100 && c <= 0x137 && c % 2 == 0 && c != 0x130) return c + 1;
  if (c >= 0x139 && c <= 0x148 && c % 2 == 1) return c + 1;
  if (c >= 0x14A && c <= 0x177 && c % 2 == 0) return c + 1;
  if (c == 0x178) return 0xFF;
  if (c >= 0x179 && c <= 0x17E && c % 2 == 1) return c + 1;
  return c;
}

std::u32string Folded(std::string_view text) {
  std::u32string out;
  for (std::size_t i = 0; i < text.size();) out += Fold(text::DecodeUtf8(text, i));
  return out;
}

// The distinct trigrams of a text, each packed into 63 bits, sorted.
std::vector<std::uint64_t> Trigrams(const std::u32string& t) {
  std::vector<std::uint64_t> out;
  for (std::size_t i = 0; i + 3 <= t.size(); ++i)
    out.push_back((std::uint64_t(t[i]) << 42) | (std::uint64_t(t[i + 1]) << 21) | std::uint64_t(t[i + 2]));
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

int Jaccard(const std::vector<std::uint64_t>& a, const std::vector<std::uint64_t>& b) {
  if (a.empty() || b.empty()) return 0;
  std::size_t common = 0;
  for (std::size_t i = 0, j = 0; i < a.size() && j < b.size();) {
    if (a[i] == b[j]) ++common, ++i, ++j;
    else if (a[i] < b[j]) ++i;
    else ++j;
  }
  return int(common * 100 / (a.size() + b.size() - common));
}

std::string Utf8(std::u32string_view s) {
  std::string out;
  for (char32_t c : s) text::AppendUtf8(out, c);
  return out;
}

struct Candidate {
  std::string source, translation;
};

const FieldType kTwoTexts[] = {FieldType::String, FieldType::String};

std::vector<Candidate> Read(const std::vector<Row>& rows) {
  std::vector<Candidate> out;
  for (const Row& r : rows) {
    const auto* s = std::get_if<std::string>(&r[0]);
    const auto* t = std::get_if<std::string>(&r[1]);
    if (s && t && !t->empty()) out.push_back({*s, *t});
  }
  return out;
}

// ---- SQLite: FTS5 trigram ------------------------------------------------

const char* const kSqliteIndex[] = {
    "CREATE VIRTUAL TABLE IF NOT EXISTS TRDMEMORIA_TRIGRAMAS USING fts5(STAGRVALPROP, content='TRDMEMORIA',"
    " content_rowid='NRMEMORIA', tokenize='trigram', detail='none')",
    "CREATE TRIGGER IF NOT EXISTS TG_TRDMEMORIA_TRIGRAMAS_I AFTER INSERT ON TRDMEMORIA BEGIN"
    " INSERT INTO TRDMEMORIA_TRIGRAMAS (rowid, STAGRVALPROP) VALUES (new.NRMEMORIA, new.STAGRVALPROP); END",
    "CREATE TRIGGER IF NOT EXISTS TG_TRDMEMORIA_TRIGRAMAS_D AFTER DELETE ON TRDMEMORIA BEGIN"
    " INSERT INTO TRDMEMORIA_TRIGRAMAS (TRDMEMORIA_TRIGRAMAS, rowid, STAGRVALPROP)"
    " VALUES ('delete', old.NRMEMORIA, old.STAGRVALPROP); END",
    "CREATE TRIGGER IF NOT EXISTS TG_TRDMEMORIA_TRIGRAMAS_U AFTER UPDATE OF STAGRVALPROP ON TRDMEMORIA BEGIN"
    " INSERT INTO TRDMEMORIA_TRIGRAMAS (TRDMEMORIA_TRIGRAMAS, rowid, STAGRVALPROP)"
    " VALUES ('delete', old.NRMEMORIA, old.STAGRVALPROP);"
    " INSERT INTO TRDMEMORIA_TRIGRAMAS (rowid, STAGRVALPROP) VALUES (new.NRMEMORIA, new.STAGRVALPROP); END",
};

// How many memory entries hold each trigram (the index's vocabulary),
// looked up once per trigram in a call.
class Vocabulary {
 public:
  explicit Vocabulary(Session& s) : s_(s) {
    s_.Execute("CREATE VIRTUAL TABLE IF NOT EXISTS temp.TRDMEMORIA_VOCABULARIO"
               " USING fts5vocab(main, 'TRDMEMORIA_TRIGRAMAS', 'row')");
  }
  double Entries(const std::string& trigram) {
    auto [it, fresh] = counts_.emplace(trigram, 0.0);
    if (fresh) {
      const FieldValue p[] = {trigram};
      const FieldType t[] = {FieldType::Float};
      auto rows = s_.Query("SELECT doc FROM temp.TRDMEMORIA_VOCABULARIO WHERE term = ?", p, t);
      if (!rows.empty())
        if (const auto* d = std::get_if<double>(&rows[0][0])) it->second = *d;
    }
    return it->second;
  }

 private:
  Session& s_;
  std::unordered_map<std::string, double> counts_;
};

std::vector<Candidate> SqliteCandidates(Session& s, Vocabulary& vocabulary, const std::string& language,
                                        const std::u32string& folded) {
  // The text's rarest trigrams that the memory holds at all.
  std::vector<std::pair<double, std::string>> rare;
  for (std::size_t i = 0; i + 3 <= folded.size(); ++i) {
    std::string t = Utf8(folded.substr(i, 3));
    if (std::any_of(rare.begin(), rare.end(), [&](const auto& r) { return r.second == t; })) continue;
    if (double n = vocabulary.Entries(t); n > 0) rare.emplace_back(n, std::move(t));
  }
  if (rare.empty()) return {};
  std::sort(rare.begin(), rare.end());
  if (rare.size() > kRareTrigrams) rare.resize(kRareTrigrams);
  // An FTS5 query: each trigram a phrase ("" is a quote in one), any of them.
  std::string match;
  for (const auto& [n, t] : rare) {
    match += match.empty() ? "\"" : " OR \"";
    for (char c : t) match += c == '"' ? std::string("\"\"") : std::string(1, c);
    match += '"';
  }
  const FieldValue p[] = {match, language};
  return Read(s.Query("SELECT m.STAGRVALPROP, m.STVALORPROP FROM TRDMEMORIA_TRIGRAMAS"
                      " JOIN TRDMEMORIA m ON m.NRMEMORIA = TRDMEMORIA_TRIGRAMAS.rowid"
                      " WHERE TRDMEMORIA_TRIGRAMAS MATCH ? AND m.IDIDIOMA = ?"
                      " ORDER BY TRDMEMORIA_TRIGRAMAS.rank, m.DTULTATUTRAD DESC LIMIT " +
                          std::to_string(kCandidates),
                      p, kTwoTexts));
}

// ---- PostgreSQL: pg_trgm -------------------------------------------------

// The schema pg_trgm is installed in, quoted for SQL; nullopt without it.
std::optional<std::string> TrigramSchema(Session& s) {
  const FieldType t[] = {FieldType::String};
  auto rows = s.Query("SELECT n.nspname FROM pg_extension e JOIN pg_namespace n ON n.oid = e.extnamespace"
                      " WHERE e.extname = 'pg_trgm'",
                      {}, t);
  if (rows.empty()) return std::nullopt;
  std::string quoted = "\"";
  for (char c : std::get<std::string>(rows[0][0])) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

// How often each trigram occurs in a sample of the language's memory (some
// 20,000 entries): pg_trgm keeps no counts of its own.
class Sample {
 public:
  Sample(Session& s, const std::string& language) {
    const FieldValue p[] = {language};
    const FieldType count[] = {FieldType::Float};
    auto n = s.Query("SELECT COUNT(*) FROM TRDMEMORIA WHERE IDIDIOMA = ?", p, count);
    const double entries = n.empty() ? 0 : std::get<double>(n[0][0]);
    const double percent = entries <= 20000 ? 100 : 20000 * 100 / entries;
    const FieldType text[] = {FieldType::String};
    // The share is a number this code computed, not request text.
    for (const Row& r : s.Query("SELECT STAGRVALPROP FROM TRDMEMORIA TABLESAMPLE SYSTEM (" +
                                    std::to_string(percent) + ") WHERE IDIDIOMA = ?",
                                p, text))
      if (const auto* t = std::get_if<std::string>(&r[0]))
        for (std::uint64_t g : Trigrams(Folded(*t))) ++counts_[g];
  }
  int Count(std::uint64_t trigram) const {
    auto it = counts_.find(trigram);
    return it == counts_.end() ? 0 : it->second;
  }

 private:
  std::unordered_map<std::uint64_t, int> counts_;
};

bool AsciiAlnum(char32_t c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }

// pg_trgm's index finds "ILIKE '%abc%'" through the trigram abc when its
// characters are letters or digits in every locale: ASCII ones. The text's
// rarest such trigrams (in the sample) are looked for; the entries holding
// most of them come first.
std::vector<Candidate> PostgresCandidates(Session& s, const Sample& sample, const std::string& language,
                                          const std::u32string& folded) {
  std::vector<std::pair<int, std::string>> rare;
  for (std::size_t i = 0; i + 3 <= folded.size(); ++i) {
    if (!AsciiAlnum(folded[i]) || !AsciiAlnum(folded[i + 1]) || !AsciiAlnum(folded[i + 2])) continue;
    std::string pattern = "%" + Utf8(folded.substr(i, 3)) + "%";
    if (std::any_of(rare.begin(), rare.end(), [&](const auto& r) { return r.second == pattern; })) continue;
    rare.emplace_back(sample.Count(Trigrams(folded.substr(i, 3)).front()), std::move(pattern));
  }
  if (rare.empty()) return {};
  std::sort(rare.begin(), rare.end());
  if (rare.size() > kRareTrigrams) rare.resize(kRareTrigrams);
  std::string any, hits;
  std::vector<FieldValue> p{language};
  for (const auto& [n, pattern] : rare) {
    any += any.empty() ? "STAGRVALPROP ILIKE ?" : " OR STAGRVALPROP ILIKE ?";
    p.emplace_back(pattern);
  }
  for (const auto& [n, pattern] : rare) {
    hits += hits.empty() ? "" : " + ";
    hits += "(CASE WHEN STAGRVALPROP ILIKE ? THEN 1 ELSE 0 END)";
    p.emplace_back(pattern);
  }
  return Read(s.Query("SELECT STAGRVALPROP, STVALORPROP FROM TRDMEMORIA WHERE IDIDIOMA = ? AND (" + any +
                          ") ORDER BY " + hits + " DESC, DTULTATUTRAD DESC LIMIT " + std::to_string(kCandidates),
                      p, kTwoTexts));
}

}  // namespace

int Similarity(std::string_view a, std::string_view b) {
  if (a == b) return 100;
  return Jaccard(Trigrams(Folded(a)), Trigrams(Folded(b)));
}

void EnsureSuggestionIndex(Session& s) {
  if (s.Kind() == Backend::Sqlite) {
    const FieldValue name[] = {std::string("TRDMEMORIA_TRIGRAMAS")};
    const FieldType t[] = {FieldType::Float};
    const bool fresh = s.Query("SELECT 1 FROM sqlite_master WHERE name = ?", name, t).empty();
    for (const char* sql : kSqliteIndex) s.Execute(sql);
    if (fresh) s.Execute("INSERT INTO TRDMEMORIA_TRIGRAMAS (TRDMEMORIA_TRIGRAMAS) VALUES ('rebuild')");
    return;
  }
  auto schema = TrigramSchema(s);
  if (!schema) {
    // Creating the extension may be refused (no such package, no right):
    // then the server goes on without similar suggestions.
    s.Execute("SAVEPOINT trd_trigrams");
    try {
      s.Execute("CREATE EXTENSION IF NOT EXISTS pg_trgm");
      s.Execute("RELEASE SAVEPOINT trd_trigrams");
    } catch (const StorageError&) {
      s.Execute("ROLLBACK TO SAVEPOINT trd_trigrams");
      return;
    }
    schema = TrigramSchema(s);
    if (!schema) return;
  }
  s.Execute("CREATE INDEX IF NOT EXISTS IX_TRDMEMORIA_TRIGRAMAS ON TRDMEMORIA USING gin (STAGRVALPROP " + *schema +
            ".gin_trgm_ops)");
}

Packet Suggestions(Session& s, const std::string& language, const std::vector<std::string>& texts) {
  Packet out{protocol::SuggestionFields(), {}};
  out.rows.reserve(texts.size());
  std::optional<Vocabulary> vocabulary;
  std::optional<Sample> sample;
  if (s.Kind() == Backend::Sqlite)
    vocabulary.emplace(s);
  else if (TrigramSchema(s))
    sample.emplace(s, language);
  for (const std::string& text : texts) {
    Row row{std::monostate{}, std::monostate{}, 0.0};
    if (auto same = text.empty() ? std::nullopt : Recall(s, language, text); same && !same->empty()) {
      row = {text, *same, 100.0};
    } else if (!text.empty()) {
      const std::u32string folded = Folded(text);
      const auto mine = Trigrams(folded);
      std::vector<Candidate> candidates;
      if (mine.empty())
        ;  // too short to be like another text
      else if (vocabulary)
        candidates = SqliteCandidates(s, *vocabulary, language, folded);
      else if (sample)
        candidates = PostgresCandidates(s, *sample, language, folded);
      int best = kMinSimilarity - 1;
      for (const Candidate& c : candidates) {
        const int similarity = c.source == text ? 100 : Jaccard(mine, Trigrams(Folded(c.source)));
        if (similarity > best) {
          best = similarity;
          row = {c.source, c.translation, double(similarity)};
        }
      }
    }
    out.rows.push_back(std::move(row));
  }
  return out;
}

}  // namespace trd::server
