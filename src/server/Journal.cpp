#include "Journal.h"

#include "History.h"
#include "Memory.h"
#include "Review.h"
#include "Schema.h"

namespace trd::server {
namespace {

const std::string* Text(const Row& r, RecordField f) { return std::get_if<std::string>(&r[std::size_t(f)]); }

// The language, source and translation of a translated record; null when
// the record is not "T" or lacks one of them.
struct Translated {
  const std::string* language;
  const std::string* source;
  const std::string* translation;
  bool operator==(const Translated& o) const {
    return *language == *o.language && *source == *o.source && *translation == *o.translation;
  }
};

std::optional<Translated> TranslatedOf(const std::optional<Row>& r) {
  if (!r) return std::nullopt;
  const std::string* state = Text(*r, kIdSitTraducao);
  if (!state || *state != protocol::kStateTranslated) return std::nullopt;
  Translated t{Text(*r, kIdIdioma), Text(*r, kStAgrValProp), Text(*r, kStValorProp)};
  if (!t.language || !t.source || !t.translation) return std::nullopt;
  return t;
}

std::string MemoryKey(const Translated& t) {
  return *t.language + '\x1f' + *t.source + '\x1f' + *t.translation;
}

}  // namespace

void Journal::Changed(const std::optional<Row>& before, const std::optional<Row>& after) {
  Changed(before, after, by_);
}

void Journal::Changed(const std::optional<Row>& before, const std::optional<Row>& after, const Attribution& by) {
  ReviewChange review;
  if (before && ChangesRecord(before, after)) review.before = ClearReview(s_, *before);
  if (write_ == HistoryWrite::Together)
    rows_.Add(s_, before, after, by, review);
  else
    RecordChange(s_, before, after, by, review);
  const std::optional<Translated> was = TranslatedOf(before), is = TranslatedOf(after);
  if (was && !(is && *is == *was)) {
    const auto* time = std::get_if<DateTime>(&(*before)[kDtUltAtuTrad]);
    Remember(s_, *was->language, *was->source, *was->translation, Attribution{{}, Origin::Record, time ? *time : by.when},
             MemoryWrite::KeepFirst);
  }
  if (is && !(was && *was == *is)) {
    std::string key = MemoryKey(*is);
    if (key == last_) return;
    Remember(s_, *is->language, *is->source, *is->translation, by,
             by.origin == Origin::Reuse ? MemoryWrite::KeepFirst : MemoryWrite::Latest);
    last_ = std::move(key);
  }
}

void Journal::Flush() { rows_.Flush(s_); }

void Journal::Reviewed(const Row& record, std::string_view state) {
  ReviewChange review{SetReview(s_, record, state, by_), std::string(state)};
  if (write_ == HistoryWrite::Together)
    rows_.Add(s_, record, record, by_, review);
  else
    RecordChange(s_, record, record, by_, review);
}

}  // namespace trd::server
