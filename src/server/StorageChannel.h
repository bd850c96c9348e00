// The record rule (store/RecordRule.h) run by the server on its own storage:
// the batch method SetPropriedArq (protocol/RecordBatch.h) hands it one
// file's texts, or several files' one after the other, and each text goes
// through exactly the rule a client runs text by text over its staging
// tables, here as statements on one storage session. Several files in one
// batch give the records, outcomes and history the same files give sent one
// batch each, in order, in one transaction instead of one each.
//
// A batch whose every text is stored already or declined changes nothing and
// takes no write lock: those look-ups run first, outside a write transaction
// (on one read snapshot). From
// the first text that needs a change on, the rest of the batch runs in one
// write transaction (whole or not at all; the rule's channel failures roll
// it back and pass on), so concurrent batches are serialisable: a text's
// look-ups and changes see no other writer in between.
#pragma once

#include <string>
#include <vector>

#include "Attribution.h"
#include "Database.h"
#include "platform/Value.h"
#include "protocol/Record.h"
#include "protocol/RecordBatch.h"
#include "store/RecordRule.h"

namespace trd::server {

using protocol::Declined;           // the rule's step 2, decided by the client
using protocol::TranslationLookUp;  // whether step 6 looks a translation up

struct BatchRecord {
  protocol::RecordKey key;
  std::string text;  // as a record holds it: at most kMaxValueLength characters
  Declined declined = Declined::No;
  TranslationLookUp look_up = TranslationLookUp::Yes;
};

// The request packet of SetPropriedArq read into records of `language`.
// Raises ProtocolError for a packet of other fields or values of the wrong
// kind, FieldError for a text too long for its column, ServerFailureError of
// code invalid_key for a key part KeyCheck.h refuses; the message names the
// row ("record 3 of 40"). The language is the caller's to check.
std::vector<BatchRecord> ReadBatch(const Packet& packet, const std::string& language);

// Runs the rule for every record in order and returns the result packet
// (protocol::BatchResultFields), a row per record. Every record changed is
// journalled (Journal.h) by `by`, in the batch's transaction; a record that
// took a translation over as Origin::Reuse. `files` holds the number of
// records of each file, in order (ReadFileCounts); empty: one file.
Packet ApplyRecordBatch(Session& session, const std::vector<BatchRecord>& records, const Attribution& by,
                        const std::vector<std::size_t>& files = {});

// The files argument of SetPropriedArq ("12,40,7": each file's number of
// records, in order) checked against the `records` of the packet: every
// count a positive whole number, their sum the number of records. Raises
// ProtocolError otherwise.
std::vector<std::size_t> ReadFileCounts(const std::string& text, std::size_t records);

}  // namespace trd::server
