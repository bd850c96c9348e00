// The checks translators expect of a language's translations, as pure
// functions: `trd check` prints their findings and ends with status 1 when
// one of them is an error (docs/exchange.md).
//
// Per source text and translation (CheckTranslation):
//   placeholders  the placeholders fill other arguments (Placeholders.h)
//   accelerators  a different number of "&" accelerators ("&&" is none)
//   blanks        the leading or the trailing blanks (spaces, tabs) differ
//   line-breaks   a different number of line breaks (CR LF, CR, LF: one each)
//   identical     the translation is the source itself, where the source has
//                 a letter ("-", "...", "%d" are the same in any language).
//                 A notice: listed, not an error, since names and words like
//                 "OK" or "Status" often are
// Across the records of one source text (CheckSourceText):
//   inconsistent  the translated records hold different translations
// Only translated records are checked: an untranslated one holds its source.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/Record.h"

namespace trd::exchange {

enum class CheckKind { Placeholders, Accelerators, Blanks, LineBreaks, Identical, Inconsistent };
enum class Severity { Error, Notice };

Severity SeverityOf(CheckKind kind);
// The stable name of a check ("line-breaks"), for output and JSON.
std::string_view CheckName(CheckKind kind);

struct Issue {
  CheckKind kind;
  std::string
      detail;  // what differs, for a person: "placeholders %s, %d in the source; %d in the translation"
};

std::vector<Issue> CheckTranslation(std::string_view source, std::string_view translation);

struct TranslatedRecord {
  protocol::RecordKey key;
  std::string translation;
};

struct Finding {
  CheckKind kind;
  std::string source;
  std::vector<std::string> translations;  // the translation concerned; every distinct one for inconsistent
  std::vector<protocol::RecordKey> keys;     // the records concerned, those of each translation in turn
  std::vector<std::size_t> held;             // per translation, how many of `keys` hold it
  std::string detail;
};

// The findings for one source text and its translated records: one finding
// per issue of each distinct translation, naming the records that hold that
// translation, then the inconsistency across them, if any, naming which
// records hold which. Translations go most held first (ties in the order
// first met).
std::vector<Finding> CheckSourceText(std::string_view source, const std::vector<TranslatedRecord>& records);

// Whether any finding is an error (notices aside): `trd check`'s status 1.
bool HasErrors(const std::vector<Finding>& findings);

}  // namespace trd::exchange
