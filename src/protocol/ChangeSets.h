// How the server names a change of a change set in its failure messages
// (docs/server.md, "Change sets"): "change I of N (KIND): " followed by the
// cause, which for the two refusals a client settles by itself when several
// clients race on one key reads
//   "duplicate key: ..."       an insert of a key that holds a record (code key_taken);
//   "no record of key ..."     a delete or modification of a key that holds none (code not_found).
// Clients go by the code (protocol/Failures.h), never by these texts.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/Value.h"

namespace trd::protocol {

inline constexpr std::string_view kDuplicateKey = "duplicate key: ";
inline constexpr std::string_view kNoRecordOfKey = "no record of key ";

// "change 2 of 3 (insert)": change `index` (from 0) of `count`.
std::string ChangeName(std::size_t index, std::size_t count, ChangeKind kind);

}  // namespace trd::protocol
