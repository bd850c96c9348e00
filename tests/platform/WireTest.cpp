#include "platform/Wire.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include <nlohmann/json.hpp>

#include "platform/Errors.h"
#include "platform/WireCarry.h"
#include "platform/WireWrite.h"

namespace trd::wire {
namespace {
using json = nlohmann::json;

const std::vector<FieldDef> kFields = {{"NAME", FieldType::String, 50},
                                       {"NR", FieldType::Float, 0},
                                       {"WHEN", FieldType::DateTime, 0}};

Packet SamplePacket() {
  DateTime t = DateTime::FromParts(2023, 12, 31, 23, 59, 58, 7);
  return Packet{kFields,
                {{std::string("Caption \xC3\xA9\"\\"), 0.0, t},
                 {FieldValue{}, FieldValue{}, FieldValue{}},
                 {std::string(""), -1.5e300, DateTime{-1}}}};
}

ChangeSet SampleChangeSet() {
  Row a{std::string("a"), 1.0, FieldValue{}};
  Row b{std::string("b"), 2.0, DateTime::FromParts(2000, 2, 29)};
  return ChangeSet{kFields,
                   {{ChangeKind::Insert, {}, a}, {ChangeKind::Modify, a, b}, {ChangeKind::Delete, b, {}}}};
}

TEST(WireValue, EveryKindRoundTrips) {
  std::vector<Value> values = {
      std::monostate{},
      true,
      false,
      std::int64_t{0},
      std::numeric_limits<std::int64_t>::min(),
      std::numeric_limits<std::int64_t>::max(),
      2.0,  // a whole double stays a double
      -0.125,
      std::string("ol\xC3\xA1 \xF0\x9F\x98\x80 \"q\"\n"),
      DateTime::FromParts(1999, 1, 2, 3, 4, 5, 600),
      SamplePacket(),
      Packet{},
      SampleChangeSet(),
      ServerFailure{"disk full"},
  };
  for (const Value& v : values) {
    SCOPED_TRACE(ToJson(v).dump());
    EXPECT_EQ(FromJson(ToJson(v)), v);
    // and through text, as it travels
    EXPECT_EQ(FromJson(json::parse(ToJson(v).dump())), v);
  }
}

TEST(WireValue, TaggedShapes) {
  EXPECT_EQ(ToJson(2.5), json::parse(R"({"float":2.5})"));
  EXPECT_EQ(ToJson(std::int64_t{2}), json(2));
  EXPECT_EQ(ToJson(DateTime::FromParts(2024, 5, 6, 7, 8, 9, 10)),
            json::parse(R"({"datetime":"2024-05-06T07:08:09.010"})"));
  EXPECT_EQ(ToJson(ServerFailure{"x"}), json::parse(R"({"failure":"x"})"));
  EXPECT_EQ(ToJson(Packet{{{"A", FieldType::String, 3}}, {{std::string("x")}, {FieldValue{}}}}),
            json::parse(R"({"packet":{"fields":[["A","string",3]],"rows":[["x"],[null]]}})"));
  ChangeSet cs{{{"N", FieldType::Float, 0}},
               {{ChangeKind::Insert, {}, {1.0}}, {ChangeKind::Modify, {1.0}, {2.0}},
                {ChangeKind::Delete, {2.0}, {}}}};
  EXPECT_EQ(ToJson(cs), json::parse(R"({"delta":{"fields":[["N","float",0]],"changes":[
      {"kind":"insert","new":[1.0]},
      {"kind":"modify","old":[1.0],"new":[2.0]},
      {"kind":"delete","old":[2.0]}]}})"));
  // A number in a float field may arrive without a fraction.
  EXPECT_EQ(FromJson(json::parse(R"({"float":3})")), Value(3.0));
  EXPECT_EQ(PacketFromJson(json::parse(R"({"fields":[["N","float",0]],"rows":[[3]]})")).rows[0][0],
            FieldValue(3.0));
}

