// Suggestions for texts nobody translated yet (GetSugestoes): for each
// source text asked, the translation memory's translation of the same text,
// or else of the most similar source text of the same language.
//
// Similarity is the share of trigrams two texts have in common: the Jaccard
// index of the sets of three-character sequences of the texts with their
// letters folded to lower case (as SQLite's trigram tokenizer cuts them),
// in percent. It is computed here, the same way on every backend; the
// backend's trigram index only finds the candidates:
//   SQLite      TRDMEMORIA_TRIGRAMAS, an FTS5 table (tokenizer trigram) over
//               the memory's source texts, kept by triggers on TRDMEMORIA;
//               trigram counts from the index's vocabulary
//   PostgreSQL  IX_TRDMEMORIA_TRIGRAMAS, a GIN index of pg_trgm
//               (gin_trgm_ops) over the memory's source texts, asked with
//               ILIKE '%abc%' for trigrams of ASCII letters and digits;
//               counts estimated from a sample of the memory, kept in the
//               process a while; the lists read, and the texts of the
//               entries scored, kept while the language's memory is
//               unchanged, for the next call (Suggestions.cpp)
// The candidates hold the most of the text's rarest trigrams: the entries
// holding each are read from the index once per call (as one list, not a row
// an entry) and counted here (ranking every match in the database took up to
// seconds a text). The candidates of all the call's texts are then read in
// one sweep in key order, each entry once.
// (pg_trgm's own "%" and "<->" read every trigram's posting list, the
// commonest too: some 40 ms a text on 200,000 entries, too slow for a file
// of new texts.)
// A suggestion is at least kMinSimilarity alike; texts shorter than three
// characters have no trigrams, so only the same text is suggested for them.
// An entry of another language is never a suggestion, nor is an empty
// translation.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "Database.h"
#include "protocol/Exchange.h"

namespace trd::server {

inline constexpr int kMinSimilarity = 50;  // percent

// The similarity of two texts in percent (rounded down), 100 for equal texts.
int Similarity(std::string_view a, std::string_view b);

// Creates the trigram index over TRDMEMORIA when missing (and fills it from
// the memory). On PostgreSQL it needs the extension pg_trgm: created when
// the database lacks it and the server may create it; without it, only the
// same text is suggested.
void EnsureSuggestionIndex(Session& s);

// One row per text, in order (protocol::SuggestionFields()).
Packet Suggestions(Session& s, const std::string& language, const std::vector<std::string>& texts);

}  // namespace trd::server
