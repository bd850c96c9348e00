// The unit of exchange with translators: one source text to translate, as
// PO entries and XLIFF trans-units carry it.
//
// A file has one of two shapes (docs/exchange.md):
//   - per text: one unit per distinct source text of a language; `keys` lists
//     every record that holds the text, `context` is empty. Importing it
//     translates every record of the language that holds the source text.
//   - per key: one unit per record; `context` is the record's key (PO
//     msgctxt, XLIFF resname) and `keys` holds that key. Importing it
//     translates that record only.
//
// State and translation:
//   Translated        translation present (it may be the empty text)
//   NeedsTranslation  usually no translation; a text here is a suggestion
//   NeedsReview       a translation somebody must confirm (PO fuzzy)
// An empty text in a state other than Translated is no translation: both
// formats read it back as none. Import applies Translated units only
// (Importable).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "protocol/Record.h"

namespace trd::exchange {

enum class State { Translated, NeedsTranslation, NeedsReview };

// One of the distinct translations the records of a per-text unit hold, and
// how many of them hold it.
struct Alternative {
  std::string translation;
  std::size_t records = 0;

  friend bool operator==(const Alternative&, const Alternative&) = default;
};

// A translation offered for a text nobody translated yet: the translation of
// a similar source text of the same language, from the translation memory.
struct Suggestion {
  std::string source;       // the text it translates (the previous source)
  std::string translation;
  int similarity = 0;       // percent, 100 for the same text

  friend bool operator==(const Suggestion&, const Suggestion&) = default;
};

// A reviewer's verdict on a unit's translation: approved, or sent back to
// the translator; who (empty when unknown) and when.
enum class Verdict { Approved, SentBack };
struct Review {
  Verdict verdict = Verdict::Approved;
  std::string by;
  DateTime when;

  friend bool operator==(const Review&, const Review&) = default;
};

// "aprovado por NAME em 2026-05-01 14:30", "devolvido por NAME em ..."
// ("aprovado em ..." when who is unknown): the note both formats write
// beside a reviewed translation.
std::string ReviewNote(const Review& review);

struct Unit {
  std::string id;  // stable: StableId() of the unit when it was written
  std::string source;
  std::optional<std::string> translation;
  State state = State::NeedsTranslation;
  std::vector<protocol::RecordKey> keys;       // the records that hold the source text
  std::optional<protocol::RecordKey> context;  // per-key units: the one record
  // Written, never read back (they are for the translator's eyes): every
  // distinct translation when the records hold several, the most held
  // first; and, for a unit without translation, a suggestion (PO: a fuzzy
  // msgstr with the previous source as "#| msgid"; XLIFF: an alt-trans with
  // its match-quality), which an untouched file never imports.
  std::vector<Alternative> alternatives;
  std::optional<Suggestion> suggestion;
  // The reviewer's verdict (SetReview): an approved Translated unit goes
  // out XLIFF state "signed-off" and approved="yes" with a note, PO with a
  // translator comment (ReviewNote); a sent-back one is NeedsReview (XLIFF
  // "needs-review-translation", PO fuzzy) with the same note. Written, never
  // read back: information for the translator, never what import matches by.
  std::optional<Review> review;

  friend bool operator==(const Unit&, const Unit&) = default;
};

// The id of a unit: "k" and 24 hex digits of the SHA-256 of its context's
// key text for a per-key unit, "t" and those of its source text otherwise.
// The same text (or key) gets the same id in every export.
std::string StableId(const Unit& unit);
// The id a file gives the unit: its own, or StableId when it has none.
std::string IdOf(const Unit& unit);

// A per-text unit. `translations` are the distinct translations of the
// source's translated records, the one to offer first: none gives
// NeedsTranslation, one gives Translated, several give NeedsReview with the
// first, and every one of them as an alternative (the translator settles
// the difference).
Unit UnitForTranslations(std::string source, std::vector<protocol::RecordKey> keys,
                         std::vector<Alternative> translations);
// The same, each translation counted as held by one record.
Unit UnitForText(std::string source, std::vector<protocol::RecordKey> keys,
                 const std::vector<std::string>& translations);

// Gives the unit the reviewer's verdict: an approval holds for a Translated
// unit only (it is dropped otherwise); a sent-back translation is to be
// reviewed again (NeedsReview), so that a translator's tool lists it as
// work and an untouched file imports nothing of it.
void SetReview(Unit& unit, Review review);
// Whether the unit goes out approved: Translated, with a reviewer's approval.
bool Approved(const Unit& unit);
// The note a writer puts beside the unit's translation: ReviewNote of an
// approved unit or of a sent-back one; none otherwise.
std::optional<std::string> ReviewNoteOf(const Unit& unit);

// Counts the translations of a text's translated records into the distinct
// ones, the most held first (ties in the order first met).
class AlternativeCount {
 public:
  void Add(const std::string& translation);
  std::vector<Alternative> Take();

 private:
  std::vector<Alternative> seen_;
};


// A per-key unit; `translation` present when the record is translated ("T").
Unit UnitForRecord(protocol::RecordKey key, std::string source, std::optional<std::string> translation);

// Whether import applies the unit: Translated with a translation. Units in
// any other state are skipped and counted.
bool Importable(const Unit& unit);

}  // namespace trd::exchange
