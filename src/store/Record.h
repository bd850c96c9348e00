// Records in the client's staging tables, whose fields are the record's
// (protocol/Record.h).
#pragma once

#include <string_view>

#include "platform/DataSet.h"
#include "platform/Value.h"
#include "protocol/Record.h"

namespace trd::store {

using protocol::RecordKey;

// Inserts a new record into a record staging table, fills it in field order
// (state "N", both texts `value`, the current time) and posts it; the post
// sends it when the table sends. A value that does not fit its field cancels
// the insert (no half-filled row stays) and raises FieldError.
void PostNewRecord(DataSet& table, const RecordKey& key, std::string_view value);

}  // namespace trd::store
