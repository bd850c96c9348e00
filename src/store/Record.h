// The translation property record: one row of the translation table, and the
// shape of the record staging tables. Field names are the column names on the
// wire and in every staging table.
#pragma once

#include <cstddef>
#include <vector>

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

}  // namespace trd::store
