// The text form of a record key: one token that PO "#:" references, PO
// msgctxt and XML carry unchanged, and that reads back to the same key.
//
//   PROGRAM/FORM/COMPONENT/PROPERTY/NUMBER/LANGUAGE
//   CADCLI/FRMCADCLI/BTNSALVAR/Caption/0/ENG
//   RELVENDAS/QrDesign/lblTitulo/TQRLabel/0/POR
//
// The six fields of protocol::RecordKey in key order, joined by "/". Every field
// keeps the bytes A-Z a-z 0-9 . _ - + as they are and writes any other byte as
// "%" and two upper-case hex digits: "/" is %2F, a blank %20, "ç" %C3%A7, ":"
// %3A (so that no PO tool takes a trailing ":N" for a line number). NUMBER is
// the shortest decimal that reads back to the same double ("0", "3", "-1",
// "1e+20"). The form is stable: the same key always gives the same text.
// docs/exchange.md describes it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "protocol/Record.h"

namespace trd::exchange {

std::string KeyText(const protocol::RecordKey& key);

// The key a key text stands for; nullopt when `text` is not one: not six
// fields, a byte outside the kept set, "%" without two hex digits, a number
// that does not read whole, or a field that is not UTF-8.
std::optional<protocol::RecordKey> ParseKeyText(std::string_view text);

}  // namespace trd::exchange
