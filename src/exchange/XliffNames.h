// The names XLIFF files are written and read with: one home for both sides.
#pragma once

namespace trd::exchange::xliff {

inline constexpr char kNamespace[] = "urn:oasis:names:tc:xliff:document:1.2";
inline constexpr char kVersion[] = "1.2";
// XLIFF 1.1, as converters still write it (a PO file turned into XLIFF):
// read like 1.2, whose vocabulary it shares for what these files carry.
inline constexpr char kNamespace11[] = "urn:oasis:names:tc:xliff:document:1.1";
inline constexpr char kVersion11[] = "1.1";
// A converted PO file's header entry, as a trans-unit of this restype: its
// text is the PO header (with "Language: xx"), not a text to translate.
inline constexpr char kPoHeaderRestype[] = "x-gettext-domain-header";
// The location a converted PO file's references keep ("#: FILE"), which for
// a file this system wrote are key texts.
inline constexpr char kSourceFileContextType[] = "sourcefile";
inline constexpr char kKeyContextType[] = "x-trd-key";
inline constexpr char kKeyGroupPurpose[] = "location";

// The origin of an <alt-trans>: a translation records of the text hold, or
// a suggestion from the translation memory.
inline constexpr char kOriginRecords[] = "trd-records";
inline constexpr char kOriginMemory[] = "trd-memory";

inline constexpr char kStateTranslated[] = "translated";
inline constexpr char kStateSignedOff[] = "signed-off";  // a translation a reviewer approved
inline constexpr char kStateNeedsReview[] = "needs-review-translation";
inline constexpr char kStateNeedsTranslation[] = "needs-translation";

}  // namespace trd::exchange::xliff
