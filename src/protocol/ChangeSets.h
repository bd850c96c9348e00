// How the server names a change of a change set it refuses, and the two
// refusals a client settles by itself when several clients race on one key
// (docs/server.md, "Change sets"): the failure message of change i of n reads
// "change I of N (KIND): " followed by the cause, for these two causes
//   "duplicate key: ..."       an insert of a key that holds a record;
//   "no record of key ..."     a delete or modification of a key that holds none.
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