TEST(WireMessage, RequestsAndResponsesRoundTrip) {
  Request r{"Trd00200.rdmLeituraDfm", "GetVerProp",
            {std::string("PROG"), 0.0, std::int64_t{7}, SamplePacket(), SampleChangeSet()}};
  std::string body = EncodeRequest(r);
  json j = json::parse(body);
  EXPECT_EQ(j["module"], "Trd00200.rdmLeituraDfm");
  EXPECT_EQ(j["method"], "GetVerProp");
  EXPECT_EQ(j["args"].size(), 5u);
  Request back = DecodeRequest(body);
  EXPECT_EQ(back.module, r.module);
  EXPECT_EQ(back.method, r.method);
  EXPECT_EQ(back.args, r.args);

  EXPECT_EQ(json::parse(EncodeResult(true)), json::parse(R"({"result":true})"));
  EXPECT_EQ(DecodeResponse(EncodeResult(SamplePacket())), Value(SamplePacket()));
  EXPECT_EQ(DecodeResponse(EncodeResult(std::monostate{})), Value(std::monostate{}));
  EXPECT_EQ(json::parse(EncodeFailure("no such method")),
            json::parse(R"({"error":"no such method"})"));
  EXPECT_EQ(DecodeResponse(EncodeFailure("no such method")), Value(ServerFailure{"no such method"}));
  // A failure's code travels beside its message; a reader of the message
  // alone sees what it always saw.
  const std::string coded = EncodeResult(ServerFailure{"duplicate key", "key_taken"});
  EXPECT_EQ(json::parse(coded), json::parse(R"({"error":"duplicate key","code":"key_taken"})"));
  EXPECT_EQ(DecodeResponse(coded), Value(ServerFailure{"duplicate key", "key_taken"}));
  EXPECT_THROW(DecodeResponse(R"({"error":"x","code":7})"), ProtocolError);

  // Bad UTF-8 in a text never stops the encoding.
  std::string bad = EncodeRequest(Request{"m", "f", {std::string("a\xFF")}});
  EXPECT_EQ(DecodeRequest(bad).args[0], Value(std::string("a\xEF\xBF\xBD")));
}

// Requests and responses are read straight from the text where their shape
// allows; the values must be those of the document, whatever the members'
// order, duplicates, extra members or number forms.
TEST(WireMessage, DirectReadingGivesTheDocumentsValues) {
  const std::string packet =
      R"({"packet":{"fields":[["S","string",1000000],["N","float",0],["D","datetime",0]],"rows":[)"
      R"(["\u00e9\"",3,"2020-01-02T03:04:05.006"],[null,-2.5e-3,null],["",18446744073709551615,null]]}})";
  const std::string args = R"([1,-1,9223372036854775807,-9223372036854775808,1.5,true,null,"x\n",)"
                           R"({"float":2},{"datetime":"2020-01-02T03:04:05.006"},{"failure":"y"},)" +
                           packet + R"(,{"packet":{"fields":[],"rows":[[]]}}])";
  const std::string requests[] = {
      R"({"module":"m","method":"f","args":)" + args + "}",
      R"({"args":)" + args + R"(,"method":"f","module":"m"})",
      R"({"module":"x","method":"f","args":[1],"module":"m","args":)" + args + "}",
      R"({"module":"m","method":"f","extra":[1],"args":[{"packet":{"rows":[[1]],"fields":[["N","float",0]]}}]})",
      R"({"module":"m","method":"f","args":[{"packet":{"fields":[["N","float",0]],"rows":[[1]],"more":0}}]})",
      // Number forms: "-0" is the integer 0, in a float field +0; integers
      // beyond 64 bits are doubles; long mantissas are rounded as the
      // document rounds them.
      R"({"module":"m","method":"f","args":[-0,-0.0,1E2,0.1,123456789012345678901234,-9223372036854775809,)"
      R"({"float":-0},{"packet":{"fields":[["N","float",0]],"rows":[[-0],[18446744073709551615.0],[1e-3],)"
      R"([123456789012345678901234.5],[2.2250738585072011e-308]]}}]})",
      // Escapes in texts and in member names, blanks between every token, a
      // byte order mark.
      "\xEF\xBB\xBF{ \"mod\\u0075le\" : \"m\" ,\n\"method\":\"f\", \"args\" : [ 1 , \"\\u00e9\\ud83d\\ude00\\u0000\\/\" ,\r\n"
      "{ \"packet\" : { \"fields\" : [ [ \"S\" , \"string\" , 10 ] ] , \"rows\" : [ [ \"a\\tb\" ] , [ null ] ] } } ] }  \n",
  };
  for (const std::string& b : requests) {
    SCOPED_TRACE(b);
    const json doc = json::parse(b);
    const Request r = DecodeRequest(b);
    EXPECT_EQ(r.module, "m");
    EXPECT_EQ(r.method, "f");
    ASSERT_EQ(r.args.size(), doc["args"].size());
    for (std::size_t i = 0; i < r.args.size(); ++i) EXPECT_EQ(r.args[i], FromJson(doc["args"][i]));
  }
  const std::string responses[] = {
      R"({"result":)" + packet + "}",
      R"({"result":18446744073709551615.0})",
      R"({"result":1,"result":2})",
      R"({"result":{"float":1},"error":"e"})",
  };
  for (const std::string& b : responses) {
    SCOPED_TRACE(b);
    const json doc = json::parse(b);
    EXPECT_EQ(DecodeResponse(b), doc.contains("error") ? Value(ServerFailure{"e"}) : FromJson(doc["result"]));
  }
}

