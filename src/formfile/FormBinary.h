// Binary component streams and the resource header of binary form files.
//
// Component stream: the signature "TPF0", then the root object:
//   object   := [prefix] class:short name:short property* 00 object* 00
//   prefix   := byte F0|flags (1 inherited, 2 child position, 4 inline),
//               followed by an Int8/Int16/Int32 value when flag 2 is set
//   property := name:short value
//   short    := length byte, bytes (names are UTF-8; plain ASCII in practice)
//   value    := tag byte (ValueKind) and its payload, little-endian:
//     Int8/16/32/64 1/2/4/8 bytes; Extended 10; Double, Date, Currency 8;
//     Single 4; String length byte + bytes; LString, Utf8String, Binary
//     u32 byte count + bytes; WString u32 count of UTF-16 units + units;
//     Ident short; False/True/Nil/Null nothing; Set shorts ended by an empty
//     one; List values ended by 00; Collection items ended by 00, each item
//     an optional Int8/16/32 index, tag List, property*, 00.
//
// Binary form file: a 16-bit resource header, then the stream:
//   FF 0A 00 (type RCDATA), name (upper-case class name, NUL-terminated; or
//   FF and a 16-bit ordinal), u16 flags (0x1030), u32 size of the stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FormObject.h"
#include "FormSink.h"

namespace trd::form {

enum class ResourceHeader { Without, With };

inline constexpr std::string_view kStreamSignature = "TPF0";

// Reads the component stream at the start of `bytes` and replays it to
// `sink`. Returns the number of bytes used (signature included); bytes after
// the root object's end are not looked at. Every read is bounds-checked,
// nesting deeper than kMaxNesting is refused, and so are names that form
// text cannot hold (class, object and property names, identifiers and set
// elements must be words of letters, digits, "_" and "."; bytes that are not
// UTF-8 are read as Windows-1252): such a stream is damaged. Errors are FormatError
// "<file_name>: offset N: <what>", N counted from the start of `bytes` plus
// `base_offset` (so a caller reading a stream inside a larger file reports
// file offsets).
std::size_t ReadComponentStream(std::string_view bytes, FormSink& sink, std::string_view file_name,
                                std::size_t base_offset = 0);
// The same, building the object tree; `consumed` receives the bytes used.
FormObject ReadComponentStream(std::string_view bytes, std::string_view file_name,
                               std::size_t base_offset = 0, std::size_t* consumed = nullptr);

// Depth limit of objects, lists and collections together.
inline constexpr int kMaxNesting = 256;

// Where the component stream of a binary form file lies.
struct StreamExtent {
  std::size_t offset = 0;
  std::size_t size = 0;
};
// A file starting with "TPF0" is a bare stream (the whole file); one starting
// with FF 0A 00 has a resource header whose size field must fit the file.
// Anything else is a FormatError.
StreamExtent LocateComponentStream(std::string_view bytes, std::string_view file_name);
// True when the bytes start like a binary form file (FF 0A 00 or "TPF0").
bool LooksBinary(std::string_view bytes);

}  // namespace trd::form
