#include "platform/Text.h"

#include <gtest/gtest.h>

namespace trd::text {
namespace {

// a (1 byte), é (2), € (3), 😀 (4)
const std::string kMixed = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";

TEST(TextLength, CutsNeverSplitACodePoint) {
  EXPECT_EQ(Length(kMixed), 4u);
  EXPECT_EQ(Left(kMixed, 0), "");
  EXPECT_EQ(Left(kMixed, 1), "a");
  EXPECT_EQ(Left(kMixed, 2), "a\xC3\xA9");
  EXPECT_EQ(Left(kMixed, 3), "a\xC3\xA9\xE2\x82\xAC");
  EXPECT_EQ(Left(kMixed, 4), kMixed);
  EXPECT_EQ(Left(kMixed, 99), kMixed);

  // Malformed bytes count one each; a sequence cut off at the end is not
  // swallowed as a whole.
  EXPECT_EQ(Length("\xFF\xFE"), 2u);
  EXPECT_EQ(Length("a\xE2\x82"), 3u);
  EXPECT_EQ(Left("a\xE2\x82", 2), "a\xE2");
  EXPECT_EQ(Length(std::string(4001, 'x')), 4001u);
}

TEST(TextTrim, RemovesCodesZeroToThirtyTwoOnly) {
  std::string s = std::string("\0\x01\t\n\r ", 6) + "a b" + "\x1F \x20";
  EXPECT_EQ(Trim(s), "a b");
  EXPECT_EQ(Trim("\x7F" "a" "\x7F"), "\x7F" "a" "\x7F");
  EXPECT_EQ(Trim("\xC2\xA0" "a"), "\xC2\xA0" "a");  // no-break space is not trimmed
  EXPECT_EQ(Trim("   "), "");
  EXPECT_EQ(TrimTrailingBlanks("a \t  "), "a \t");
  EXPECT_EQ(TrimTrailingBlanks(" a"), " a");
}

TEST(TextCase, FoldsOnlyAsciiLetters) {
  EXPECT_EQ(UpperAscii("az\xC3\xA9{`@"), "AZ\xC3\xA9{`@");
  EXPECT_TRUE(EqualsIgnoreCase("Caption", "CAPTION"));
  EXPECT_FALSE(EqualsIgnoreCase("\xC3\xA9", "\xC3\x89"));  // é, É
  EXPECT_FALSE(EqualsIgnoreCase("a", "ab"));
  EXPECT_FALSE(EqualsIgnoreCase("@", "`"));  // one apart from each other like A/a, yet not letters
  EXPECT_EQ(CompareIgnoreCase("abc", "ABD"), -1);
  EXPECT_EQ(CompareIgnoreCase("ABC", "abc"), 0);
  EXPECT_EQ(CompareIgnoreCase("ab", "ABC"), -1);
  EXPECT_EQ(CompareIgnoreCase("b", "\xC3\xA9"), -1);  // bytes above 127 sort last
  EXPECT_EQ(CompareIgnoreCase("_", "a"), 1);  // '_' (95) after 'A' (65)
  EXPECT_TRUE(StartsWithIgnoreCase("Lines.Strings", "LINES."));
  EXPECT_FALSE(StartsWithIgnoreCase("Li", "LINES"));
}

TEST(TextEncoding, Windows1252ReadsAsUtf8AndWritesBack) {
  auto from = [](std::string_view bytes) {
    std::string out;
    AppendCp1252AsUtf8(out, bytes);
    return out;
  };
  EXPECT_EQ(from("\x80"), "\xE2\x82\xAC");
  EXPECT_EQ(from("\xE9"), "\xC3\xA9");
  EXPECT_EQ(from("\x81"), "\xC2\x81");  // undefined: the C1 control of that number
  EXPECT_EQ(from("\x9F\xA0\xFF"), "\xC5\xB8\xC2\xA0\xC3\xBF");
  EXPECT_EQ(from(std::string("a\0b", 3)), std::string("a\0b", 3));

  std::string every;
  for (int b = 0; b < 256; ++b) every += char(b);
  std::string back;
  EXPECT_TRUE(AppendUtf8AsCp1252(back, from(every)));
  EXPECT_EQ(back, every);  // every byte string survives the round trip
  back.clear();
  EXPECT_FALSE(AppendUtf8AsCp1252(back, "\xE2\x80\x8B"));  // U+200B has no Windows-1252 byte

  // File names: each component of a path on its own.
  EXPECT_EQ(PathText("Rela\xC3\xA7\xC3\xB5" "es/A\xE7\xE3o.dfm"), "Rela\xC3\xA7\xC3\xB5" "es/A\xC3\xA7\xC3\xA3o.dfm");
}

TEST(TextEncoding, Utf8ValidityAndDecoding) {
  EXPECT_TRUE(IsValidUtf8(""));
  EXPECT_TRUE(IsValidUtf8(kMixed));
  EXPECT_TRUE(IsValidUtf8("\xEF\xBF\xBD"));  // a real U+FFFD
  EXPECT_TRUE(IsValidUtf8("\xF4\x8F\xBF\xBF"));
  for (const char* bad : {"\x80", "\xC0\x80", "\xE0\x80\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                          "\xF5\x80\x80\x80", "\xC3", "a\xE2\x82", "\xC3\x28", "\xFF"}) {
    EXPECT_FALSE(IsValidUtf8(bad)) << ::testing::PrintToString(std::string(bad));
  }

  std::string s = "\xE2\x82";  // cut off
  std::size_t i = 0;
  EXPECT_EQ(DecodeUtf8(s, i), U'\xFFFD');
  EXPECT_EQ(i, 1u);
  i = 1;
  EXPECT_EQ(DecodeUtf8(kMixed, i), U'\xE9');
  EXPECT_EQ(i, 3u);

  std::string out;
  for (char32_t cp : {U'\x41', U'\x7FF', U'\x800', U'\xFFFF', U'\x10000', U'\x10FFFF'}) AppendUtf8(out, cp);
  EXPECT_EQ(out, "A\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF");
  out.clear();
  AppendUtf8(out, 0xD800);
  AppendUtf8(out, 0x110000);
  EXPECT_EQ(out, "\xEF\xBF\xBD\xEF\xBF\xBD");
}

}  // namespace
}  // namespace trd::text