TEST(WireMessage, MalformedRequestsRaiseProtocolError) {
  const char* bodies[] = {
      "",
      "not json",
      "[1,2]",
      R"({"method":"f","args":[]})",
      R"({"module":"m","args":[]})",
      R"({"module":"m","method":"f"})",
      R"({"module":1,"method":"f","args":[]})",
      R"({"module":"m","method":"f","args":{}})",
      R"({"module":"m","method":"f","args":[[1]]})",
      R"({"module":"m","method":"f","args":[18446744073709551615]})",
      R"({"module":"m","method":"f","args":[{}]})",
      R"({"module":"m","method":"f","args":[{"float":1,"datetime":"2020-01-01"}]})",
      R"({"module":"m","method":"f","args":[{"color":1}]})",
      R"({"module":"m","method":"f","args":[{"float":"1"}]})",
      R"({"module":"m","method":"f","args":[{"datetime":"2020-02-30"}]})",
      R"({"module":"m","method":"f","args":[{"datetime":5}]})",
      R"({"module":"m","method":"f","args":[{"failure":null}]})",
      R"({"module":"m","method":"f","args":[{"packet":[]}]})",
      R"({"module":"m","method":"f","args":[{"packet":{"rows":[]}}]})",
      R"({"module":"m","method":"f","args":[{"packet":{"fields":{},"rows":[]}}]})",
      R"({"module":"m","method":"f","args":[{"packet":{"fields":[["A","string"]],"rows":[]}}]})",
      R"({"module":"m","method":"f","args":[{"packet":{"fields":[["A","blob",1]],"rows":[]}}]})",
      R"({"module":"m","method":"f","args":[{"packet":{"fields":[["A","string",-1]],"rows":[]}}]})",
      R"({"module":"m","method":"f","args":[{"packet":{"fields":[["A","string",4294967301]],"rows":[]}}]})",
      R"({"module":"m","method":"f","args":[{"packet":{"fields":[["A","string",1.5]],"rows":[]}}]})",
      R"({"module":"m","method":"f","args":[{"packet":{"fields":[["A","string",1]],"rows":{}}}]})",
      R"({"module":"m","method":"f","args":[{"packet":{"fields":[["A","string",1]],"rows":[["a","b"]]}}]})",
      R"({"module":"m","method":"f","args":[{"packet":{"fields":[["A","string",1]],"rows":[[1]]}}]})",
      R"({"module":"m","method":"f","args":[{"packet":{"fields":[["A","float",0]],"rows":[["1"]]}}]})",
      R"({"module":"m","method":"f","args":[{"packet":{"fields":[["A","datetime",0]],"rows":[["x"]]}}]})",
      R"({"module":"m","method":"f","args":[{"packet":{"fields":[["A","float",0]],"rows":[3]}}]})",
      R"({"module":"m","method":"f","args":[{"delta":{"fields":[],"changes":{}}}]})",
      R"({"module":"m","method":"f","args":[{"delta":{"fields":[],"changes":[{"kind":"upsert"}]}}]})",
      R"({"module":"m","method":"f","args":[{"delta":{"fields":[],"changes":[{"kind":1}]}}]})",
      R"({"module":"m","method":"f","args":[{"delta":{"fields":[],"changes":[{"kind":"modify","new":[]}]}}]})",
      R"({"module":"m","method":"f","args":[{"delta":{"fields":[],"changes":[{"kind":"insert"}]}}]})",
      R"({"module":"m","method":"f","args":[{"delta":{"fields":[],"changes":[[]]}}]})",
      "{\"module\":\"m\xFF\",\"method\":\"f\",\"args\":[]}",
      // Texts JSON does not allow, numbers outside its grammar, anything after
      // the message.
      "{\"module\":\"m\tx\",\"method\":\"f\",\"args\":[]}",
      R"({"module":"\ud800","method":"f","args":[]})",
      R"({"module":"m","method":"f","args":[01]})",
      R"({"module":"m","method":"f","args":[1.]})",
      R"({"module":"m","method":"f","args":[.5]})",
      R"({"module":"m","method":"f","args":[+1]})",
      R"({"module":"m","method":"f","args":[-]})",
      R"({"module":"m","method":"f","args":[{"packet":{"fields":[["N","float",0]],"rows":[[1e]]}}]})",
      R"({"module":"m","method":"f","args":[]} x)",
      R"({"module":"m","method":"f","args":[]}})",
  };
  for (const char* b : bodies) {
    SCOPED_TRACE(b);
    EXPECT_THROW(DecodeRequest(b), ProtocolError);
  }
}

