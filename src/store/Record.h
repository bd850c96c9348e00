// The translation property record: one row of the translation table, and the
// shape of the record staging tables. Field names are the column names on the
// wire and in every staging table.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DataSet.h"
#include "platform/Value.h"

namespace trd::store {

inline constexpr std::size_t kMaxValueLength = 4000;  // code points

// The ten fields, in order: CDPROGRAMA (20), NMFORMULARIO (50),
// NMCOMPONENTE (50), NMPROPRIEDADE (50), NRVALORPROP (float),
// IDSITTRADUCAO (1), STVALORPROP (4000), STAGRVALPROP (4000),
// DTULTATUTRAD (date-time), IDIDIOMA (3).
const std::vector<FieldDef>& RecordFields();
// STAGRVALPROP and STVALORPROP (4000 each): the translation look-up's packet.
const std::vector<FieldDef>& TranslationFields();
// IDIDIOMA (3), DSIDIOMA (30), IDIPROP (3).
const std::vector<FieldDef>& LanguageFields();
// DTGERARQTRAD (date-time).
const std::vector<FieldDef>& VersionFields();

// The key of a record: the arguments of the look-up by key.
struct RecordKey {
  std::string program;
  std::string form;
  std::string component;
  std::string property;
  double number = 0;
  std::string language;

  friend bool operator==(const RecordKey&, const RecordKey&) = default;
};

// Inserts a new record into a record staging table, fills it in field order
// (state "N", both texts `value`, the current time) and posts it; the post
// sends it when the table sends. A value that does not fit its field cancels
// the insert (no half-filled row stays) and raises FieldError.
void PostNewRecord(DataSet& table, const RecordKey& key, std::string_view value);

// Whether the record a look-up by key found (the current row of `found`)
// holds `value` as its source text, trailing blanks ignored on both sides as
// the look-up by value compares. True only when another client stored the
// same text between this client's look-up by value and its look-up by key:
// the text is stored, and there is nothing to replace.
bool HoldsSourceText(const DataSet& found, std::string_view value);

}  // namespace trd::store
