// The translation memory, TRDMEMORIA: every translation ever set on the
// server, by language and source text, kept apart from the translation table
// so that no harvest can destroy it (a harvest deletes and recreates records;
// it never touches the memory, and nothing deletes from it).
//
//   NRMEMORIA     entry number (SQLite INTEGER PRIMARY KEY, PostgreSQL an
//                 identity column): stable, for indexes built on the table
//   IDIDIOMA      language code (3)
//   STAGRVALPROP  the source text (4000), exactly as the records hold it
//   STVALORPROP   its translation (4000); may be the empty text
//   NMUSUARIO     who set it (50); null when unknown
//   DTULTATUTRAD  when it was last set
//   IDORIGEM      how it was set (OriginCode, Attribution.h)
//
// One entry per distinct language, source text and translation (unique
// UX_TRDMEMORIA; on PostgreSQL over MD5 digests of the texts, which a B-tree
// entry can always hold). Setting a translation again moves its entry's
// who, when and how to the latest setting; a translation a harvest only
// copied from elsewhere (Origin::Reuse) or found in a record the memory had
// not seen (Origin::Record) adds an entry when there is none and leaves an
// existing one as it is, so that an entry names the person who set it.
//
// Entries are written in the transaction of the record change that set the
// translation (Journal.h). The harvest consults the memory only when no
// translated record holds the text (TranslationOfSource, Records.h): the
// latest entry of the language and text.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "Attribution.h"
#include "Database.h"

namespace trd::server {

inline constexpr std::string_view kMemoryTable = "TRDMEMORIA";

// Creates TRDMEMORIA and its index when missing, and then fills it with the
// translations the translation table holds (who unknown, how
// Origin::Record), so that a server that had no memory yet loses none of the
// work done before. Runs inside EnsureSchema's transaction; on a database
// that has the memory it writes nothing (a dry run's server changes no byte).
void EnsureMemory(Session& s);

enum class MemoryWrite {
  Latest,     // the entry takes this setting's who, when and how
  KeepFirst,  // an existing entry stays as it is
};

// Remembers `translation` of `source` in `language`. A source longer than a
// record can hold is not remembered (no record can ever hold it either).
void Remember(Session& s, std::string_view language, std::string_view source, std::string_view translation,
              const Attribution& by, MemoryWrite write);

// The translation of the latest entry for the language and source text;
// nullopt when the memory holds none.
std::optional<std::string> Recall(Session& s, std::string_view language, std::string_view source);

// Recall of many texts at once (a query per some hundred texts, not one a
// text): the i-th answer is Recall(s, language, sources[i]).
std::vector<std::optional<std::string>> RecallAll(Session& s, std::string_view language,
                                                  const std::vector<std::string>& sources);

}  // namespace trd::server
