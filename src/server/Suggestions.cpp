#include "Suggestions.h"

#include <algorithm>
#include <array>
#include <functional>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>

#include "Memory.h"
#include "platform/Text.h"

namespace trd::server {
namespace {

// Candidates a backend's index gives for one text, at most this many.
constexpr std::size_t kCandidates = 80;
// The trigrams of a text the SQLite query looks for: its rarest ones.
constexpr std::size_t kRareTrigrams = 12;

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

void FoldInto(std::string_view text, std::u32string& out) {
  out.clear();
  for (std::size_t i = 0; i < text.size();) out += Fold(text::DecodeUtf8(text, i));
}

std::u32string Folded(std::string_view text) {
  std::u32string out;
  FoldInto(text, out);
  return out;
}

// A trigram packed into 63 bits, 21 a character: packed trigrams compare as
// their UTF-8 texts do.
using Trigram = std::uint64_t;

// The distinct trigrams of a folded text, sorted, into `out` (a buffer
// reused across the entries of a sweep).
void TrigramsInto(std::u32string_view t, std::vector<Trigram>& out) {
  out.clear();
  for (std::size_t i = 0; i + 3 <= t.size(); ++i)
    out.push_back((Trigram(t[i]) << 42) | (Trigram(t[i + 1]) << 21) | Trigram(t[i + 2]));
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
}

std::vector<Trigram> Trigrams(std::u32string_view t) {
  std::vector<Trigram> out;
  TrigramsInto(t, out);
  return out;
}

int Jaccard(const std::vector<Trigram>& a, const std::vector<Trigram>& b) {
  if (a.empty() || b.empty()) return 0;
  // A merge of the sorted sets without branches on the trigrams (which
  // side is behind is as good as random): a call scores hundreds of
  // thousands of pairs.
  std::size_t common = 0;
  for (std::size_t i = 0, j = 0; i < a.size() && j < b.size();) {
    const Trigram x = a[i], y = b[j];
    common += x == y;
    i += x <= y;
    j += y <= x;
  }
  return int(common * 100 / (a.size() + b.size() - common));
}

std::string Utf8(Trigram g) {
  constexpr Trigram kChar = (Trigram(1) << 21) - 1;
  std::string out;
  for (int shift : {42, 21, 0}) text::AppendUtf8(out, char32_t((g >> shift) & kChar));
  return out;
}

// Entries of a trigram this common are not read unless it is the text's
// rarest: it tells little, and reading its list costs more than the rest.
constexpr double kCommonTrigram = 5000;

class EntryTexts;

// What a backend's trigram index tells of one trigram (folded), each asked
// once per call (a file's texts share most of their trigrams).
class TrigramIndex {
 public:
  // A list may be shared with other calls (PostgreSQL keeps them): never copied.
  using List = std::shared_ptr<const std::vector<std::int64_t>>;
  virtual ~TrigramIndex() = default;
  // How many memory entries hold it (an estimate may do); 0: none, or the
  // index cannot look it up. Above kCommonTrigram it may be any count above
  // it: Exact tells them apart.
  double Entries(Trigram g) {
    auto [it, fresh] = counts_.try_emplace(g, 0.0);
    if (fresh) it->second = CountEntries(g);
    return it->second;
  }
  // Entries, told apart above kCommonTrigram too.
  double Exact(Trigram g) {
    const double n = Entries(g);
    return n > kCommonTrigram ? ExactEntries(g) : n;
  }
  // The texts of entries kept from calls before, when the backend keeps them.
  virtual EntryTexts* Texts() { return nullptr; }
  // The entries holding it (NRMEMORIA): of the call's language, or of any.
  const std::vector<std::int64_t>& Holders(Trigram g) {
    auto [it, fresh] = holders_.try_emplace(g);
    if (fresh) it->second = ReadHolders(g);
    return *it->second;
  }

 protected:
  // For a backend that read the list while counting it.
  void KeepHolders(Trigram g, std::vector<std::int64_t> holders) {
    holders_[g] = std::make_shared<const std::vector<std::int64_t>>(std::move(holders));
  }

