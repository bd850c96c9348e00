// What the progress page shows, read through the exchange module
// (protocol::kModuleExchange) of a service in process: the coverage per
// language and per program (GetCobertura), the latest changes
// (GetRegistros, order "recent"), the look-up of a source text (GetTextos,
// folded: case and accents aside, TextFold.h) and the date of the last
// harvest (GetVersao): the queries `trd status` and the exchange files use.
// Two things no method tells are read from the storage directly: how many
// texts a search finds in all (CountTexts) and the activity per user
// (ActivitySince, History.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "History.h"
#include "Service.h"
#include "protocol/Record.h"

namespace trd::server {

// Counts of translatable records (total = translated + untranslated), and
// apart those that are not (protocol/Translatable.h).
struct Coverage {
  std::int64_t total = 0;
  std::int64_t translated = 0;
  std::int64_t untranslated = 0;
  std::int64_t untranslatable = 0;
  // translated / total, 0 for no record.
  double Share() const { return total > 0 ? double(translated) / double(total) : 0.0; }
};

struct LanguageProgress {
  std::string code;  // IDIDIOMA
  std::string name;  // DSIDIOMA
  Coverage counts;
};

struct ProgramProgress {
  std::string program;  // CDPROGRAMA
  Coverage counts;
};

// One record as the page lists it.
struct ListedRecord {
  protocol::RecordKey key;
  std::string source;       // STAGRVALPROP
  std::string text;         // STVALORPROP: the translation (or the source, untranslated)
  std::string state;        // IDSITTRADUCAO
  std::optional<DateTime> when;  // DTULTATUTRAD
};

// A source text and the records that hold it, every language.
struct FoundText {
  std::string source;
  std::vector<ListedRecord> records;
};

struct SearchPage {
  std::vector<FoundText> texts;
  std::int64_t text_count = 0;  // the distinct texts found in all, every page
  std::string next;  // the cursor of the next page; empty: this is the last
};

// Reads for the page; every method raises what Service::Call raises.
class ProgressReader {
 public:
  explicit ProgressReader(Service& service) : service_(service) {}

  // Every language the server knows, in code order, with its counts (zero
  // for a language without records).
  std::vector<LanguageProgress> Languages();
  // The programs holding records of `language`, with their counts.
  std::vector<ProgramProgress> Programs(std::string_view language);
  // The `limit` records of `languages` changed last, newest first.
  std::vector<ListedRecord> Recent(const std::vector<std::string>& languages, std::size_t limit);
  // The records whose source text contains `needle` (folded alike: case and
  // accents aside), of every language, grouped by source text: at most
  // `limit` records from the cursor `after` on ("" for the first page).
  SearchPage Search(std::string_view needle, std::string_view after, std::size_t limit);
  // When the last harvest stamped the table (SetVersao); none before any.
  std::optional<DateTime> LastHarvest();
  // The changes per user over the `days` days up to now, the most active
  // first.
  std::vector<UserActivity> Activity(int days);

 private:
  Service& service_;
};

}  // namespace trd::server
