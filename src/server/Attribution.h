// Who changed the translation table, when, and through what: carried by
// every change the server makes to a record, and written with it to the
// translation memory (Memory.h) and the history (History.h).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/DateTime.h"

namespace trd::server {

// How a change came about. Stored as its code (IDORIGEM, 10 characters).
enum class Origin {
  Harvest,  // "colheita": a harvest created, replaced or removed a record
  Reuse,    // "reuso": a harvest copied a translation held for the same text
  Import,   // "importacao": `trd import` (SetTraducoes)
  Page,     // "pagina": a person on the server's pages
  Call,     // "chamada": a direct call of a method that sets a translation
  Retire,   // "retirada": `trd retire --apply` removed a record
  Review,   // "revisao": a reviewer approved a translation or withdrew it
  Record,   // "registro": found in a record whose setting was not seen
};

std::string_view OriginCode(Origin origin);
// The origin of a code; nullopt for any other text.
std::optional<Origin> OriginOfCode(std::string_view code);

struct Attribution {
  std::string user;  // the user's name; empty when unknown
  Origin origin = Origin::Call;
  DateTime when;
};

}  // namespace trd::server