 private:
  virtual double CountEntries(Trigram g) = 0;
  virtual double ExactEntries(Trigram g) { return CountEntries(g); }
  virtual List ReadHolders(Trigram g) = 0;

  std::unordered_map<Trigram, double> counts_;
  std::unordered_map<Trigram, List> holders_;
};

// The keys of a list the database joined with commas (one row, not a row
// per key: lists run to thousands of keys, and a row each cost more than the
// rest of the look-up).
std::vector<std::int64_t> Ids(const std::vector<Row>& rows) {
  std::vector<std::int64_t> out;
  const auto* list = rows.empty() ? nullptr : std::get_if<std::string>(&rows[0][0]);
  if (!list) return out;
  std::int64_t n = 0;
  bool digits = false;
  for (char c : *list) {
    if (c >= '0' && c <= '9') {
      n = n * 10 + (c - '0');
      digits = true;
    } else if (digits) {
      out.push_back(n);
      n = 0, digits = false;
    }
  }
  if (digits) out.push_back(n);
  return out;
}

const FieldType kOneText[] = {FieldType::String};
const FieldType kOneNumber[] = {FieldType::Float};

// Hits per memory entry for one text, counted in an array indexed by
// NRMEMORIA and reset through the entries it touched: a text's rare trigrams
// are held by thousands of entries, and a hash map's node per entry made the
// counting cost more than everything else.
class HitCounter {
 public:
  // One hit for each entry of a trigram's list. Most of a call's time goes
  // here: an entry's first hit is recorded without a branch (whether an
  // entry was touched before is as good as random).
  void AddAll(const std::vector<std::int64_t>& ids) {
    std::int64_t most = -1;
    for (std::int64_t id : ids) most = std::max(most, id);
    if (most < 0) return;
    if (std::size_t(most) >= hits_.size()) hits_.resize(std::max(std::size_t(most) + 1, hits_.size() * 2));
    std::size_t n = touched_.size();
    touched_.resize(n + ids.size());
    for (std::int64_t id : ids) {
      if (id < 0) continue;
      touched_[n] = id;
      n += hits_[std::size_t(id)]++ == 0;
    }
    touched_.resize(n);
  }
  // The entries with the most hits, the newest among equals, at most n, in
  // no particular order; the counter is empty again after. Hit counts are
  // few, so the entries are split by count, not sorted.
  std::vector<std::int64_t> Best(std::size_t n) {
    std::array<std::size_t, 256> with{};  // entries by hit count
    for (std::int64_t id : touched_) ++with[hits_[std::size_t(id)]];
    // Every entry with more than `cut` hits is taken, and the newest of
    // those with exactly `cut` fill the rest.
    std::size_t above = 0;
    int cut = 255;
    for (; cut > 1 && above + with[std::size_t(cut)] < n; --cut) above += with[std::size_t(cut)];
    std::vector<std::int64_t> best, tied;
    for (std::int64_t id : touched_) {
      const int h = hits_[std::size_t(id)];
      hits_[std::size_t(id)] = 0;
      if (h > cut) best.push_back(id);
      else if (h == cut) tied.push_back(id);
    }
    touched_.clear();
    const std::size_t room = n > best.size() ? n - best.size() : 0;
    if (tied.size() > room)
      std::nth_element(tied.begin(), tied.begin() + std::ptrdiff_t(room), tied.end(), std::greater<>());
    best.insert(best.end(), tied.begin(), tied.begin() + std::ptrdiff_t(std::min(room, tied.size())));
    return best;
  }