TEST(WireMessage, MalformedResponsesRaiseProtocolError) {
  const char* bodies[] = {"", "[]", "\"x\"", "{}", R"({"error":1})", R"({"result":{"float":null}})",
                          R"({"result":[]})"};
  for (const char* b : bodies) {
    SCOPED_TRACE(b);
    EXPECT_THROW(DecodeResponse(b), ProtocolError);
  }
}

TEST(WireDateTime, IsoTextRoundTripsAndRejectsImpossibleDates) {
  for (DateTime t : {DateTime{0}, DateTime{-1}, DateTime::FromParts(1899, 12, 30),
                     DateTime::FromParts(2024, 2, 29, 23, 59, 59, 999)}) {
    EXPECT_EQ(DateTime::FromIso(t.ToIso()), t) << t.ToIso();
  }
  EXPECT_EQ(DateTime{-1}.ToIso(), "1969-12-31T23:59:59.999");
  EXPECT_EQ(DateTime::FromIso("2024-01-02"), DateTime::FromParts(2024, 1, 2));
  EXPECT_EQ(DateTime::FromIso("2024-01-02 03:04"), DateTime::FromParts(2024, 1, 2, 3, 4));
  EXPECT_EQ(DateTime::FromParts(2024, 1, 2, 3, 4, 5, 6).DateOnly(), DateTime::FromParts(2024, 1, 2));
  for (const char* s : {"", "2024", "2024-1-02", "2023-02-29", "2024-13-01", "2024-01-02T24:00",
                        "2024-01-02T10:60", "2024-01-02T10:00:60", "2024-01-02T10:00:00.5",
                        "2024-01-02T10:00:00.1234", "2024-01-02X10:00", "2024-01-02T", "2024-01-02T10:0"}) {
    EXPECT_FALSE(DateTime::FromIso(s).has_value()) << s;
  }
}

}  // namespace
}  // namespace trd::wire

