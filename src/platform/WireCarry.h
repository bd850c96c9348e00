// What crossing the wire makes of a call, for a transport that hands values
// over in memory (the server in the command's own process): the values, the
// checks and the failures of encoding them (Wire.h) and decoding the text,
// without writing or parsing any text when the encoding gives the value back
// as it is.
//
// A value crosses unchanged when every text in it is valid UTF-8, every
// number finite, every date-time within the years 1 to 9999, every row holds
// one value per field of that field's kind (null, text for text fields,
// number for number fields, date-time for date-time fields), a change holds
// only the rows its kind carries, and the shapes stay within the decoder's
// bounds. Any other value goes through the encoding itself, so the decoder's
// changes (invalid UTF-8 becomes U+FFFD, a date-time's text in a text field
// stays text, a failure inside an argument loses its code) and its refusals
// (ProtocolError, with the decoder's message) are those of the wire.
#pragma once

#include <optional>

#include "Value.h"
#include "Wire.h"

namespace trd::wire {

// Whether decoding the encoding of `v` (or of `r`) gives it back equal and
// without failing. False is a safe answer: it only costs the encoding.
bool CrossesUnchanged(const Value& v);
bool CrossesUnchanged(const Request& r);

// The request as DecodeRequest(EncodeRequest(r)) gives it: `r` itself when
// it crosses unchanged, else the decoded one, kept in `changed`. Throws
// ProtocolError as DecodeRequest does.
const Request& Carried(const Request& r, std::optional<Request>& changed);

// The answer as DecodeResponse(EncodeResult(v)) gives it (a ServerFailure
// keeps its code, as a failure response does). Throws ProtocolError as
// DecodeResponse does.
Value CarriedResult(Value v);

}  // namespace trd::wire
