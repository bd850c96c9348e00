#include <gtest/gtest.h>

#include <limits>

#include <string>
#include <vector>

#include "authoring/FormBinaryWrite.h"
#include "formfile/FormStream.h"
#include "platform/Errors.h"

namespace trd::form {
namespace {

std::vector<std::string> Lines(std::string_view text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    out.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

std::vector<std::string> Convert(std::string_view text) {
  return ObjectResourceToText(text, "test.dfm");
}

// Canonical form text holding every construct; "Name = " before a split
// string keeps its trailing blank.
constexpr std::string_view kCanonical =
    "object Form1: TForm1\n"
    "  Left = -8\n"
    "  Tag = 100000\n"
    "  Big = 5000000000\n"
    "  Caption = 'Don'#39't'#13#10'stop'\n"
    "  Hint = 'Configurações €'\n"
    "  Empty = ''\n"
    "  Ratio = 0.549548981478437800\n"
    "  Scale = -1.500000000000000000\n"
    "  Weight = 0.100000001490116s\n"
    "  Price = 15000c\n"
    "  When = 40897.9232695602d\n"
    "  Color = clBtnFace\n"
    "  Visible = False\n"
    "  Enabled = True\n"
    "  Source = nil\n"
    "  Value = Null\n"
    "  Anchors = [akLeft, akTop]\n"
    "  Style = []\n"
    "  DataSource = DataModule1.DataSource1\n"
    "  Items.Strings = (\n"
    "    'one'\n"
    "    ''\n"
    "    '⏷'\n"
    "    \n"
    "      'Verify CA and host name identity (may fail with self-signed cert' +\n"
    "      's and wildcard cn)')\n"
    "  DesignSize = (\n"
    "    185\n"
    "    41)\n"
    "  Nested = (\n"
    "    (\n"
    "      1\n"
    "      'a')\n"
    "    ())\n"
    "  Data = {0A0B}\n"
    "  Picture.Data = {\n"
    "    000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F\n"
    "    20FF}\n"
    "  Columns = <\n"
    "    item\n"
    "      Caption = 'A'\n"
    "      Strings = (\n"
    "        'x')\n"
    "    end\n"
    "    item [3]\n"
    "      Widths = <>\n"
    "    end>\n"
    "  Panels = <>\n"
    "  LongText = \n"
    "    '0123456789012345678901234567890123456789012345678901234567890123' +\n"
    "    '4'\n"
    "  object TPage\n"
    "    Caption = 'Default'\n"
    "  end\n"
    "  inherited Label1: TLabel [2]\n"
    "    Caption = 'Label1'\n"
    "  end\n"
    "  inline Frame1: TFrame1\n"
    "  end\n"
    "end\n";

TEST(FormText, CanonicalTextComesBackLineForLineThroughTreeAndBinary) {
  std::vector<std::string> expected = Lines(kCanonical);
  EXPECT_EQ(Convert(kCanonical), expected);
  EXPECT_EQ(FormToText(ParseFormText(kCanonical, "t")), expected);
  for (ResourceHeader h : {ResourceHeader::With, ResourceHeader::Without}) {
    std::string binary = FormTextToBinary(kCanonical, h, "test.dfm");
    EXPECT_EQ(ObjectResourceToText(binary, "test.dfm"), expected);
  }
}

// One buffer for many files: each result equals a fresh conversion, also
// after a longer file, a shorter one and a failure.
TEST(FormText, ReusedBufferGivesTheSameLinesAsFreshConversions) {
  const std::string small = "object S: TS\n  Caption = 'x'\nend\n";
  const std::string binary = FormTextToBinary(kCanonical, ResourceHeader::With, "t");
  FormTextBuffer buffer;
  EXPECT_EQ(ObjectResourceToText(binary, "b", buffer), Convert(kCanonical));
  EXPECT_EQ(ObjectResourceToText(small, "s", buffer), Convert(small));
  EXPECT_THROW(ObjectResourceToText(binary.substr(0, binary.size() / 2), "b", buffer),
               FormatError);
  EXPECT_EQ(ObjectResourceToText(kCanonical, "c", buffer), Convert(kCanonical));
  EXPECT_EQ(ObjectResourceToText(small, "s", buffer), Convert(small));
  EXPECT_EQ(buffer.lines().size(), 3u);
}

TEST(FormText, ParsedTreeHoldsDecodedTypedValues) {
  FormObject form = ParseFormText(kCanonical, "t");
  auto value = [&](std::string_view name) -> const Value& {
    const Property* p = form.Find(name);
    EXPECT_NE(p, nullptr) << name;
    static const Value kNone;
    return p ? p->value : kNone;
  };
  EXPECT_EQ(value("Left"), Value::Integer(-8));
  EXPECT_EQ(value("Left").kind, ValueKind::Int8);
  EXPECT_EQ(value("Tag").kind, ValueKind::Int32);
  EXPECT_EQ(value("Big").kind, ValueKind::Int64);
  EXPECT_EQ(value("Caption"), Value::Str("Don't\r\nstop"));
  EXPECT_EQ(value("Hint").text, "Configurações €");
  EXPECT_EQ(value("Hint").kind, ValueKind::WString);
  EXPECT_EQ(value("Price"), Value::Currency(15000));
  EXPECT_EQ(value("Weight").kind, ValueKind::Single);
  EXPECT_EQ(value("Weight").real, static_cast<long double>(0.1f));
  EXPECT_EQ(value("When").kind, ValueKind::Date);
  EXPECT_EQ(value("Value").kind, ValueKind::Null);
  EXPECT_EQ(value("DataSource"), Value::Identifier("DataModule1.DataSource1"));
  EXPECT_EQ(value("Anchors"), Value::SetOf({"akLeft", "akTop"}));
  EXPECT_EQ(value("Data"), Value::Bytes("\x0A\x0B"));
  const Value& items = value("Items.Strings");
  ASSERT_EQ(items.list.size(), 4u);
  EXPECT_EQ(items.list[2].text, "\u23F7");
  EXPECT_EQ(items.list[3].text,
            "Verify CA and host name identity (may fail with self-signed certs and wildcard cn)");
  const Value& columns = value("Columns");
  ASSERT_EQ(columns.items.size(), 2u);
  EXPECT_FALSE(columns.items[0].index.has_value());
  EXPECT_EQ(columns.items[1].index, (ItemIndex{ValueKind::Int8, 3}));
  ASSERT_EQ(form.children.size(), 3u);
  EXPECT_EQ(form.children[0].name, "");
  EXPECT_EQ(form.children[0].class_name, "TPage");
  EXPECT_EQ(form.children[1].kind, ObjectKind::Inherited);
  EXPECT_EQ(form.children[1].position, 2);
  EXPECT_EQ(form.children[2].kind, ObjectKind::Inline);
}

// Layout found in real files: values split over lines, codes outside quotes
// only, values starting with a code, blank lines, case of keywords.
TEST(FormText, ReadsRealWorldLayout) {
  constexpr std::string_view kMessy =
      "OBJECT F: TF\r\n"
      "  Caption =\r\n"
      "    'primeira ' +\r\n"
      "    'parte'\r\n"
      "      \r\n"
      "  Hint = #39\r\n"
      "  Mask = '###,##0.00'\r\n"
      "  Cmd = '#027,v,#140 | x'\r\n"
      "  Code = 'x'#13#10'y' + #$41'B'\r\n"
      "  Pair = #55357#56832\r\n"
      "  Split = 'a'#55357 +\r\n"
      "    #56832'b'\r\n"
      "  Visible = false\r\n"
      "  Lines.Strings = (\r\n"
      "    'a'\r\n"
      "          \r\n"
      "      'b' +\r\n"
      "      'c')\r\n"
      "  Columns = <\r\n"
      "    ITEM\r\n"
      "    END>\r\n"
      "  Hex = $FF\r\n"
      "End";
  FormObject f = ParseFormText(kMessy, "t");
  EXPECT_EQ(f.Find("Caption")->value.text, "primeira parte");
  EXPECT_EQ(f.Find("Hint")->value.text, "'");
  EXPECT_EQ(f.Find("Mask")->value.text, "###,##0.00");
  EXPECT_EQ(f.Find("Cmd")->value.text, "#027,v,#140 | x");
  EXPECT_EQ(f.Find("Code")->value.text, "x\r\nyAB");
  EXPECT_EQ(f.Find("Pair")->value.text, "\U0001F600");
  EXPECT_EQ(f.Find("Split")->value.text, "a\U0001F600b");
  EXPECT_EQ(f.Find("Visible")->value.kind, ValueKind::False);
  EXPECT_EQ(f.Find("Lines.Strings")->value, Value::ListOf({Value::Str("a"), Value::Str("bc")}));
  EXPECT_EQ(f.Find("Columns")->value.items.size(), 1u);
  EXPECT_EQ(f.Find("Hex")->value, Value::Integer(255));

  std::vector<std::string> lines = Convert(kMessy);
  EXPECT_EQ(lines[1], "  Caption = 'primeira parte'");
  EXPECT_EQ(lines[2], "  Hint = #39");
  EXPECT_EQ(lines[5], "  Code = 'x'#13#10'yAB'");
  EXPECT_EQ(lines[6], "  Pair = '\U0001F600'");
  EXPECT_EQ(lines[8], "  Visible = False");
  EXPECT_EQ(lines.back(), "end");
}

TEST(FormText, StringsAreCutIntoPiecesOfSixtyFourCharacters) {
  auto text_of = [](const std::string& s) {
    FormObject o;
    o.class_name = "T";
    o.properties.push_back({"S", Value::Str(s)});
    std::vector<std::string> lines = FormToText(o);
    return std::vector<std::string>(lines.begin() + 1, lines.end() - 1);
  };
  using V = std::vector<std::string>;
  std::string a64(64, 'a');
  EXPECT_EQ(text_of(a64), V{"  S = '" + a64 + "'"});
  EXPECT_EQ(text_of(a64 + "b"), (V{"  S = ", "    '" + a64 + "' +", "    'b'"}));
  // A code is one character; a line may end after a code.
  EXPECT_EQ(text_of(std::string(63, 'a') + "\r" + std::string(3, 'b')),
            (V{"  S = ", "    '" + std::string(63, 'a') + "'#13 +", "    'bbb'"}));
  EXPECT_EQ(text_of(std::string(62, 'a') + "'" + "xy"),
            (V{"  S = ", "    '" + std::string(62, 'a') + "'#39'x' +", "    'y'"}));
  // Non-ASCII characters are written raw and count one each.
  std::string e64;
  for (int i = 0; i < 64; ++i) e64 += "é";
  EXPECT_EQ(text_of(e64), V{"  S = '" + e64 + "'"});
  EXPECT_EQ(text_of(e64 + "ç"), (V{"  S = ", "    '" + e64 + "' +", "    'ç'"}));
  // Control characters, the apostrophe and DEL.
  EXPECT_EQ(text_of(std::string("\0\x01\x1F'\x7F", 5)), V{"  S = #0#1#31#39'\x7F'"});
  // 128 characters: two full pieces and no empty third.
  std::string a128(128, 'a');
  EXPECT_EQ(text_of(a128), (V{"  S = ", "    '" + a64 + "' +", "    '" + a64 + "'"}));
}

TEST(FormText, BinaryDataIsWrittenInLinesOfThirtyTwoBytes) {
  FormObject o;
  o.class_name = "T";
  o.properties.push_back({"Empty", Value::Bytes("")});
  o.properties.push_back({"Short", Value::Bytes(std::string(31, '\xAB'))});
  o.properties.push_back({"Exact", Value::Bytes(std::string(32, '\x01'))});
  std::vector<std::string> lines = FormToText(o);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[1], "  Empty = {}");
  std::string ab, ones;
  for (int i = 0; i < 31; ++i) ab += "AB";
  for (int i = 0; i < 32; ++i) ones += "01";
  EXPECT_EQ(lines[2], "  Short = {" + ab + "}");
  EXPECT_EQ(lines[3], "  Exact = {");
  EXPECT_EQ(lines[4], "    " + ones + "}");
}

TEST(FormText, NumbersAreWrittenLikeTheClassicWriter) {
  auto fixed = [](long double v) {
    std::string s;
    AppendFixedReal(s, v);
    return s;
  };
  auto general = [](long double v) {
    std::string s;
    AppendGeneralReal(s, v);
    return s;
  };
  EXPECT_EQ(fixed(90), "90.000000000000000000");
  EXPECT_EQ(fixed(0), "0.000000000000000000");
  EXPECT_EQ(fixed(40897.92326956018L), "40897.923269560180000000");
  EXPECT_EQ(fixed(0.4f), "0.400000005960464500");
  EXPECT_EQ(fixed(-0.001L), "-0.001000000000000000");
  EXPECT_EQ(fixed(1.5e-10L), "0.000000000150000000");
  EXPECT_EQ(fixed(1234567890123456.7L), "1234567890123457.000000000000000000");
  EXPECT_EQ(fixed(1e20L), "1E20");
  EXPECT_EQ(general(0.1f), "0.100000001490116");
  EXPECT_EQ(general(40897.9232695602L), "40897.9232695602");
  EXPECT_EQ(general(15000), "15000");
  EXPECT_EQ(general(0.0001L), "0.0001");
  EXPECT_EQ(general(0.00001L), "1E-5");
  EXPECT_EQ(general(-2.5e-7L), "-2.5E-7");
  EXPECT_EQ(general(999999999999999.0L), "999999999999999");
  EXPECT_EQ(general(1e15L), "1E15");
  EXPECT_EQ(general(0), "0");
}

// Currency shows 15 significant digits, so the ends of its 64-bit range are
// written a little beyond them; reading that text gives the ends back, and
// the text is a fixed point. Found by fuzzing: the text of a binary file
// holding the smallest currency could not be read back.
TEST(FormText, CurrencyAtTheEndsOfItsRangeComesBack) {
  for (std::int64_t v : {std::numeric_limits<std::int64_t>::min(),
                         std::numeric_limits<std::int64_t>::max()}) {
    FormObject f;
    f.class_name = "TF";
    f.properties.push_back(Property{"Price", Value::Currency(v)});
    const std::vector<std::string> text = FormToText(f);
    ASSERT_EQ(text.size(), 3u);
    EXPECT_EQ(text[1], v < 0 ? "  Price = -9.22337203685478E18c" : "  Price = 9.22337203685478E18c");
    std::string joined;
    for (const auto& l : text) joined += l + "\n";
    EXPECT_EQ(ReadForm(joined, "t").Find("Price")->value, Value::Currency(v));
  }
  EXPECT_THROW(Convert("object F: TF\n  Price = 9.22337203685479E18c\nend"), FormatError);
  EXPECT_THROW(Convert("object F: TF\n  Price = -9.2233720368548E18c\nend"), FormatError);
}

TEST(FormText, DecodesTheFileEncodings) {
  const std::string body = "object F: TF\n  Caption = 'Ação €'\nend\n";
  const std::string want = "  Caption = 'Ação €'";
  EXPECT_EQ(Convert(body)[1], want);                   // UTF-8
  EXPECT_EQ(Convert("\xEF\xBB\xBF" + body)[1], want);  // UTF-8 with BOM
  std::string cp1252 = "object F: TF\n  Caption = 'A\xE7\xE3o \x80'\nend\n";
  EXPECT_EQ(Convert(cp1252)[1], want);  // not UTF-8: Windows-1252
  std::string le = "\xFF\xFE", be = "\xFE\xFF";
  for (char16_t u : u"object F: TF\n  Caption = 'Ação €'\nend\n") {
    if (u == 0) break;
    le += static_cast<char>(u & 0xFF);
    le += static_cast<char>(u >> 8);
    be += static_cast<char>(u >> 8);
    be += static_cast<char>(u & 0xFF);
  }
  EXPECT_EQ(Convert(le)[1], want);
  EXPECT_EQ(Convert(be)[1], want);
  EXPECT_THROW(Convert(le + "x"), FormatError);  // odd byte count
}

TEST(FormText, MalformedTextFailsNamingTheLine) {
  struct Case {
    std::string text;
    std::string message;  // expected start of the message
  };
  const std::vector<Case> cases = {
      {"", "test.dfm: line 1: object, inherited or inline expected"},
      {"object F: TF\n  Caption = 'abc\nend\n", "test.dfm: line 2: unterminated string"},
      {"object F: TF\n  Left = 1\n", "test.dfm: line 1: object F has no end"},
      {"object F: TF\n  object B: TB\n  end\n  Left = 1\nend", "test.dfm: line 4: property after"},
      {"object F: TF\n  Data = {0A0\n  }\nend", "test.dfm: line 3: odd number of hex digits"},
      {"object F: TF\n  Data = {0G}\nend", "test.dfm: line 2: invalid character in binary"},
      {"object F: TF\n  Data = {0A0B\n", "test.dfm: line 2: binary data not closed"},
      {"object F: TF\n  Left 1\nend", "test.dfm: line 2: = expected"},
      {"object F: TF\n  Left = 1.2.3\nend", "test.dfm: line 2: invalid number"},
      {"object F: TF\n  Left = 99999999999999999999\nend",
       "test.dfm: line 2: integer out of range"},
      {"object F: TF\n  Caption = 'a' +\n  Left = 1\nend",
       "test.dfm: line 3: string expected after +"},
      {"object F: TF\n  Items = (\n    Null)\nend",
       "test.dfm: line 3: Null cannot be a list element"},
      {"object F: TF\n  Items = (\n    'a'\nend", "test.dfm: line 2: list not closed"},
      {"object F: TF\n  Cols = <\n    item\n    end\n", "test.dfm: line 2: collection not closed"},
      {"object F: TF\n  Cols = <\n    item\n  end\nend\n", "test.dfm: line 5: item or > expected"},
      {"object F: TF\n  Cols = <\n    Caption = 'x'>\nend", "test.dfm: line 3: item or > expected"},
      {"object F: TF\n  S = [a b]\nend", "test.dfm: line 2: , or ] expected"},
      {"object F: TF\n  Caption = #\nend", "test.dfm: line 2: character code expected"},
      {"object F: TF\n  Caption = #1114112\nend", "test.dfm: line 2: character code out of range"},
      {"object F: TF\n  Left = ;\nend", "test.dfm: line 2: value expected"},
      {"object F: TF\nend\nobject G: TG\nend", "test.dfm: line 3: text after the end"},
      {"object F: TF [x]\nend", "test.dfm: line 1: child position expected"},
      {"object : TF\nend", "test.dfm: line 1: class name expected"},
  };
  for (const Case& c : cases) {
    try {
      Convert(c.text);
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const FormatError& e) {
      EXPECT_EQ(std::string(e.what()).substr(0, c.message.size()), c.message) << c.text;
    }
  }
}

TEST(FormText, DeepNestingIsRefusedNotOverflowed) {
  std::string text = "object F: TF\n  L = ";
  text += std::string(100000, '(');
  EXPECT_THROW(Convert(text), FormatError);
  std::string objects;
  for (int i = 0; i < 100000; ++i) objects += "object A: TA\n";
  EXPECT_THROW(Convert(objects), FormatError);
}

TEST(FormText, NamesLongerThanTheBinaryFormatAllowsAreRefused) {
  const std::string n255(255, 'N'), n256(256, 'N');
  EXPECT_EQ(Convert("object F: TF\n  " + n255 + " = " + n255 + "\nend")[1],
            "  " + n255 + " = " + n255);
  for (const std::string& text :
       {"object F: TF\n  " + n256 + " = 1\nend", "object F: TF\n  P = " + n256 + "\nend",
        "object F: " + n256 + "\nend", "object F: TF\n  S = [" + n256 + "]\nend"}) {
    EXPECT_THROW(Convert(text), FormatError);
  }
  // A class name's length byte must stay below F0, the object prefix (found
  // by fuzzing: a 240-byte class name was written, then read as a prefix).
  const std::string c239(239, 'C'), c240(240, 'C');
  EXPECT_EQ(Convert(FormTextToBinary("object F: " + c239 + "\nend", ResourceHeader::With, "t"))[0],
            "object F: " + c239);
  EXPECT_THROW(FormTextToBinary("object F: " + c240 + "\nend", ResourceHeader::With, "t"),
               FormatError);
  EXPECT_THROW(FormTextToBinary("object F: TF\n  inherited " + c240 + "\n  end\nend",
                                ResourceHeader::Without, "t"),
               FormatError);
}

}  // namespace
}  // namespace trd::form
