// Reading the record rows the exchange module answers (the ten record
// fields, protocol/Record.h) on the command line's side.
#pragma once

#include <string>

#include "protocol/Exchange.h"

namespace trd::cli {

// The text of `field`; "" when null.
inline const std::string& RowText(const Row& r, protocol::RecordField field) {
  static const std::string empty;
  const auto* s = std::get_if<std::string>(&r.at(std::size_t(field)));
  return s ? *s : empty;
}

inline bool IsTranslated(const Row& r) { return RowText(r, protocol::kIdSitTraducao) == protocol::kStateTranslated; }

// Program codes as the table holds them: upper case (A-Z only).
std::vector<std::string> ProgramCodes(const std::vector<std::string>& given);

}  // namespace trd::cli
