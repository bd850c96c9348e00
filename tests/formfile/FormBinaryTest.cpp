#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <string>
#include <vector>

#include "authoring/FormBinaryWrite.h"
#include "formfile/FormStream.h"
#include "platform/Errors.h"

namespace trd::form {
namespace {

std::string Bytes(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s += static_cast<char>(b);
  return s;
}
std::string Short(std::string_view s) { return static_cast<char>(s.size()) + std::string(s); }
std::string Prop(std::string_view name, const std::string& value) { return Short(name) + value; }

// A stream with every value kind, written byte by byte.
std::string HandAssembledStream() {
  std::string s = "TPF0" + Short("TForm1") + Short("Form1");
  s += Prop("Caption", Bytes({6, 3, 'O', 'l', 0xE1}));
  s += Prop("W", Bytes({18, 3, 0, 0, 0, 'A', 0, 0x3D, 0xD8, 0x00, 0xDE}));
  s += Prop("U", Bytes({20, 3, 0, 0, 0, 0xC3, 0xA9, 'x'}));
  s += Prop("LS", Bytes({12, 2, 0, 0, 0, 'h', 'i'}));
  s += Prop("I8", Bytes({2, 0x80}));
  s += Prop("I16", Bytes({3, 0xFE, 0xFF}));
  s += Prop("I32", Bytes({4, 0xA0, 0x86, 0x01, 0x00}));
  s += Prop("I64", Bytes({19, 0, 0xF2, 0x05, 0x2A, 0x01, 0, 0, 0}));
  s += Prop("E", Bytes({5, 0, 0, 0, 0, 0, 0, 0, 0xC0, 0xFF, 0x3F}));
  s += Prop("D", Bytes({21, 0, 0, 0, 0, 0, 0, 0, 0x40}));
  s += Prop("S", Bytes({15, 0, 0, 0, 0x3F}));
  s += Prop("Dt", Bytes({17, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F}));
  s += Prop("Cur", Bytes({16, 0x98, 0x3A, 0, 0, 0, 0, 0, 0}));
  s += Prop("Id", Bytes({7}) + Short("clRed"));
  s += Prop("F", Bytes({8})) + Prop("T", Bytes({9})) + Prop("Nl", Bytes({13})) +
       Prop("Nu", Bytes({0}));
  s += Prop("Set", Bytes({11}) + Short("akTop") + Short("akLeft") + Bytes({0}));
  s += Prop("Bin", Bytes({10, 2, 0, 0, 0, 0xAA, 0xBB}));
  s += Prop("L", Bytes({1, 2, 5, 1, 2, 6}) + Bytes({0, 0}));
  s += Prop("C", Bytes({14, 2, 7, 1}) + Prop("N", Bytes({8})) + Bytes({0, 1, 0, 0}));
  s += Bytes({0});  // end of properties
  s += Bytes({0xF3, 2, 2}) + Short("TLabel") + Short("Label1") + Bytes({0, 0});
  s += Bytes({0xF4}) + Short("TFrame") + Short("F1") + Bytes({0, 0});
  s += Short("TPage") + Short("") + Bytes({0, 0});
  s += Bytes({0});  // end of children
  return s;
}

TEST(FormBinary, ReadsEveryValueKindAndWritesTheSameBytes) {
  const std::string stream = HandAssembledStream();
  std::size_t used = 0;
  FormObject f = ReadComponentStream(stream + "trailing", "t.dfm", 0, &used);
  EXPECT_EQ(used, stream.size());
  EXPECT_EQ(f.class_name, "TForm1");
  EXPECT_EQ(f.name, "Form1");
  auto v = [&](std::string_view n) { return f.Find(n)->value; };
  EXPECT_EQ(v("Caption"), Value::Str(ValueKind::String, "Olá"));
  EXPECT_EQ(v("W"), Value::Str(ValueKind::WString, "A\U0001F600"));
  EXPECT_EQ(v("U"), Value::Str(ValueKind::Utf8String, "éx"));
  EXPECT_EQ(v("LS"), Value::Str(ValueKind::LString, "hi"));
  EXPECT_EQ(v("I8"), Value::Integer(-128));
  EXPECT_EQ(v("I16").kind, ValueKind::Int16);
  EXPECT_EQ(v("I16").integer, -2);
  EXPECT_EQ(v("I32").integer, 100000);
  EXPECT_EQ(v("I64"), Value::Integer(5000000000));
  EXPECT_EQ(v("E"), Value::Real(ValueKind::Extended, 1.5L));
  EXPECT_EQ(v("D"), Value::Real(ValueKind::Double, 2.0L));
  EXPECT_EQ(v("S"), Value::Real(ValueKind::Single, 0.5L));
  EXPECT_EQ(v("Dt"), Value::Real(ValueKind::Date, 1.0L));
  EXPECT_EQ(v("Cur"), Value::Currency(15000));
  EXPECT_EQ(v("Id"), Value::Identifier("clRed"));
  EXPECT_EQ(v("F").kind, ValueKind::False);
  EXPECT_EQ(v("T").kind, ValueKind::True);
  EXPECT_EQ(v("Nl").kind, ValueKind::Nil);
  EXPECT_EQ(v("Nu").kind, ValueKind::Null);
  EXPECT_EQ(v("Set"), Value::SetOf({"akTop", "akLeft"}));
  EXPECT_EQ(v("Bin"), Value::Bytes("\xAA\xBB"));
  EXPECT_EQ(v("L"), Value::ListOf({Value::Integer(5), Value::ListOf({Value::Integer(6)})}));
  ASSERT_EQ(v("C").items.size(), 2u);
  EXPECT_EQ(v("C").items[0].index, (ItemIndex{ValueKind::Int8, 7}));
  EXPECT_EQ(v("C").items[0].properties.at(0).name, "N");
  EXPECT_FALSE(v("C").items[1].index.has_value());
  ASSERT_EQ(f.children.size(), 3u);
  EXPECT_EQ(f.children[0].kind, ObjectKind::Inherited);
  EXPECT_EQ(f.children[0].position, 2);
  EXPECT_EQ(f.children[1].kind, ObjectKind::Inline);
  EXPECT_FALSE(f.children[1].position.has_value());
  EXPECT_EQ(f.children[2].name, "");

  EXPECT_EQ(WriteComponentStream(f), stream);

  std::vector<std::string> text = ObjectResourceToText(stream, "t.dfm");
  EXPECT_EQ(text[0], "object Form1: TForm1");
  EXPECT_EQ(text[1], "  Caption = 'Olá'");
  EXPECT_EQ(text[2], "  W = 'A\U0001F600'");
  EXPECT_EQ(text[9], "  E = 1.500000000000000000");
  EXPECT_EQ(text[11], "  S = 0.5s");
  EXPECT_EQ(text[12], "  Dt = 1d");
  EXPECT_EQ(text[13], "  Cur = 15000c");
  EXPECT_EQ(text[18], "  Nu = Null");
  EXPECT_EQ(text.at(text.size() - 7), "  inherited Label1: TLabel [2]");
  EXPECT_EQ(text.at(text.size() - 5), "  inline F1: TFrame");
  EXPECT_EQ(text.at(text.size() - 3), "  object TPage");
}

TEST(FormBinary, KindsAndExactValuesSurviveTreeRoundTrips) {
  FormObject f;
  f.class_name = "TF";
  auto add = [&](std::string name, Value v) {
    f.properties.push_back({std::move(name), std::move(v)});
  };
  Value small32 = Value::Integer(1);
  small32.kind = ValueKind::Int32;  // wider than needed: kept
  add("I", small32);
  add("X", Value::Real(ValueKind::Extended, 0.1L));
  add("Tiny", Value::Real(ValueKind::Extended, 1e-4940L));
  add("Inf", Value::Real(ValueKind::Extended, -INFINITY));
  add("Dbl", Value::Real(ValueKind::Double, 0.1));
  add("U8", Value::Str(ValueKind::Utf8String, "ç"));
  add("Ls", Value::Str(ValueKind::LString, "short"));
  add("Coll", Value::CollectionOf({CollectionItem{ItemIndex{ValueKind::Int32, 5}, {}}}));
  FormObject child;
  child.kind = ObjectKind::Inline;
  child.class_name = "TC";
  child.position = 70000;
  f.children.push_back(child);

  FormObject back = ReadComponentStream(WriteComponentStream(f), "t");
  EXPECT_EQ(back, f);
  EXPECT_EQ(back.Find("I")->value.kind, ValueKind::Int32);
  EXPECT_EQ(back.Find("Coll")->value.items[0].index->kind, ValueKind::Int32);
}

TEST(FormBinary, WriterWidensKindsThatCannotHoldTheValue) {
  FormObject f;
  f.class_name = "TF";
  Value narrow = Value::Integer(1000);
  narrow.kind = ValueKind::Int8;
  f.properties = {{"N", narrow},
                  {"Euro", Value::Str(ValueKind::String, "€ ÿ")},
                  {"Cyr", Value::Str(ValueKind::String, "Жук")},
                  {"Long", Value::Str(ValueKind::String, std::string(300, 'a'))}};
  FormObject back = ReadComponentStream(WriteComponentStream(f), "t");
  EXPECT_EQ(back.Find("N")->value, Value::Integer(1000));
  EXPECT_EQ(back.Find("Euro")->value, Value::Str(ValueKind::String, "€ ÿ"));
  EXPECT_EQ(back.Find("Cyr")->value, Value::Str(ValueKind::WString, "Жук"));
  EXPECT_EQ(back.Find("Long")->value.kind, ValueKind::LString);

  f.properties = {{"L", Value::ListOf({Value::Keyword(ValueKind::Null)})}};
  EXPECT_THROW(WriteComponentStream(f, "t"), FormatError);
  f.properties = {{"I", Value::Identifier("")}};
  EXPECT_THROW(WriteComponentStream(f, "t"), FormatError);
  f.properties = {{std::string(256, 'P'), Value::Integer(1)}};
  EXPECT_THROW(WriteComponentStream(f, "t"), FormatError);
}

TEST(FormBinary, EightBitStringsAreWindows1252AndRoundTripEveryByte) {
  std::string all;
  for (int b = 0x20; b < 0x100; ++b) all += static_cast<char>(b);
  std::string stream = "TPF0" + Short("TF") + Short("") +
                       Prop("S", Bytes({6, static_cast<int>(all.size())}) + all) + Bytes({0, 0});
  FormObject f = ReadComponentStream(stream, "t");
  const std::string& text = f.Find("S")->value.text;
  // 80 and 82 are letters, 81 is undefined and kept as U+0081.
  EXPECT_NE(text.find("€\u0081‚"), std::string::npos);
  EXPECT_NE(text.find("ÿ"), std::string::npos);
  EXPECT_EQ(WriteComponentStream(f), stream);
}

TEST(FormBinary, ResourceHeaderIsNamedSizedAndChecked) {
  FormObject f;
  f.class_name = "TfrmMain";
  f.name = "frmMain";
  std::string stream = WriteComponentStream(f);
  std::string file = FormToBinary(f, ResourceHeader::With);
  std::string header = Bytes({0xFF, 0x0A, 0x00}) + "TFRMMAIN" + Bytes({0, 0x30, 0x10}) +
                       Bytes({static_cast<int>(stream.size()), 0, 0, 0});
  EXPECT_EQ(file, header + stream);
  StreamExtent at = LocateComponentStream(file, "t");
  EXPECT_EQ(at.offset, header.size());
  EXPECT_EQ(at.size, stream.size());
  EXPECT_EQ(FormToBinary(f, ResourceHeader::Without), stream);
  EXPECT_EQ(ReadForm(file, "t"), f);
  EXPECT_EQ(ReadForm(stream, "t"), f);

  // A resource named by ordinal instead of a string.
  std::string ordinal = Bytes({0xFF, 0x0A, 0x00, 0xFF, 0x01, 0x00, 0x30, 0x10}) +
                        Bytes({static_cast<int>(stream.size()), 0, 0, 0}) + stream;
  EXPECT_EQ(ReadForm(ordinal, "t"), f);

  auto message = [](const std::string& bytes) -> std::string {
    try {
      ObjectResourceToText(bytes, "x.dfm");
    } catch (const FormatError& e) {
      return e.what();
    }
    return "accepted";
  };
  std::string too_big = file;
  too_big[header.size() - 4] = static_cast<char>(stream.size() + 1);
  EXPECT_EQ(message(too_big).substr(0, 32), "x.dfm: offset 14: resource size ");
  EXPECT_EQ(message(Bytes({0xFF, 0x0A, 0x00}) + "TFRM"),
            "x.dfm: offset 3: resource name not terminated");
  EXPECT_EQ(message(Bytes({0xFF, 0x0A, 0x00}) + "T" + Bytes({0, 0x30})),
            "x.dfm: offset 5: truncated resource header");
  EXPECT_EQ(message(Bytes({0xFF, 0x0B, 0x00})).substr(0, 33), "x.dfm: offset 0: not a binary for");
  EXPECT_EQ(message(file.substr(0, header.size()) + "TPF1" + stream.substr(4)),
            "x.dfm: offset 18: component stream signature TPF0 missing");
}

// A small file with every kind, made by the text writer's inverse.
std::string Fixture() {
  return FormTextToBinary(
      "inherited F: TF\n"
      "  S = 'a'#13'ção'\n  I = -300\n  J = 70000\n  K = 5000000000\n  E = 1.5\n"
      "  Sg = 2.5s\n  C = 12c\n  D = 3d\n  Id = alClient\n  B = True\n  N = nil\n  Z = Null\n"
      "  St = [a, b]\n  Bin = {0102}\n  L = (\n    1\n    'x')\n"
      "  Co = <\n    item [1]\n      P = 1\n    end>\n"
      "  object TPage [3]\n  end\nend\n",
      ResourceHeader::With, "fixture");
}

TEST(FormBinary, EveryTruncationOfAFileFailsCleanly) {
  const std::string file = Fixture();
  ASSERT_FALSE(ObjectResourceToText(file, "f").empty());
  for (std::size_t n = 0; n < file.size(); ++n)
    EXPECT_THROW(ObjectResourceToText(file.substr(0, n), "f"), FormatError) << n;
  const std::string stream = file.substr(LocateComponentStream(file, "f").offset);
  for (std::size_t n = 0; n < stream.size(); ++n)
    EXPECT_THROW(ReadComponentStream(stream.substr(0, n), "f"), FormatError) << n;
}

TEST(FormBinary, CorruptedBytesEitherReadOrFailCleanly) {
  const std::string file = Fixture();
  const std::size_t start = LocateComponentStream(file, "f").offset + 4;
  int failures = 0;
  for (std::size_t i = start; i < file.size(); ++i) {
    for (int b : {0x00, 0x01, 0x07, 0x0E, 0x12, 0x7F, 0xF3, 0xFF}) {
      std::string bad = file;
      bad[i] = static_cast<char>(b);
      try {
        ObjectResourceToText(bad, "f");
      } catch (const FormatError& e) {
        ++failures;
        EXPECT_EQ(std::string(e.what()).substr(0, 10), "f: offset ") << i << " " << b;
      }
    }
  }
  EXPECT_GT(failures, 0);
}

TEST(FormBinary, LengthFieldsAreCheckedBeforeUse) {
  std::string head = "TPF0" + Short("TF") + Short("");
  for (int tag : {10, 12, 18, 20}) {  // binary, long string, wide, UTF-8
    std::string s = head + Prop("P", Bytes({tag, 0xFF, 0xFF, 0xFF, 0x7F})) + Bytes({0, 0});
    try {
      ReadComponentStream(s, "f");
      ADD_FAILURE() << tag;
    } catch (const FormatError& e) {
      EXPECT_NE(std::string(e.what()).find("truncated"), std::string::npos) << e.what();
    }
  }
}

// Names that form text could not hold mean the stream is damaged.
TEST(FormBinary, NamesMustBeWords) {
  auto read = [](const std::string& props) {
    ReadComponentStream("TPF0" + Short("TF") + Short("F") + props + Bytes({0, 0}), "f");
  };
  EXPECT_NO_THROW(read(Prop("Font.Name", Bytes({7}) + Short("Ação_1"))));
  EXPECT_NO_THROW(read(Prop("S", Bytes({11}) + Short("0") + Short("a1") + Bytes({0}))));
  EXPECT_THROW(read(Prop("Owner\x1C", Bytes({8}))), FormatError);
  EXPECT_THROW(read(Prop("1st", Bytes({8}))), FormatError);
  EXPECT_THROW(read(Prop(".P", Bytes({8}))), FormatError);
  EXPECT_THROW(read(Prop("P", Bytes({7}) + Short("a b"))), FormatError);
  EXPECT_THROW(read(Prop("P", Bytes({7}) + Short(""))), FormatError);
  EXPECT_THROW(read(Prop("P", Bytes({11}) + Short("a,b") + Bytes({0}))), FormatError);
  EXPECT_THROW(ReadComponentStream("TPF0" + Short("") + Short("F") + Bytes({0, 0}), "f"),
               FormatError);
}

// A name the binary reader takes must come back from the text the writer
// makes of it: a dot joins two words, and a set element starting with a
// digit is an integer in text. Found by fuzzing: a report whose property
// "Captio." loaded but whose report text could not be read back.
TEST(FormBinary, NamesAreThoseFormTextReadsBack) {
  auto stream = [](const std::string& props) {
    return "TPF0" + Short("TF") + Short("F") + props + Bytes({0, 0});
  };
  for (const char* name : {"Captio.", "a..b", "Font.1", "Font._x.y2"}) {
    SCOPED_TRACE(name);
    const std::string s = stream(Prop(name, Bytes({8})));
    bool dotted_words = std::string_view(name) == "Font._x.y2";
    if (!dotted_words) {
      EXPECT_THROW(ReadComponentStream(s, "f"), FormatError);
      continue;
    }
    std::vector<std::string> lines = ObjectResourceToText(s, "f");
    std::string text;
    for (const auto& l : lines) text += l + "\n";
    EXPECT_EQ(FormTextToBinary(text, ResourceHeader::Without, "t"), s);
  }
  auto set = [&](std::initializer_list<std::string> elements) {
    std::string v = Bytes({11});
    for (const auto& e : elements) v += Short(e);
    return stream(Prop("S", v + Bytes({0})));
  };
  for (const char* bad : {"0a1", "1s", "12.5", "1234567890123456789"})
    EXPECT_THROW(ReadComponentStream(set({bad}), "f"), FormatError) << bad;
  // Identifiers spelled like the keywords of form text read back as those
  // keywords, so they are written in the keywords' spelling (found by
  // fuzzing: "NulL" came back as "Null"). Some converters write Null so.
  for (const char* keyword : {"NulL", "true", "FALSE", "Nil", "Nullable"}) {
    const std::string s = stream(Prop("V", Bytes({7}) + Short(keyword)));
    const std::vector<std::string> lines = ObjectResourceToText(s, "f");
    ASSERT_EQ(lines.size(), 3u);
    std::string text;
    for (const auto& l : lines) text += l + "\n";
    EXPECT_EQ(ObjectResourceToText(FormTextToBinary(text, ResourceHeader::Without, "t"), "t"), lines)
        << keyword;
  }
  EXPECT_EQ(ObjectResourceToText(stream(Prop("V", Bytes({7}) + Short("NulL"))), "f")[1],
            "  V = Null");
  const std::string numbers = set({"0", "123456789012345678", "a.b"});
  std::string text;
  for (const auto& l : ObjectResourceToText(numbers, "f")) text += l + "\n";
  EXPECT_EQ(FormTextToBinary(text, ResourceHeader::Without, "t"), numbers);
}

// A class name's length byte of F0 or more is an object prefix where one was
// already read: no writer makes that, so the stream is damaged.
TEST(FormBinary, SecondObjectPrefixIsRefused) {
  const std::string c240(240, 'C');
  EXPECT_THROW(ReadComponentStream("TPF0" + Bytes({0xF1}) + Short(c240) + Short("") + Bytes({0, 0}), "f"),
               FormatError);
  const std::string c239(239, 'C');
  EXPECT_EQ(ReadComponentStream("TPF0" + Bytes({0xF1}) + Short(c239) + Short("") + Bytes({0, 0}), "f")
                .class_name,
            c239);
}

TEST(FormBinary, ErrorsNameTheFileAndTheFileOffset) {
  std::string stream = "TPF0" + Short("TF") + Short("") + Prop("P", Bytes({105})) + Bytes({0, 0});
  std::string file = WrapInResource(stream, "TF");
  try {
    ObjectResourceToText(file, "dir/Form.dfm");
    FAIL();
  } catch (const FormatError& e) {
    EXPECT_EQ(std::string(e.what()), "dir/Form.dfm: offset " + std::to_string(file.size() - 3) +
                                         ": unknown value type 105");
  }
  // A stream inside a larger file reports offsets of that file.
  try {
    ReadComponentStream(stream, "r.qr2", 2);
    FAIL();
  } catch (const FormatError& e) {
    EXPECT_EQ(std::string(e.what()), "r.qr2: offset " + std::to_string(stream.size() - 3 + 2) +
                                         ": unknown value type 105");
  }
}

TEST(FormBinary, DeepNestingIsRefusedNotOverflowed) {
  std::string lists = "TPF0" + Short("TF") + Short("") + Short("P") + std::string(100000, '\x01');
  EXPECT_THROW(ReadComponentStream(lists, "f"), FormatError);
  std::string objects = "TPF0";
  for (int i = 0; i < 100000; ++i) objects += Short("TF") + Short("") + Bytes({0});
  EXPECT_THROW(ReadComponentStream(objects, "f"), FormatError);
}

}  // namespace
}  // namespace trd::form