namespace trd::wire {
namespace {

// The direct writer must produce what the checked DOM reader understands, for
// every kind and for awkward text.
TEST(WireWriter, AgreesWithTheDocumentEncoding) {
  Row row{std::string("tab\there \"q\" \\ \x01 \x7F \xC3\xA9"), 0.1, DateTime::FromParts(2026, 12, 8)};
  std::vector<Value> values = {std::monostate{}, true, std::int64_t{-42}, 1e-7, 3.0, -1.5e300,
                               std::string("\xF0\x9F\x98\x80"), DateTime{123456},
                               Packet{{{"A", FieldType::String, 9}, {"B", FieldType::Float, 0},
                                       {"C", FieldType::DateTime, 0}},
                                      {row, Row(3)}},
                               ChangeSet{{{"A", FieldType::String, 9}}, {{ChangeKind::Modify, {std::string("x")}, {std::string("y")}}}},
                               ServerFailure{"falhou"}};
  for (const Value& v : values) {
    std::string out;
    AppendJsonValue(out, v);
    SCOPED_TRACE(out);
    EXPECT_EQ(FromJson(nlohmann::json::parse(out)), v);
  }
}

TEST(WireWriter, InvalidUtf8BecomesReplacementCharacter) {
  std::string out;
  AppendJsonString(out, "a\xFF" "b\xC3");
  EXPECT_EQ(nlohmann::json::parse(out).get<std::string>(), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
  Request r{"M\xFE", "X", {std::string("\x80")}};
  Request back = DecodeRequest(EncodeRequest(r));
  EXPECT_EQ(back.module, "M\xEF\xBF\xBD");
  EXPECT_EQ(std::get<std::string>(back.args[0]), "\xEF\xBF\xBD");
}

// A call handed over in memory must get what the encoding would have given
// the server and the client: the same values (changed where the text changes
// them), the same refusals, the same size.
TEST(WireCarry, InMemoryCallsGetWhatTheEncodingGives) {
  const std::vector<FieldDef> text = {{"A", FieldType::String, 9}};
  const Row stamp{DateTime::FromParts(2026, 1, 2)};
  const std::vector<Value> args = {
      SamplePacket(), SampleChangeSet(), std::string("a\xC3(b\xFF"), std::numeric_limits<double>::quiet_NaN(),
      -std::numeric_limits<double>::infinity(), DateTime::FromParts(10000, 1, 1), DateTime::FromParts(-5, 3, 1),
      Packet{text, {stamp}},                                    // a date-time in a text field comes back as text
      Packet{text, {{2.5}}},                                    // refused: a number in a text field
      Packet{{{"N", FieldType::Float, 0}}, {{std::numeric_limits<double>::infinity()}}},  // null
      Packet{{{"A", FieldType::String, 2'000'000}}, {}},          // refused: field size
      ChangeSet{text, {{ChangeKind::Insert, {std::string("dropped")}, {std::string("kept")}}}},
      ServerFailure{"m", "width"}};  // the code is not written inside a message
  std::vector<Request> requests;
  for (const Value& v : args) requests.push_back({"M", "X", {std::string("first"), v}});
  requests.push_back({"M\xFE", "X", {}});
  requests.push_back({"M", "X", std::vector<Value>(kMaxArguments + 1)});
  auto outcome = [](auto&& decode) -> std::variant<Request, std::string> {
    try {
      return decode();
    } catch (const ProtocolError& e) {
      return std::string(e.what());
    }
  };
  for (const Request& r : requests) {
    const std::string text_sent = EncodeRequest(r);
    SCOPED_TRACE(text_sent.substr(0, 300));
    EXPECT_EQ(EncodedRequestSize(r), text_sent.size());
    const auto wire = outcome([&] { return DecodeRequest(text_sent); });
    const auto carried = outcome([&] {
      std::optional<Request> changed;
      return Carried(r, changed);
    });
    ASSERT_EQ(wire.index(), carried.index());
    if (const auto* message = std::get_if<std::string>(&wire)) {
      EXPECT_EQ(std::get<std::string>(carried), *message);
      continue;
    }
    const Request& a = std::get<Request>(wire);
    const Request& b = std::get<Request>(carried);
    EXPECT_EQ(a.module, b.module);
    EXPECT_EQ(a.method, b.method);
    EXPECT_EQ(a.args, b.args);
  }
  // Answers: a failure answer keeps its code; its text is mended like any.
  std::vector<Value> answers = args;
  answers.push_back(ServerFailure{"falhou \xC3", "key_taken"});
  for (const Value& v : answers) {
    SCOPED_TRACE(EncodeResult(v).substr(0, 300));
    Value wire, carried;
    std::string wire_failure, carried_failure;
    try {
      wire = DecodeResponse(EncodeResult(v));
    } catch (const ProtocolError& e) {
      wire_failure = e.what();
    }
    try {
      carried = CarriedResult(v);
    } catch (const ProtocolError& e) {
      carried_failure = e.what();
    }
    EXPECT_EQ(carried, wire);
    EXPECT_EQ(carried_failure, wire_failure);
  }
  EXPECT_TRUE(CrossesUnchanged(Request{"M", "X", {SamplePacket(), SampleChangeSet()}}));
}

}  // namespace
}  // namespace trd::wire
