#include "Unit.h"

#include <openssl/evp.h>

#include <algorithm>

#include "KeyText.h"
#include "platform/Errors.h"

namespace trd::exchange {
namespace {

constexpr std::size_t kIdHexDigits = 24;

std::string HexDigest(std::string_view text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (EVP_Digest(text.data(), text.size(), digest, &size, EVP_sha256(), nullptr) != 1)
    throw Error("cannot compute a SHA-256 digest for a unit id");
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned int i = 0; i < size && out.size() < kIdHexDigits; ++i) {
    out += kHex[digest[i] >> 4];
    out += kHex[digest[i] & 15];
  }
  return out;
}

}  // namespace

std::string StableId(const Unit& unit) {
  if (unit.context) return "k" + HexDigest(KeyText(*unit.context));
  return "t" + HexDigest(unit.source);
}

std::string IdOf(const Unit& unit) { return unit.id.empty() ? StableId(unit) : unit.id; }

Unit UnitForTranslations(std::string source, std::vector<protocol::RecordKey> keys,
                         std::vector<Alternative> translations) {
  Unit u;
  u.source = std::move(source);
  u.keys = std::move(keys);
  if (!translations.empty()) {
    u.translation = translations.front().translation;
    u.state = translations.size() == 1 ? State::Translated : State::NeedsReview;
    if (translations.size() > 1) u.alternatives = std::move(translations);
  }
  u.id = StableId(u);
  return u;
}

Unit UnitForText(std::string source, std::vector<protocol::RecordKey> keys,
                 const std::vector<std::string>& translations) {
  std::vector<Alternative> alternatives;
  for (const std::string& t : translations) alternatives.push_back({t, 1});
  return UnitForTranslations(std::move(source), std::move(keys), std::move(alternatives));
}

void AlternativeCount::Add(const std::string& translation) {
  auto it = std::find_if(seen_.begin(), seen_.end(), [&](const Alternative& a) { return a.translation == translation; });
  if (it == seen_.end()) it = seen_.insert(seen_.end(), {translation, 0});
  ++it->records;
}

std::vector<Alternative> AlternativeCount::Take() {
  std::stable_sort(seen_.begin(), seen_.end(), [](const Alternative& a, const Alternative& b) { return a.records > b.records; });
  return std::move(seen_);
}

Unit UnitForRecord(protocol::RecordKey key, std::string source, std::optional<std::string> translation) {
  Unit u;
  u.source = std::move(source);
  u.state = translation ? State::Translated : State::NeedsTranslation;
  u.translation = std::move(translation);
  u.keys = {key};
  u.context = std::move(key);
  u.id = StableId(u);
  return u;
}

std::string ReviewNote(const Review& review) {
  // "YYYY-MM-DDTHH:MM:SS.mmm" to the minute.
  std::string when = review.when.ToIso().substr(0, 16);
  if (when.size() > 10) when[10] = ' ';
  const std::string what = review.verdict == Verdict::Approved ? "aprovado" : "devolvido";
  return review.by.empty() ? what + " em " + when : what + " por " + review.by + " em " + when;
}

void SetReview(Unit& unit, Review review) {
  if (review.verdict == Verdict::Approved && unit.state != State::Translated) return;
  if (review.verdict == Verdict::SentBack && unit.translation) unit.state = State::NeedsReview;
  unit.review = std::move(review);
}

bool Approved(const Unit& unit) {
  return unit.review && unit.review->verdict == Verdict::Approved && unit.state == State::Translated;
}

std::optional<std::string> ReviewNoteOf(const Unit& unit) {
  if (!Approved(unit) && !(unit.review && unit.review->verdict == Verdict::SentBack)) return std::nullopt;
  return ReviewNote(*unit.review);
}

bool Importable(const Unit& unit) { return unit.state == State::Translated && unit.translation.has_value(); }

}  // namespace trd::exchange
