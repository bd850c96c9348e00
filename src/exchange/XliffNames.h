// The names XLIFF files are written and read with: one home for both sides.
#pragma once

namespace trd::exchange::xliff {

inline constexpr char kNamespace[] = "urn:oasis:names:tc:xliff:document:1.2";
inline constexpr char kVersion[] = "1.2";
inline constexpr char kKeyContextType[] = "x-trd-key";
inline constexpr char kKeyGroupPurpose[] = "location";

inline constexpr char kStateTranslated[] = "translated";
inline constexpr char kStateNeedsReview[] = "needs-review-translation";
inline constexpr char kStateNeedsTranslation[] = "needs-translation";

}  // namespace trd::exchange::xliff
