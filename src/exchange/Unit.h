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

#include <optional>
#include <string>
#include <vector>

#include "protocol/Record.h"

namespace trd::exchange {

enum class State { Translated, NeedsTranslation, NeedsReview };

struct Unit {
  std::string id;  // stable: StableId() of the unit when it was written
  std::string source;
  std::optional<std::string> translation;
  State state = State::NeedsTranslation;
  std::vector<protocol::RecordKey> keys;       // the records that hold the source text
  std::optional<protocol::RecordKey> context;  // per-key units: the one record

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
// first (the translator settles the difference).
Unit UnitForText(std::string source, std::vector<protocol::RecordKey> keys,
                 const std::vector<std::string>& translations);

// A per-key unit; `translation` present when the record is translated ("T").
Unit UnitForRecord(protocol::RecordKey key, std::string source, std::optional<std::string> translation);

// Whether import applies the unit: Translated with a translation. Units in
// any other state are skipped and counted.
bool Importable(const Unit& unit);

}  // namespace trd::exchange
