// The review state beside each record, TRDREVISAO: a table of its own keyed
// by the translation table's key, so that the translation table keeps its
// columns and the client application reads it as before.
//
//   CDPROGRAMA .. IDIDIOMA   the record's key (the translation table's six
//                            key fields, same names and widths)
//   IDSITREVISAO             protocol::kReviewApproved ("A") or
//                            kReviewSentBack ("D")
//   NMREVISOR                who (50); null when unknown (the server's own
//                            token, the command line on the database)
//   DTREVISAO                when
//
// A record without a row is unreviewed. Any change of a record's text,
// translation or state takes its row away, in the change's transaction
// (Journal.h): a changed translation is unreviewed again. Every change of a
// review state is written to the history (History.h) with it.
#pragma once

#include <string>
#include <string_view>

#include "Attribution.h"
#include "Database.h"
#include "platform/Value.h"

namespace trd::server {

inline constexpr std::string_view kReviewTable = "TRDREVISAO";

// Creates TRDREVISAO when missing (in EnsureSchema's transaction).
void EnsureReviews(Session& s);

// Takes the review state of `record` (a row of the ten record fields) away;
// returns the state it had, null when it had none.
FieldValue ClearReview(Session& s, const Row& record);

// Gives `record` the review `state` by `by` (who and when); returns the state
// it had, null when it had none.
FieldValue SetReview(Session& s, const Row& record, std::string_view state, const Attribution& by);

// SQL of the listings that answer the review state beside the record fields
// (protocol::ReviewedRecordFields()): " LEFT JOIN TRDREVISAO USING (key)",
// to follow the translation table in a FROM clause (the key columns stay
// unqualified), and the review fields' column list.
const std::string& ReviewJoin();
const std::string& ReviewColumns();

}  // namespace trd::server
