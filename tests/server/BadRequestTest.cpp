// Bad requests get a failure response naming the problem, the service keeps
// serving, and a change set is applied whole or not at all.
#include "Fixture.h"

namespace trd::server::testing {
namespace {

using BadRequests = ServiceTest;

std::string Request(std::string_view module, std::string_view method, std::vector<Value> args) {
  return wire::EncodeRequest({std::string(module), std::string(method), std::move(args)});
}

void ExpectContains(const std::string& message, std::string_view part) {
  EXPECT_NE(message.find(part), std::string::npos) << "message: " << message << "\nexpected: " << part;
}

TEST_P(BadRequests, MalformedOrMisaddressedRequestsAreAnsweredWithAReason) {
  Rec r;
  const std::string long_program(21, 'P');
  struct Case {
    std::string body;
    std::string expected;
  };
  const Case cases[] = {
      {"", "not JSON"},
      {"{\"module\":", "not JSON"},
      {"[1,2]", "request is not an object"},
      {R"({"module":"Trd00200.rdmLeituraDfm","args":[]})", "has no \"method\""},
      {R"({"module":"Trd00200.rdmLeituraDfm","method":"GetVersao","args":{}})", "\"args\" is not an array"},
      {R"({"module":"Trd00200.rdmLeituraDfm","method":"GetVersao","args":[{"bogus":1}]})", "unknown value tag"},
      {Request("Trd99999.rdmNada", "GetVersao", {}), "unknown module \"Trd99999.rdmNada\""},
      {Request(kDfm, "DropTables", {}), "has no method \"DropTables\""},
      // The report module's methods are not the forms module's.
      {Request(kDfm, "GetUpdRelDfm", {std::string("x"), std::string("POR")}), "has no method"},
      {Request(kDfm, "GetVerProp", {r.program, r.form, r.component, r.property, std::string("0")}),
       "expects 6 arguments (program, form, component, property, number, language), got 5"},
      {Request(kDfm, "GetIdiLeDfm", {std::string("x")}), "expects 0 arguments, got 1"},
      {Request(kDfm, "GetVerProp", {std::int64_t(1), r.form, r.component, r.property, std::string("0"), r.language}),
       "argument 1 (program) must be text, got integer"},
      {Request(kDfm, "GetVerProp", {r.program, r.form, r.component, r.property, std::string("zero"), r.language}),
       "argument 5 (number): \"zero\" is not a number"},
      {Request(kDfm, "SetPropried", {std::string("rows")}), "argument 1 (change set) must be a change set, got text"},
      {Request(kDfm, "GetVerProp", {long_program, r.form, r.component, r.property, std::string("0"), r.language}),
       "argument 1 (program): a text of 21 characters does not fit CDPROGRAMA (20 characters)"},
      {Request(kUpd, "GetUpdRelDfm", {std::string("Salvar"), std::string("PORT")}), "does not fit IDIDIOMA"},
      {Request(kUpd, "UpdateRelDfm", {r.program, r.form, r.component, r.property, std::int64_t(0), r.language,
                                      std::string(4001, 'x'), std::string("T"), DateTime::Now()}),
       "argument 7 (translated text): a text of 4001 characters does not fit STVALORPROP"},
      {Request(kUpd, "UpdateRelDfm", {r.program, r.form, r.component, r.property, std::int64_t(0), r.language,
                                      std::string("x"), std::string("T"), std::string("31/02/2024 10:00:00")}),
       "argument 9 (time): \"31/02/2024 10:00:00\" is not a date-time"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.body.substr(0, 200));
    const Value answered = wire::DecodeResponse(service->Handle(c.body));
    ExpectContains(FailureOf(answered), c.expected);
    // The in-process transport hands the same request over as values.
    if (c.body.starts_with("{\"args\"")) {
      EXPECT_EQ(service->Answer(wire::DecodeRequest(c.body)), answered);
    }
    ExpectStillServing();
  }
}

TEST_P(BadRequests, FailureMessagesNameTheMethod) {
  std::string msg = Failure(kDfm, "GetVerProp", {});
  EXPECT_EQ(msg.rfind("Trd00200.rdmLeituraDfm.GetVerProp: ", 0), 0u) << msg;
}

TEST_P(BadRequests, OversizedRequestIsRefusedUnread) {
  auto small = std::make_shared<Service>(OpenDatabase(":memory:"), ServiceOptions{1024});
  std::string body = Request(kDfm, "GetPropried",
                             {std::string("P"), std::string("F"), std::string("C"), std::string("Caption"),
                              std::string("0"), std::string(2000, 'v'), std::string("POR")});
  ExpectContains(FailureOf(wire::DecodeResponse(small->Handle(body))), "exceed the limit of 1024 bytes");
  EXPECT_EQ(small->Answer(wire::DecodeRequest(body)), wire::DecodeResponse(small->Handle(body)));
  const std::string fits = Request(kDfm, "GetPropried",
                                   {std::string("P"), std::string("F"), std::string("C"), std::string("Caption"),
                                    std::string("0"), std::string(1024 - (body.size() - 2000), 'v'), std::string("POR")});
  ASSERT_EQ(fits.size(), 1024u);
  EXPECT_TRUE(std::holds_alternative<Packet>(small->Answer(wire::DecodeRequest(fits))));
  Value after = wire::DecodeResponse(small->Handle(Request(kDfm, "GetVersao", {})));
  EXPECT_TRUE(std::holds_alternative<Packet>(after));

  // The default limit is 8 MiB.
  std::string huge(kDefaultMaxRequestBytes + 1, ' ');
  ExpectContains(FailureOf(wire::DecodeResponse(service->Handle(huge))), "exceed the limit of 8388608 bytes");
  ExpectStillServing();
}

TEST_P(BadRequests, ChangeSetsThatDoNotFitTheTableAreRefused) {
  Rec r;
  auto with_fields = [&](std::vector<FieldDef> fields, Row row) {
    return ChangeSet{std::move(fields), {Change{ChangeKind::Insert, {}, std::move(row)}}};
  };
  std::vector<FieldDef> f = TranslationTable().fields;

  std::vector<FieldDef> unknown = f;
  unknown.push_back({"NMEXTRA", FieldType::String, 10});
  Row unknown_row = r.ToRow();
  unknown_row.emplace_back(std::string("x"));

  std::vector<FieldDef> wrong_type = f;
  wrong_type[kNrValorProp] = {"NRVALORPROP", FieldType::String, 10};
  Row wrong_type_row = r.ToRow();
  wrong_type_row[kNrValorProp] = std::string("0");

  std::vector<FieldDef> no_language(f.begin(), f.end() - 1);
  Row no_language_row = r.ToRow();
  no_language_row.pop_back();

  std::vector<FieldDef> twice = f;
  twice.push_back(f[kCdPrograma]);
  Row twice_row = r.ToRow();
  twice_row.emplace_back(r.program);

  Row null_key = r.ToRow();
  null_key[kNmComponente] = std::monostate{};

  Rec too_long = r;
  too_long.component = std::string(51, 'C');

  struct Case {
    ChangeSet cs;
    std::string expected;
  };
  const Case cases[] = {
      {with_fields(unknown, unknown_row), "field NMEXTRA is not a column of TRDPROPRIEDADE"},
      {with_fields(wrong_type, wrong_type_row), "field NRVALORPROP is string, TRDPROPRIEDADE.NRVALORPROP is float"},
      {with_fields(no_language, no_language_row), "lacks the key field IDIDIOMA"},
      {with_fields(twice, twice_row), "has the field CDPROGRAMA twice"},
      {with_fields(f, null_key), "change 1 of 1 (insert), new row: the key field NMCOMPONENTE is null"},
      {Changes({Insert(too_long)}), "a text of 51 characters does not fit NMCOMPONENTE"},
      {ChangeSet{VersionTable().fields, {Change{ChangeKind::Insert, {}, {DateTime::Now()}}}},
       "field DTGERARQTRAD is not a column of TRDPROPRIEDADE"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    ExpectContains(Failure(kDfm, "SetPropried", {c.cs}), c.expected);
    ExpectStillServing();
  }
  EXPECT_TRUE(ByKey(r).rows.empty());

  // The version table takes its own field only.
  ExpectContains(Failure(kDfm, "SetVersao", {Changes({Insert(r)})}), "is not a column of TRDVERSAO");
}

TEST_P(BadRequests, ChangeSetIsAppliedWholeOrNotAtAll) {
  Rec existing;
  existing.component = "EXISTING";
  Apply("SetPropried", Changes({Insert(existing)}));

  Rec a, b;
  a.component = "A";
  b.component = "B";

  // The second row repeats the first one's key.
  std::string msg = Failure(kDfm, "SetPropried", {Changes({Insert(a), Insert(a)})});
  ExpectContains(msg, "change 2 of 2 (insert): duplicate key");
  ExpectContains(msg, "NMCOMPONENTE 'A'");
  EXPECT_TRUE(ByKey(a).rows.empty());

  // The second row repeats a stored key.
  ExpectContains(Failure(kDfm, "SetPropried", {Changes({Insert(a), Insert(existing)})}), "duplicate key");
  EXPECT_TRUE(ByKey(a).rows.empty());

  // A delete of a missing row undoes the delete before it.
  ExpectContains(Failure(kDfm, "SetVerProp", {Changes({Delete(existing), Delete(b)})}),
                 "change 2 of 2 (delete): no record of key");
  EXPECT_EQ(ByKey(existing).rows.size(), 1u);

  // A modification onto a stored key undoes the insert before it.
  Rec moved = a;
  moved.component = existing.component;
  ExpectContains(Failure(kDfm, "SetVerProp", {Changes({Insert(a), Insert(b), Modify(b, moved)})}),
                 "change 3 of 3 (modify): duplicate key");
  EXPECT_TRUE(ByKey(a).rows.empty());
  EXPECT_TRUE(ByKey(b).rows.empty());

  // A row that does not fit is found before anything is written.
  Rec too_long = b;
  too_long.value = std::string(4001, 'v');
  ExpectContains(Failure(kDfm, "SetPropried", {Changes({Insert(a), Insert(too_long)})}),
                 "change 2 of 2 (insert), new row");
  EXPECT_TRUE(ByKey(a).rows.empty());

  // The same insert alone still works afterwards.
  Apply("SetPropried", Changes({Insert(a)}));
  EXPECT_EQ(ByKey(a).rows.size(), 1u);
}

}  // namespace

INSTANTIATE_BACKENDS(BadRequests);

}  // namespace trd::server::testing