 private:
  std::vector<std::uint8_t> hits_;  // at most kRareTrigrams a text: no overflow
  std::vector<std::int64_t> touched_;
};

// The candidates of every text of a call are read in one sweep of the memory
// in key order, a chunk of keys a query: each entry read once and cut into
// trigrams once however many texts it is a candidate of, and its pages read
// in order (read text by text, the candidates cost most of the call, most of
// it in page reads of entries scattered over the table). A chunk whose keys
// lie close together (a call of many texts has candidates all over the
// memory) is read as the range of keys it spans, every entry of the range,
// cheaper than looking each one up.
constexpr std::size_t kSweepChunk = 500;
constexpr std::int64_t kDenseRange = 4;  // keys spanned per candidate, at most

struct Pick {
  int similarity = kMinSimilarity - 1;
  std::int64_t id = -1;
};

// The source texts of a language's entries as sweeps read them, kept (with
// the trigram lists, Suggestions.cpp's PostgreSQL part) while the memory is
// unchanged: the calls of a file's texts have their candidates in much the
// same entries, and reading them again cost more than scoring them. Entries
// are told by number: a text, or "none" (of another language, without a
// translation, or no entry), or not read yet. Bounded: entry numbers up to
// kMostKeys, texts up to kMostBytes; what does not fit is read again.
class EntryTexts {
 public:
  // The texts of `keys` (sorted, distinct) that are the language's
  // translated entries, into `out`; false, and `out` untouched, when some
  // key was not read yet.
  bool Find(const std::vector<std::int64_t>& keys, std::vector<std::pair<std::int64_t, std::string>>& out) const {
    std::lock_guard lock(mutex_);
    for (std::int64_t k : keys)
      if (k < 0 || std::size_t(k) >= at_.size() || at_[std::size_t(k)] == kUnread) return false;
    for (std::int64_t k : keys)
      if (const std::uint32_t at = at_[std::size_t(k)]; at != kNone) {
        std::uint16_t n;
        std::memcpy(&n, bytes_.data() + at, sizeof n);
        out.emplace_back(k, bytes_.substr(at + sizeof n, n));
      }
    return true;
  }
  // What a read found: `found` (sorted by key) are the language's translated
  // entries among `keys`, or among every key from keys.front() to
  // keys.back() when `range`; the other keys read are none.
  void Keep(const std::vector<std::int64_t>& keys, bool range,
            const std::vector<std::pair<std::int64_t, std::string>>& found) {
    if (keys.empty() || keys.front() < 0 || keys.back() >= kMostKeys) return;
    std::lock_guard lock(mutex_);
    if (std::size_t(keys.back()) >= at_.size()) at_.resize(std::size_t(keys.back()) + 1, kUnread);
    for (const auto& [k, text] : found)
      if (k >= keys.front() && k <= keys.back() && at_[std::size_t(k)] == kUnread && text.size() <= UINT16_MAX &&
          bytes_.size() + sizeof(std::uint16_t) + text.size() <= kMostBytes) {
        at_[std::size_t(k)] = std::uint32_t(bytes_.size());
        const auto n = std::uint16_t(text.size());
        bytes_.append(reinterpret_cast<const char*>(&n), sizeof n).append(text);
      }
    auto none = [&](std::int64_t k) {
      auto it = std::lower_bound(found.begin(), found.end(), k, [](const auto& f, std::int64_t v) { return f.first < v; });
      if (at_[std::size_t(k)] == kUnread && (it == found.end() || it->first != k)) at_[std::size_t(k)] = kNone;
    };
    if (range)
      for (std::int64_t k = keys.front(); k <= keys.back(); ++k) none(k);
    else
      for (std::int64_t k : keys) none(k);
  }

