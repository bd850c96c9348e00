// Text model: text is Unicode held as UTF-8. A "character" is a code point.
// Case folding and case-insensitive comparison touch only ASCII a-z; trimming
// removes code points 0..32 at both ends.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace trd::text {

// Upper-cases ASCII a-z only; every other byte is kept.
std::string UpperAscii(std::string_view s);
// Equality ignoring the case of ASCII letters only.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
// Three-way comparison ignoring ASCII case (for sorted lists).
int CompareIgnoreCase(std::string_view a, std::string_view b);
bool StartsWithIgnoreCase(std::string_view s, std::string_view prefix);

// Removes code points 0..32 at both ends.
std::string_view Trim(std::string_view s);
// Removes trailing blanks (code 32) only.
std::string_view TrimTrailingBlanks(std::string_view s);

// Number of code points of a UTF-8 text (malformed bytes count one each).
std::size_t Length(std::string_view s);
// The first n code points; never splits one.
std::string_view Left(std::string_view s, std::size_t n);

// Appends the UTF-8 encoding of a code point (invalid ones become U+FFFD).
void AppendUtf8(std::string& out, char32_t cp);
// True when the bytes are well-formed UTF-8.
bool IsValidUtf8(std::string_view s);
// Decodes one code point at s[i], advancing i; malformed bytes yield U+FFFD
// and advance by one.
char32_t DecodeUtf8(std::string_view s, std::size_t& i);

// Windows-1252, the 8-bit encoding of form files and of file names that are
// not UTF-8. Its five undefined bytes (81, 8D, 8F, 90, 9D) stand for the C1
// control of the same number, so every byte string reads and writes back
// unchanged.
// Appends the UTF-8 form of Windows-1252 bytes.
void AppendCp1252AsUtf8(std::string& out, std::string_view bytes);
// Appends the Windows-1252 bytes of UTF-8 text. Returns false (leaving `out`
// partly written) when a character has no Windows-1252 byte.
bool AppendUtf8AsCp1252(std::string& out, std::string_view utf8);
// Bytes of unknown encoding as text: kept when they are well-formed UTF-8,
// otherwise read as Windows-1252. Form texts without a byte order mark and
// file names are taken this way.
std::string DecodeUtf8OrCp1252(std::string_view bytes);
// A file-system path (or one name) as text: each component between "/" taken
// by DecodeUtf8OrCp1252 on its own, since one path may join a UTF-8 directory
// and a Latin-1 file name. For program codes and messages only: a file is
// opened by its path's bytes as they are.
std::string PathText(std::string_view path);

}  // namespace trd::text
