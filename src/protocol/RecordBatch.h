// The batch method's packets (SetPropriedArq, docs/server.md): one file's
// texts in, or several files' one after the other, one outcome per text out.
//
// Arguments: the run's language, the request packet, and, for several files,
// a third: each file's number of rows, in order, as decimal numbers joined
// by "," ("12,40,7"; every one at least 1, their sum the packet's rows). The
// server runs the record rule over all of them in one transaction, with the
// records and outcomes the same files give sent one call each. A server
// older than the third argument refuses it as malformed before it reads
// anything; a client then sends one file per call.
//
// Request packet, one row per text in scan order (the run's language is an
// argument of its own):
//   CDPROGRAMA, NMFORMULARIO, NMCOMPONENTE, NMPROPRIEDADE, NRVALORPROP  the key
//   STAGRVALPROP  the text as a record holds it (cut to kMaxValueLength)
//   IDACEITA      "S" when the text becomes a record if the key does not
//                 hold it yet, "N" when the client declines it (the record
//                 rule's step 2: not worth translating, an empty entry)
//   IDBUSCATRAD   "S" when a translation of the text is to be looked up and
//                 reused for a new record, "N" when not (a report text that
//                 had to be cut: no stored source text can equal it)
// Result packet, one row per request row, in the same order:
//   IDRESULTADO   the record rule's outcome by name (store::OutcomeName:
//                 "stored_already", "stored_meanwhile", "skipped",
//                 "created", "replaced")
//   IDTRADUCAO    "S" when a translation was reused into the new record
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Value.h"

namespace trd::protocol {

// A text's two flags as both sides hold them.
enum class Declined { No, Yes };           // IDACEITA "S" / "N"
enum class TranslationLookUp { Yes, No };  // IDBUSCATRAD "S" / "N"

inline constexpr std::string_view kYes = "S";
inline constexpr std::string_view kNo = "N";

// Field positions of the request packet.
enum BatchField : int { kBatchProgram, kBatchForm, kBatchComponent, kBatchProperty, kBatchNumber, kBatchText,
                        kBatchAccepted, kBatchLookUp, kBatchFieldCount };
const std::vector<FieldDef>& BatchRecordFields();

// Field positions of the result packet.
enum BatchResultField : int { kBatchOutcome, kBatchTranslation };
const std::vector<FieldDef>& BatchResultFields();

// The third argument: each file's number of rows, "12,40,7".
std::string FileCountsText(const std::vector<std::size_t>& counts);
// Its counts; raises ProtocolError for a text that is not such a list.
std::vector<std::size_t> FileCountsOf(std::string_view text);

}  // namespace trd::protocol