 private:
  static constexpr std::int64_t kMostKeys = std::int64_t(1) << 20;  // 4 MB of places
  static constexpr std::size_t kMostBytes = std::size_t(12) << 20;
  static constexpr std::uint32_t kUnread = UINT32_MAX, kNone = UINT32_MAX - 1;
  mutable std::mutex mutex_;
  std::vector<std::uint32_t> at_;  // by entry number: kUnread, kNone, or where its text starts in bytes_
  std::string bytes_;              // texts, each after its length (2 bytes)
};

// For each (entry, text) pair, sorted by entry: the most similar eligible
// entry of each text (of the call's language, with a translation), the newest
// among equals. `kept`, when given, holds texts read before and keeps those
// read now.
void Sweep(Session& s, const std::string& language, std::vector<std::pair<std::int64_t, std::size_t>>& pairs,
           const std::vector<std::vector<Trigram>>& trigrams, std::vector<Pick>& picks, EntryTexts* kept) {
  std::sort(pairs.begin(), pairs.end());
  const FieldType t[] = {FieldType::Float, FieldType::String, FieldType::String, FieldType::Float};
  // The language is compared here: in the SQL, SQLite's planner would take
  // the language's index and read every entry of it.
  const std::string columns =
      "SELECT NRMEMORIA, STAGRVALPROP, IDIDIOMA, CASE WHEN STVALORPROP IS NULL OR STVALORPROP = '' THEN 0 ELSE 1 END"
      " FROM TRDMEMORIA WHERE NRMEMORIA ";
  std::u32string folded;
  std::vector<Trigram> entry;
  std::vector<std::int64_t> keys;
  std::vector<std::pair<std::int64_t, std::string>> found;  // the chunk's eligible entries, by key
  for (std::size_t at = 0; at < pairs.size();) {
    std::size_t end = at;
    keys.clear();
    for (; end < pairs.size() && (keys.size() < kSweepChunk || pairs[end].first == keys.back()); ++end)
      if (keys.empty() || pairs[end].first != keys.back()) keys.push_back(pairs[end].first);
    const std::int64_t first = keys.front(), last = keys.back();
    const bool range = last - first < kDenseRange * std::int64_t(keys.size());
    found.clear();
    if (!kept || !kept->Find(keys, found)) {
      std::vector<FieldValue> p;
      std::string sql = columns;
      if (range) {
        sql += "BETWEEN ? AND ?";
        p = {double(first), double(last)};
      } else {
        sql += "IN (";
        for (std::int64_t k : keys) {
          sql += p.empty() ? "?" : ", ?";
          p.emplace_back(double(k));
        }
        sql += ")";
      }
      for (Row& r : s.Query(sql, p, t)) {
        const auto* id = std::get_if<double>(&r[0]);
        auto* source = std::get_if<std::string>(&r[1]);
        const auto* l = std::get_if<std::string>(&r[2]);
        const auto* translated = std::get_if<double>(&r[3]);
        if (id && source && l && *l == language && translated && *translated != 0)
          found.emplace_back(std::int64_t(*id), std::move(*source));
      }
      std::sort(found.begin(), found.end());
      if (kept) kept->Keep(keys, range, found);
    }
    const auto chunk_begin = pairs.begin() + std::ptrdiff_t(at), chunk_end = pairs.begin() + std::ptrdiff_t(end);
    for (const auto& [key, source] : found) {
      auto it = std::lower_bound(chunk_begin, chunk_end, std::pair<std::int64_t, std::size_t>{key, 0});
      if (it == chunk_end || it->first != key) continue;  // in the range, no text's candidate
      FoldInto(source, folded);
      TrigramsInto(folded, entry);
      for (; it != chunk_end && it->first == key; ++it) {
        const int similarity = Jaccard(trigrams[it->second], entry);
        Pick& pick = picks[it->second];
        if (similarity > pick.similarity || (similarity == pick.similarity && pick.id >= 0 && key > pick.id))
          pick = {similarity, key};
      }
    }
    at = end;
  }
}

// The source and translation of the chosen entries.
std::unordered_map<std::int64_t, std::pair<std::string, std::string>> Entries(Session& s,
                                                                               std::vector<std::int64_t> ids) {
  std::sort(ids.begin(), ids.end());
  ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
  std::unordered_map<std::int64_t, std::pair<std::string, std::string>> out;
  const FieldType t[] = {FieldType::Float, FieldType::String, FieldType::String};
  for (std::size_t at = 0; at < ids.size(); at += kSweepChunk) {
    std::vector<FieldValue> p;
    std::string list;
    for (std::size_t i = at; i < std::min(at + kSweepChunk, ids.size()); ++i) {
      list += list.empty() ? "?" : ", ?";
      p.emplace_back(double(ids[i]));
    }
    for (Row& r : s.Query("SELECT NRMEMORIA, STAGRVALPROP, STVALORPROP FROM TRDMEMORIA WHERE NRMEMORIA IN (" + list + ")",
                          p, t)) {
      const auto* id = std::get_if<double>(&r[0]);
      auto* source = std::get_if<std::string>(&r[1]);
      auto* translation = std::get_if<std::string>(&r[2]);
      if (id && source && translation) out[std::int64_t(*id)] = {std::move(*source), std::move(*translation)};
    }
  }
  return out;
}

// The memory entries most likely alike: those holding the most of the text's
// rarest trigrams (`trigrams`, its distinct ones). The entries of each
// trigram are read from the index and counted here (ranking every match in
// the database, as an FTS5 or ILIKE query would, took up to seconds a text).
std::vector<std::int64_t> Candidates(TrigramIndex& index, HitCounter& counter, const std::vector<Trigram>& trigrams) {
  std::vector<std::pair<double, Trigram>> rare;
  for (Trigram g : trigrams)
    if (double n = index.Entries(g); n > 0) rare.emplace_back(n, g);
  if (rare.empty()) return {};
  std::sort(rare.begin(), rare.end());
  if (rare.front().first > kCommonTrigram) {  // every one common: the rarest of them
    for (auto& r : rare) r.first = index.Exact(r.second);
    std::sort(rare.begin(), rare.end());
  }
  if (rare.size() > kRareTrigrams) rare.resize(kRareTrigrams);
  for (std::size_t i = 0; i < rare.size(); ++i) {
    if (i > 0 && rare[i].first > kCommonTrigram) break;
    counter.AddAll(index.Holders(rare[i].second));
  }
  return counter.Best(kCandidates);
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

// The entries of every language. FTS5 keeps no count of a trigram's
// entries (its vocabulary table walks the list to count it), so the list is
// read while it is counted, up to kCommonTrigram + 1 entries: a rare
// trigram's list is walked once, a common one's not to its end. The
// vocabulary (fts5vocab) counts the common ones when a text has no other.
class SqliteTrigrams final : public TrigramIndex {
 public:
  explicit SqliteTrigrams(Session& s) : s_(s) {
    s_.Execute("CREATE VIRTUAL TABLE IF NOT EXISTS temp.TRDMEMORIA_VOCABULARIO"
               " USING fts5vocab(main, 'TRDMEMORIA_TRIGRAMAS', 'row')");
  }

 private:
  // An FTS5 phrase: the trigram quoted, a quote doubled.
  static std::string Phrase(Trigram g) {
    std::string phrase = "\"";
    for (char c : Utf8(g)) phrase += c == '"' ? std::string("\"\"") : std::string(1, c);
    return phrase + '"';
  }
  double CountEntries(Trigram g) override {
    const FieldValue p[] = {Phrase(g)};
    static const std::string sql = "SELECT group_concat(rowid) FROM (SELECT rowid FROM TRDMEMORIA_TRIGRAMAS"
                                   " WHERE TRDMEMORIA_TRIGRAMAS MATCH ? LIMIT " +
                                   std::to_string(std::int64_t(kCommonTrigram) + 1) + ")";
    auto ids = Ids(s_.Query(sql, p, kOneText));
    const double n = double(ids.size());
    if (n <= kCommonTrigram) KeepHolders(g, std::move(ids));
    return n;
  }
  double ExactEntries(Trigram g) override {
    const FieldValue p[] = {Utf8(g)};
    auto rows = s_.Query("SELECT doc FROM temp.TRDMEMORIA_VOCABULARIO WHERE term = ?", p, kOneNumber);
    const double* d = rows.empty() ? nullptr : std::get_if<double>(&rows[0][0]);
    return d ? *d : 0;
  }
  List ReadHolders(Trigram g) override {
    const FieldValue p[] = {Phrase(g)};
    return std::make_shared<const std::vector<std::int64_t>>(Ids(s_.Query(
        "SELECT group_concat(rowid) FROM TRDMEMORIA_TRIGRAMAS WHERE TRDMEMORIA_TRIGRAMAS MATCH ?", p, kOneText)));
  }

  Session& s_;
};

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

// The pending list of the PostgreSQL index, at most (kB).
constexpr int kPendingListKb = 256;

bool AsciiAlnum(char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }

// pg_trgm keeps no counts of its own: they are estimated from a sample of the
// language's memory (some 20,000 entries). Its index finds
// "ILIKE '%abc%'" through the trigram abc when its characters are letters or
// digits in every locale: ASCII ones; other trigrams are not looked up.
//
// Taking the sample reads up to 20,000 entries (some 90 ms), which a call
// for one text (the workbench's view of a text, after each save) cannot
// afford: a sample is kept in the process for kSampleLife, and taken again
// sooner once the count of the language's entries moved by more than 1%
// (a save adds one). An estimate from an older sample only picks other
// trigrams to read, never changes a similarity; a trigram no sampled entry
// holds counts as rare, so a new text's own trigrams are read.
struct TrigramSample {
  std::unordered_map<std::uint64_t, int> counts;
  double scale = 0;
  double entries = 0;
  std::chrono::steady_clock::time_point taken;
};
constexpr std::chrono::minutes kSampleLife{10};

class TrigramSamples {
 public:
  std::shared_ptr<const TrigramSample> Find(const std::string& key) {
    std::lock_guard lock(mutex_);
    auto it = samples_.find(key);
    return it == samples_.end() ? nullptr : it->second;
  }
  void Keep(const std::string& key, std::shared_ptr<const TrigramSample> sample) {
    constexpr std::size_t kKept = 64;  // languages of the databases a process serves
    std::lock_guard lock(mutex_);
    if (samples_.size() >= kKept) samples_.clear();
    samples_[key] = std::move(sample);
  }

 private:
  std::mutex mutex_;
  std::unordered_map<std::string, std::shared_ptr<const TrigramSample>> samples_;
};

TrigramSamples& KeptSamples() {
  static TrigramSamples samples;
  return samples;
}

// The trigram lists the index gave for a language, kept in the process while
// the language's memory stays as it was: a file's texts are asked in several
// calls (`trd export` sends a few thousand a call) that need mostly the same
// lists, and each list costs a read of every entry holding the trigram
// (pg_trgm's index has to be checked against the rows), some 3 ms for a
// list of 1,500 entries. The memory's state is its count of entries of the
// language, the highest entry number, and the table's file (a new table or
// TRUNCATE changes it): an entry added, even by a transaction that commits
// later, changes the count, and nothing else changes a source text or
// removes an entry. A list read after the state was taken may hold entries
// newer than it; the next call then finds another state and reads anew.
struct MemoryState {
  double entries = -1, newest = -1;
  std::string file;
  bool operator==(const MemoryState&) const = default;
};

class TrigramLists {
 public:
  explicit TrigramLists(MemoryState state) : state_(std::move(state)), taken_(std::chrono::steady_clock::now()) {}
  const MemoryState& State() const { return state_; }
  bool Fresh() const { return std::chrono::steady_clock::now() - taken_ < kSampleLife; }
  using List = std::shared_ptr<const std::vector<std::int64_t>>;
  // The list kept for the trigram, shared (lists are never changed once
  // kept); null when none is.
  List Find(Trigram g) const {
    std::lock_guard lock(mutex_);
    auto it = lists_.find(g);
    return it == lists_.end() ? nullptr : it->second;
  }
  void Keep(Trigram g, const List& ids) {
    constexpr std::size_t kMostIds = std::size_t(1) << 22;  // 32 MB of lists a language
    std::lock_guard lock(mutex_);
    if (ids_ + ids->size() > kMostIds) return;
    if (lists_.try_emplace(g, ids).second) ids_ += ids->size();
  }
  EntryTexts& Texts() { return texts_; }

 private:
  const MemoryState state_;
  const std::chrono::steady_clock::time_point taken_;
  mutable std::mutex mutex_;
  std::unordered_map<Trigram, List> lists_;
  std::size_t ids_ = 0;
  EntryTexts texts_;
};

class KeptTrigramLists {
 public:
  // The lists kept for `key` in this state, fresh ones when it changed.
  std::shared_ptr<TrigramLists> For(const std::string& key, const MemoryState& state) {
    // One language of one database at a time: its lists reach 32 MB, and a
    // server is to stay under 64 MB whatever it answered (an export asks
    // one language's suggestions, call after call).
    constexpr std::size_t kKept = 1;
    std::lock_guard lock(mutex_);
    auto& kept = lists_[key];
    if (kept && kept->State() == state && kept->Fresh()) return kept;
    if (lists_.size() > kKept) {
      lists_.clear();
      return lists_[key] = std::make_shared<TrigramLists>(state);
    }
    return kept = std::make_shared<TrigramLists>(state);
  }

 private:
  std::mutex mutex_;
  std::unordered_map<std::string, std::shared_ptr<TrigramLists>> lists_;
};

KeptTrigramLists& KeptLists() {
  static KeptTrigramLists lists;
  return lists;
}

class PostgresTrigrams final : public TrigramIndex {
 public:
  PostgresTrigrams(Session& s, const std::string& language) : s_(s), language_(language) {
    const FieldValue p[] = {language};
    const FieldType state_types[] = {FieldType::Float, FieldType::String, FieldType::Float, FieldType::String};
    auto n = s.Query(
        "SELECT COUNT(*), current_database() || '.' || current_schema(),"
        " (SELECT MAX(NRMEMORIA) FROM TRDMEMORIA), pg_relation_filenode('TRDMEMORIA')::text"
        " FROM TRDMEMORIA WHERE IDIDIOMA = ?",
        p, state_types);
    const double entries = n.empty() ? 0 : std::get<double>(n[0][0]);
    const auto* where = n.empty() ? nullptr : std::get_if<std::string>(&n[0][1]);
    const std::string key = (where ? *where : std::string()) + "\n" + language;
    MemoryState state;
    state.entries = entries;
    if (const auto* newest = n.empty() ? nullptr : std::get_if<double>(&n[0][2])) state.newest = *newest;
    if (const auto* file = n.empty() ? nullptr : std::get_if<std::string>(&n[0][3])) state.file = *file;
    lists_ = KeptLists().For(key, state);
    const auto now = std::chrono::steady_clock::now();
    sample_ = KeptSamples().Find(key);
    if (sample_ && now - sample_->taken < kSampleLife && std::abs(sample_->entries - entries) <= entries / 100) return;
    auto sample = std::make_shared<TrigramSample>();
    sample->entries = entries;
    sample->taken = now;
    const double percent = entries <= 20000 ? 100 : 20000 * 100 / entries;
    const FieldType text[] = {FieldType::String};
    double sampled = 0;
    // The share is a number this code computed, not request text.
    for (const Row& r : s.Query("SELECT STAGRVALPROP FROM TRDMEMORIA TABLESAMPLE SYSTEM (" + std::to_string(percent) +
                                    ") WHERE IDIDIOMA = ?",
                                p, text))
      if (const auto* t = std::get_if<std::string>(&r[0])) {
        ++sampled;
        for (std::uint64_t g : Trigrams(Folded(*t))) ++sample->counts[g];
      }
    sample->scale = sampled > 0 ? entries / sampled : 0;
    sample_ = sample;
    KeptSamples().Keep(key, std::move(sample));
  }

 private:
  double CountEntries(Trigram g) override {
    const std::string trigram = Utf8(g);
    if (!std::all_of(trigram.begin(), trigram.end(), AsciiAlnum)) return 0;
    auto it = sample_->counts.find(g);
    // Held by no sampled entry: rare, but perhaps there.
    return it == sample_->counts.end() ? 0.5 : it->second * sample_->scale;
  }
  EntryTexts* Texts() override { return &lists_->Texts(); }
  // The language's entries only: each row is read to check it anyway.
  List ReadHolders(Trigram g) override {
    if (auto kept = lists_->Find(g)) return kept;
    const FieldValue p[] = {"%" + Utf8(g) + "%", language_};
    auto ids = std::make_shared<const std::vector<std::int64_t>>(Ids(s_.Query(
        "SELECT string_agg(NRMEMORIA::text, ',') FROM TRDMEMORIA WHERE STAGRVALPROP ILIKE ? AND IDIDIOMA = ?", p,
        kOneText)));
    lists_->Keep(g, ids);
    return ids;
  }

  Session& s_;
  std::string language_;
  std::shared_ptr<const TrigramSample> sample_;
  std::shared_ptr<TrigramLists> lists_;
};

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
  // GIN puts new entries in a pending list that every look-up reads whole
  // until a vacuum merges it: at the default limit (4 MB, some 5,000
  // entries) that read cost more than the rest of a trigram's look-up. At
  // 256 kB it is merged every few hundred entries added: a look-up reads at
  // most 32 pages of it, and an entry added costs the index some 1.5 times
  // what it did (at 64 kB, the least, some 2.5 times).
  const std::string limit = "gin_pending_list_limit = " + std::to_string(kPendingListKb);
  s.Execute("CREATE INDEX IF NOT EXISTS IX_TRDMEMORIA_TRIGRAMAS ON TRDMEMORIA USING gin (STAGRVALPROP " + *schema +
            ".gin_trgm_ops) WITH (" + limit + ")");
  // An index made before carries the default: given the limit once (by
  // its owner; another server's user may not, and goes on without).
  const FieldType t[] = {FieldType::Float};
  const FieldValue option[] = {"gin_pending_list_limit=" + std::to_string(kPendingListKb)};
  if (!s.Query("SELECT 1 FROM pg_class WHERE oid = to_regclass('IX_TRDMEMORIA_TRIGRAMAS')"
               " AND NOT CAST(? AS TEXT) = ANY (COALESCE(reloptions, '{}'))",
               option, t)
           .empty()) {
    s.Execute("SAVEPOINT trd_trigrams");
    try {
      s.Execute("ALTER INDEX IX_TRDMEMORIA_TRIGRAMAS SET (" + limit + ")");
      s.Execute("RELEASE SAVEPOINT trd_trigrams");
    } catch (const StorageError&) {
      s.Execute("ROLLBACK TO SAVEPOINT trd_trigrams");
    }
  }
}

Packet Suggestions(Session& s, const std::string& language, const std::vector<std::string>& texts) {
  Packet out{protocol::SuggestionFields(), {}};
  out.rows.assign(texts.size(), Row{std::monostate{}, std::monostate{}, 0.0});
  std::unique_ptr<TrigramIndex> index;
  if (s.Kind() == Backend::Sqlite)
    index = std::make_unique<SqliteTrigrams>(s);
  else if (TrigramSchema(s))
    index = std::make_unique<PostgresTrigrams>(s, language);
  // The same text first; the others' candidates, then one sweep for them all.
  HitCounter counter;
  std::vector<std::vector<Trigram>> trigrams(texts.size());
  std::vector<std::pair<std::int64_t, std::size_t>> pairs;
  const auto recalled = RecallAll(s, language, texts);
  for (std::size_t i = 0; i < texts.size(); ++i) {
    const std::string& text = texts[i];
    if (text.empty()) continue;
    if (const auto& same = recalled[i]; same && !same->empty()) {
      out.rows[i] = {text, *same, 100.0};
      continue;
    }
    trigrams[i] = Trigrams(Folded(text));
    if (trigrams[i].empty() || !index) continue;  // shorter than three characters: like no other text
    for (std::int64_t id : Candidates(*index, counter, trigrams[i])) pairs.emplace_back(id, i);
  }
  std::vector<Pick> picks(texts.size());
  Sweep(s, language, pairs, trigrams, picks, index ? index->Texts() : nullptr);
  std::vector<std::int64_t> chosen;
  for (const Pick& p : picks)
    if (p.id >= 0) chosen.push_back(p.id);
  const auto entries = Entries(s, std::move(chosen));
  for (std::size_t i = 0; i < texts.size(); ++i)
    if (auto it = picks[i].id < 0 ? entries.end() : entries.find(picks[i].id); it != entries.end()) {
      const auto& [source, translation] = it->second;
      out.rows[i] = {source, translation, double(source == texts[i] ? 100 : picks[i].similarity)};
    }
  return out;
}

}  // namespace trd::server
