// The exchange module (listing pages, coverage, texts, conditional
// translations) through Service::Handle, on SQLite and PostgreSQL.
#include <map>
#include <set>

#include "Fixture.h"
#include "protocol/Exchange.h"

namespace trd::server::testing {
namespace {

using namespace protocol;
inline constexpr std::string_view kExp = kModuleExchange;

class ExchangeModule : public ServiceTest {
 protected:
  void Seed(const std::vector<Rec>& recs) {
    std::vector<Change> changes;
    for (const Rec& r : recs) changes.push_back(Insert(r));
    Apply("SetPropried", Changes(std::move(changes)));
  }

  static Rec R(std::string program, std::string component, std::string source, std::string state = "N",
               std::string value = "", std::string language = "ENG") {
    Rec r;
    r.program = std::move(program);
    r.form = "FRM" + r.program;
    r.component = std::move(component);
    r.source = source;
    r.state = std::move(state);
    r.value = value.empty() ? std::move(source) : std::move(value);
    r.language = std::move(language);
    return r;
  }

  // Every page of a listing, following the cursors as the clients do
  // (IsLastPage); checks that no page exceeds the size asked for.
  std::vector<Row> AllPages(std::string_view method, std::vector<Value> args, std::size_t cursor_at,
                            CursorKind kind, std::int64_t page) {
    std::vector<Row> rows;
    args.push_back(page);
    for (int guard = 0; guard < 1000; ++guard) {
      Packet p = Lookup(kExp, method, args);
      EXPECT_LE(p.rows.size(), std::size_t(page));
      rows.insert(rows.end(), p.rows.begin(), p.rows.end());
      if (IsLastPage(p, std::size_t(page))) break;
      args[cursor_at] = CursorAfter(kind, p.rows.back());
    }
    return rows;
  }

  std::vector<Row> Records(std::string lang, std::string state, std::string programs, std::string form,
                           std::string order, std::int64_t page) {
    return AllPages(kGetRegistros, {lang, state, programs, form, order, std::string()}, 5,
                    order == "recent" ? CursorKind::Recent : CursorKind::Key, page);
  }

  Packet SetTranslations(const std::string& lang, std::vector<Row> rows, std::string mode = "apply") {
    return Lookup(kExp, kSetTraducoes, {lang, Packet{TranslationChangeFields(), std::move(rows)}, mode});
  }
  static Row ByText(std::string source, std::string translation) {
    return {std::monostate{}, std::monostate{}, std::monostate{}, std::monostate{}, std::monostate{},
            std::move(source), std::move(translation)};
  }
  static Row ByKey(const Rec& r, std::string source, std::string translation) {
    return {r.program, r.form, r.component, r.property, r.number, std::move(source), std::move(translation)};
  }

  std::map<std::string, std::pair<std::string, std::string>> StateAndValueByComponent(const std::string& lang) {
    std::map<std::string, std::pair<std::string, std::string>> m;
    for (const Row& r : Records(lang, "", "", "", "", 5000))
      m[std::get<std::string>(r[kNmComponente])] = {std::get<std::string>(r[kIdSitTraducao]),
                                                    std::get<std::string>(r[kStValorProp])};
    return m;
  }
};

std::string Component(const Row& r) { return std::get<std::string>(r[kNmComponente]); }
std::string Program(const Row& r) { return std::get<std::string>(r[kCdPrograma]); }

TEST_P(ExchangeModule, RecordsPageInKeyOrderWithFiltersAndCursors) {
  std::vector<Rec> recs;
  for (int i = 0; i < 23; ++i) {
    char name[8];
    std::snprintf(name, sizeof name, "C%02d", i);
    recs.push_back(R(i % 2 ? "PB" : "PA", name, "Texto " + std::to_string(i), i % 3 ? "N" : "T", "Text"));
  }
  recs.push_back(R("PA", "C00", "Outro idioma", "N", "", "ESP"));
  Seed(recs);

  // Pages of 5 follow each other without a gap or a repeat, in key order.
  std::vector<Row> all = Records("ENG", "", "", "", "key", 5);
  ASSERT_EQ(all.size(), 23u);
  for (std::size_t i = 1; i < all.size(); ++i)
    EXPECT_TRUE(std::make_pair(Program(all[i - 1]), Component(all[i - 1])) < std::make_pair(Program(all[i]), Component(all[i])));
  EXPECT_EQ(Records("ENG", "", "", "", "key", 23).size(), 23u);  // a full last page, then an empty one

  EXPECT_EQ(Records("ENG", "translated", "", "", "", 4).size(), 8u);     // i % 3 == 0
  EXPECT_EQ(Records("ENG", "UNTRANSLATED", "", "", "", 4).size(), 15u);  // case ignored
  EXPECT_EQ(Records("ENG", "", "PB", "", "", 4).size(), 11u);
  EXPECT_EQ(Records("ENG", "", "PA, PB", "", "", 4).size(), 23u);
  EXPECT_EQ(Records("ENG", "untranslated", "PA", "FRMPA", "", 2).size(), 8u);
  EXPECT_EQ(Records("ENG", "", "", "FRMPB", "", 50).size(), 11u);
  EXPECT_EQ(Records("ESP", "", "", "", "", 50).size(), 1u);

  // Bad choices, sizes and cursors are refused, naming the argument.
  auto call = [&](std::string state, std::string order, std::string cursor, Value page) {
    return Failure(kExp, kGetRegistros, {std::string("ENG"), state, std::string(), std::string(), order, cursor, page});
  };
  EXPECT_NE(call("half", "", "", std::int64_t(5)).find("argument 2 (state): \"half\" is none of"), std::string::npos);
  EXPECT_NE(call("", "random", "", std::int64_t(5)).find("argument 5 (order)"), std::string::npos);
  EXPECT_NE(call("", "", "", std::int64_t(5001)).find("argument 7 (page size) must be a whole number from 1 to 5000"),
            std::string::npos);
  EXPECT_NE(call("", "", "", std::int64_t(0)).find("argument 7 (page size)"), std::string::npos);
  EXPECT_NE(call("", "", "{\"k\":1}", std::int64_t(5)).find("the cursor is not one this listing gave"),
            std::string::npos);
  EXPECT_NE(Failure(kExp, kGetRegistros, {std::string(), std::string(), std::string(), std::string(), std::string(),
                                          std::string(), std::int64_t(5)})
                .find("argument 1 (language) is required"),
            std::string::npos);
  ExpectStillServing();
}

TEST_P(ExchangeModule, RecentOrderListsNewestFirstAndNeverStampedLast) {
  std::vector<Rec> recs;
  for (int i = 0; i < 9; ++i) {
    Rec r = R("P", "C" + std::to_string(i), "T" + std::to_string(i));
    r.when = DateTime::FromParts(2024, 1, 1 + i % 3);  // three records per day
    recs.push_back(r);
  }
  Seed(recs);
  // Two records without a time (a foreign writer's): last, in key order.
  for (int i = 0; i < 2; ++i) {
    ChangeSet cs{{TranslationTable().fields[kCdPrograma], TranslationTable().fields[kNmFormulario],
                  TranslationTable().fields[kNmComponente], TranslationTable().fields[kNmPropriedade],
                  TranslationTable().fields[kNrValorProp], TranslationTable().fields[kStAgrValProp],
                  TranslationTable().fields[kIdIdioma]},
                 {Change{ChangeKind::Insert, {}, {std::string("P"), std::string("FRMP"), "Z" + std::to_string(i),
                                                  std::string("Caption"), 0.0, std::string("x"), std::string("ENG")}}}};
    Apply("SetPropried", cs);
  }
  std::vector<Row> rows = Records("ENG", "", "", "", "recent", 2);
  ASSERT_EQ(rows.size(), 11u);
  std::vector<std::string> order;
  for (const Row& r : rows) order.push_back(Component(r));
  EXPECT_EQ(order, (std::vector<std::string>{"C2", "C5", "C8", "C1", "C4", "C7", "C0", "C3", "C6", "Z0", "Z1"}));
}

TEST_P(ExchangeModule, CoveragePerProgramAndPerLanguage) {
  Seed({R("PA", "A1", "Um", "T", "One"), R("PA", "A2", "Dois"), R("PB", "B1", "Três", "T", "Three"),
        R("PA", "A1", "Um", "N", "", "ESP")});
  Packet p = Lookup(kExp, kGetCobertura, {std::string("ENG")});
  EXPECT_EQ(p.fields, CoverageFields());
  EXPECT_EQ(p.rows, (std::vector<Row>{{std::string("ENG"), std::string("PA"), 2.0, 1.0, 1.0, 0.0},
                                      {std::string("ENG"), std::string("PB"), 1.0, 1.0, 0.0, 0.0}}));
  // Per language: every known language, those without records at zero.
  p = Lookup(kExp, kGetCobertura, {std::string()});
  EXPECT_EQ(p.rows, (std::vector<Row>{{std::string("ENG"), std::monostate{}, 3.0, 2.0, 1.0, 0.0},
                                      {std::string("ESP"), std::monostate{}, 1.0, 0.0, 1.0, 0.0},
                                      {std::string("POR"), std::monostate{}, 0.0, 0.0, 0.0, 0.0}}));
  EXPECT_TRUE(Lookup(kExp, kGetCobertura, {std::string("XYZ")}).rows.empty());
  // Named programs: theirs only, a program without records left out.
  p = Lookup(kExp, kGetCobertura, {std::string("ENG"), std::string("PB, PZ")});
  EXPECT_EQ(p.rows, (std::vector<Row>{{std::string("ENG"), std::string("PB"), 1.0, 1.0, 0.0, 0.0}}));
  EXPECT_EQ(Lookup(kExp, kGetCobertura, {std::string("ENG"), std::string()}).rows.size(), 2u);
  EXPECT_NE(Failure(kExp, kGetCobertura, {std::string(), std::string("PA")}).find("needs a language"), std::string::npos);
}

TEST_P(ExchangeModule, TextsComeGroupedByTextInCodePointOrderAndFilterable) {
  const std::string long_text(4000, 'x');
  Seed({R("PA", "A1", "Salvar", "T", "Save"), R("PB", "B1", "Salvar"), R("PA", "A2", "abrir"),
        R("PA", "A3", "Abrir"), R("PA", "A4", "Ação"), R("PA", "A5", long_text), R("PA", "A6", "ÁREA"),
        R("PA", "A1", "Salvar", "N", "", "ESP")});
  std::vector<Row> rows = AllPages(kGetTextos, {std::string("ENG"), std::string(), std::string(), std::string()}, 3,
                                   CursorKind::Text, 2);
  std::vector<std::string> sources;
  for (const Row& r : rows) sources.push_back(std::get<std::string>(r[kStAgrValProp]));
  // Code point order (upper case before lower, accents after ASCII), one
  // text's records together in key order.
  EXPECT_EQ(sources, (std::vector<std::string>{"Abrir", "Ação", "Salvar", "Salvar", "abrir", long_text, "ÁREA"}));
  EXPECT_EQ(Program(rows[2]), "PA");
  EXPECT_EQ(Program(rows[3]), "PB");
  EXPECT_EQ(std::get<std::string>(rows[2][kStValorProp]), "Save");

  auto matching = [&](std::string lang, std::string filter, std::string match) {
    std::multiset<std::string> found;
    for (const Row& r : AllPages(kGetTextos, {lang, filter, match, std::string()}, 3, CursorKind::Text, 3))
      found.insert(std::get<std::string>(r[kStAgrValProp]) + "/" + std::get<std::string>(r[kIdIdioma]));
    return found;
  };
  EXPECT_EQ(matching("ENG", "brir", ""), (std::multiset<std::string>{"Abrir/ENG", "abrir/ENG"}));
  EXPECT_EQ(matching("ENG", "ABR", "exact"), (std::multiset<std::string>{}));
  EXPECT_EQ(matching("ENG", "ABR", "ascii-nocase"), (std::multiset<std::string>{"Abrir/ENG", "abrir/ENG"}));
  // Only A-Z fold: "área" does not find "ÁREA", "AÇÃO" does not find "Ação".
  EXPECT_EQ(matching("ENG", "área", "ascii-nocase"), (std::multiset<std::string>{}));
  EXPECT_EQ(matching("ENG", "aÇão", "ascii-nocase"), (std::multiset<std::string>{}));
  EXPECT_EQ(matching("ENG", "ação", "ascii-nocase"), (std::multiset<std::string>{"Ação/ENG"}));
  // Folded: case and accents aside in every script, whichever side holds them.
  Seed({R("PC", "C1", "Descrição do ITEM"), R("PC", "C2", "DESCRICAO"), R("PC", "C3", "ΆΛΦΑ"),
        R("PC", "C4", "descriptor")});
  const std::multiset<std::string> descriptions{"DESCRICAO/ENG", "Descrição do ITEM/ENG"};
  for (const char* needle : {"descricao", "DESCRIÇÃO", "Descrição", "ESCRI\u0301\u00c7A"})
    EXPECT_EQ(matching("ENG", needle, "folded"), descriptions) << needle;
  EXPECT_EQ(matching("ENG", "area", "folded"), (std::multiset<std::string>{"ÁREA/ENG"}));
  EXPECT_EQ(matching("ENG", "άλφα", "folded"), (std::multiset<std::string>{"ΆΛΦΑ/ENG"}));
  // Every language when none is given.
  EXPECT_EQ(matching("", "Salv", ""), (std::multiset<std::string>{"Salvar/ENG", "Salvar/ENG", "Salvar/ESP"}));
  EXPECT_NE(Failure(kExp, kGetTextos, {std::string("ENG"), std::string("x"), std::string("fuzzy"), std::string(),
                                       std::int64_t(5)})
                .find("argument 3 (match)"),
            std::string::npos);
}

TEST_P(ExchangeModule, SetTranslationsByTextAndByKeyOnlyWhereTheSourceIsStillTheSame) {
  Rec a1 = R("PA", "A1", "Salvar"), b1 = R("PB", "B1", "Salvar"), c1 = R("PA", "C1", "Fechar", "T", "Close"),
      d1 = R("PA", "D1", "Abrir"), esp = R("PA", "A1", "Salvar", "N", "", "ESP");
  Seed({a1, b1, c1, d1, esp});
  const std::vector<Row> changes = {
      ByText("Salvar", "Save"),         // two records
      ByText("Fechar", "Close"),        // held already
      ByText("Sair", "Exit"),           // no such source text: stale
      ByKey(d1, "Abrir", "Open"),       // the record, source unchanged
      ByKey(d1, "Abrir antigo", "Old"), // the source changed since: stale
      ByKey(R("PZ", "Z1", ""), "Zero", "Zero"),  // no such record
  };
  const std::vector<Row> expected = {{std::string("translated"), 2.0, 0.0}, {std::string("already"), 0.0, 1.0},
                                     {std::string("stale"), 0.0, 0.0},      {std::string("translated"), 1.0, 0.0},
                                     {std::string("stale"), 0.0, 0.0},      {std::string("missing"), 0.0, 0.0}};
  const auto before = StateAndValueByComponent("ENG");

  // A dry run tells exactly what applying does, and changes nothing.
  Packet dry = SetTranslations("ENG", changes, "dry-run");
  EXPECT_EQ(dry.fields, TranslationOutcomeFields());
  EXPECT_EQ(dry.rows, expected);
  EXPECT_EQ(StateAndValueByComponent("ENG"), before);

  const DateTime start = DateTime::Now();
  EXPECT_EQ(SetTranslations("ENG", changes).rows, expected);
  auto after = StateAndValueByComponent("ENG");
  using SV = std::pair<std::string, std::string>;
  EXPECT_EQ(after["A1"], SV("T", "Save"));
  EXPECT_EQ(after["B1"], SV("T", "Save"));
  EXPECT_EQ(after["C1"], SV("T", "Close"));
  EXPECT_EQ(after["D1"], SV("T", "Open"));
  for (const Row& r : Records("ENG", "", "", "", "", 100)) {
    if (Component(r) != "C1") {
      EXPECT_GE(std::get<DateTime>(r[kDtUltAtuTrad]).ms, start.ms - 1000);
    }
  }
  // Another language is untouched.
  EXPECT_EQ(StateAndValueByComponent("ESP")["A1"], SV("N", "Salvar"));
  // The harvest's own look-up finds the translation for the next form.
  Packet latest = Lookup(kUpd, "GetUpdRelDfm", {std::string("Salvar"), std::string("ENG")});
  ASSERT_EQ(latest.rows.size(), 1u);
  EXPECT_EQ(latest.rows[0][1], FieldValue(std::string("Save")));

  // Applying again is harmless: everything is held already.
  Packet again = SetTranslations("ENG", {changes[0], changes[3]});
  EXPECT_EQ(again.rows, (std::vector<Row>{{std::string("already"), 0.0, 2.0}, {std::string("already"), 0.0, 1.0}}));
  // A new translation replaces the old one.
  EXPECT_EQ(SetTranslations("ENG", {ByText("Salvar", "Store")}).rows,
            (std::vector<Row>{{std::string("translated"), 2.0, 0.0}}));
}

TEST_P(ExchangeModule, AListThatDoesNotFitChangesNothing) {
  Rec a1 = R("PA", "A1", "Salvar");
  Seed({a1});
  Row partial_key = ByText("Salvar", "Save");
  partial_key[kChgProgram] = std::string("PA");
  const std::string too_long(4001, 'y');
  for (const auto& [row, message] : std::vector<std::pair<Row, std::string>>{
           {partial_key, "change 2 of 2: give the record's whole key"},
           {ByText("Salvar", too_long), "change 2 of 2: a text of 4001 characters does not fit STVALORPROP"},
           {Row{std::monostate{}, std::monostate{}, std::monostate{}, std::monostate{}, std::monostate{},
                std::string("Salvar"), std::monostate{}},
            "change 2 of 2: STVALORPROP is null"}}) {
    std::string m = Failure(kExp, kSetTraducoes,
                            {std::string("ENG"), Packet{TranslationChangeFields(), {ByText("Salvar", "Save"), row}},
                             std::string("apply")});
    EXPECT_NE(m.find(message), std::string::npos) << m;
    EXPECT_EQ(StateAndValueByComponent("ENG")["A1"].first, "N");
  }
  EXPECT_NE(Failure(kExp, kSetTraducoes, {std::string("ENG"), Packet{{TranslationChangeFields()[0]}, {}},
                                          std::string("apply")})
                .find("lacks the field NMFORMULARIO"),
            std::string::npos);
  EXPECT_NE(Failure(kExp, kSetTraducoes, {std::string("ENG"), Packet{TranslationChangeFields(), {}},
                                          std::string("maybe")})
                .find("argument 3 (mode)"),
            std::string::npos);
  // A source longer than the column is held by no record: stale, not refused.
  EXPECT_EQ(SetTranslations("ENG", {ByText(std::string(4001, 's'), "x")}).rows,
            (std::vector<Row>{{std::string("stale"), 0.0, 0.0}}));
  ExpectStillServing();
}

// The records of a list of texts, in the list's order, whole through the
// continuation of a full page, and only those of the programs asked for.
TEST_P(ExchangeModule, RecordsOfTextsInTheListsOrderAcrossPages) {
  Seed({R("PA", "C1", "Salvar"), R("PB", "C2", "Salvar"), R("PC", "C3", "Salvar"), R("PA", "C4", "Abrir"),
        R("PB", "C5", "Fechar"), R("PA", "C6", "Abrir", "N", "", "ESP")});
  auto list = [](std::vector<std::string> texts) {
    Packet p{TextListFields(), {}};
    for (auto& t : texts) p.rows.push_back({t});
    return p;
  };
  std::vector<std::string> texts{"Abrir", "Sumido", "Salvar", "Fechar"}, got;
  std::string cursor;
  for (int guard = 0; guard < 10 && !texts.empty(); ++guard) {
    Packet p = Lookup(kExp, kGetRegTextos, {std::string("ENG"), std::string(), list(texts), cursor, 2.0});
    for (const Row& r : p.rows) got.push_back(Component(r));
    if (p.rows.size() < 2) break;
    const std::string last = std::get<std::string>(p.rows.back()[kStAgrValProp]);
    texts.erase(texts.begin(), std::find(texts.begin(), texts.end(), last));
    cursor = CursorAfter(CursorKind::Text, p.rows.back());
  }
  EXPECT_EQ(got, (std::vector<std::string>{"C4", "C1", "C2", "C3", "C5"}));
  Packet pb = Lookup(kExp, kGetRegTextos, {std::string("ENG"), std::string("PB"), list({"Salvar"}), std::string(), 10.0});
  ASSERT_EQ(pb.rows.size(), 1u);
  EXPECT_EQ(Component(pb.rows[0]), "C2");
}

// Suggestions come from the memory of the same language: the same text
// first, else a similar one; never another language's, nor a text too short
// or too unlike to help.
TEST_P(ExchangeModule, SuggestionsAreTheMemorysSameOrSimilarTextsOfTheLanguage) {
  Seed({R("PA", "C1", "Abrir o arquivo de clientes"), R("PA", "C2", "Salvar"),
        R("PA", "C3", "Abrir o arquivo de clientes", "N", "", "ESP"), R("PA", "C4", "Imprimir o relatório")});
  ASSERT_EQ(SetTranslations("ENG", {ByText("Abrir o arquivo de clientes", "Open the customers file"),
                                    ByText("Salvar", "Save")})
                .rows.size(),
            2u);
  ASSERT_EQ(SetTranslations("ESP", {ByText("Abrir o arquivo de clientes", "Abrir el archivo de clientes")}).rows.size(),
            1u);
  Packet asked{TextListFields(),
               {{std::string("Salvar")}, {std::string("ABRIR O ARQUIVO DOS CLIENTES")}, {std::string("Sa")},
                {std::string("Imprimir relatório")}}};
  Packet eng = Lookup(kExp, kGetSugestoes, {std::string("ENG"), asked});
  ASSERT_EQ(eng.rows.size(), 4u);
  EXPECT_EQ(eng.rows[0], (Row{std::string("Salvar"), std::string("Save"), 100.0}));
  EXPECT_EQ(eng.rows[1][kSugSource], FieldValue(std::string("Abrir o arquivo de clientes")));
  EXPECT_EQ(eng.rows[1][kSugTranslation], FieldValue(std::string("Open the customers file")));
  EXPECT_EQ(eng.rows[1][kSugSimilarity], FieldValue(75.0));  // letters folded to lower case
  for (int i : {2, 3}) EXPECT_EQ(eng.rows[std::size_t(i)][kSugSource], FieldValue()) << i;
  // Asked again with the memory unchanged (what the first call read is kept): the same answers.
  EXPECT_EQ(Lookup(kExp, kGetSugestoes, {std::string("ENG"), asked}).rows, eng.rows);
  // Portuguese has no translation of these; the Spanish one is no suggestion.
  Packet por = Lookup(kExp, kGetSugestoes, {std::string("POR"), asked});
  for (const Row& r : por.rows) EXPECT_EQ(r[kSugSource], FieldValue());
  // A translation set after a call is a suggestion in the next one.
  ASSERT_EQ(SetTranslations("ENG", {ByText("Imprimir o relatório", "Print the report")}).rows.size(), 1u);
  eng = Lookup(kExp, kGetSugestoes, {std::string("ENG"), asked});
  EXPECT_EQ(eng.rows[3][kSugSource], FieldValue(std::string("Imprimir o relatório")));
}

// Pages of long texts end at kMaxPageBytes, far below the records asked
// for, and a client that follows them as the contract says gets every
// record once, in order.
TEST_P(ExchangeModule, PagesOfLongTextsAreBoundedInBytesAndFollowedToTheEnd) {
  std::vector<Rec> recs;
  for (int i = 0; i < 300; ++i) {
    std::string text(4000, char('a' + i % 26));
    text.replace(0, 4, std::to_string(1000 + i));
    recs.push_back(R("PROG", "C" + std::to_string(1000 + i), text, "T", text));
  }
  Seed(recs);
  const Packet first =
      Lookup(kExp, kGetRegistros, {std::string("ENG"), std::string(), std::string(), std::string(), std::string(),
                                   std::string(), std::int64_t(kMaxPageRows)});
  EXPECT_GT(first.rows.size(), 100u);
  EXPECT_LT(first.rows.size(), 140u);  // some 8000 bytes a record: 1 MiB holds 129
  EXPECT_FALSE(IsLastPage(first, kMaxPageRows));

  const std::vector<Row> by_key = Records("ENG", "all", "", "", "key", std::int64_t(kMaxPageRows));
  const std::vector<Row> by_text = AllPages(kGetTextos, {std::string("ENG"), std::string(), std::string("exact"),
                                                         std::string()},
                                            3, CursorKind::Text, std::int64_t(kMaxPageRows));
  for (const auto* listing : {&by_key, &by_text}) {
    ASSERT_EQ(listing->size(), recs.size());
    for (std::size_t i = 0; i < recs.size(); ++i)
      EXPECT_EQ(std::get<std::string>((*listing)[i][kNmComponente]), recs[i].component) << i;
  }

  // Suggestions end at the same bound: the first texts' rows, the rest asked again.
  Packet asked{TextListFields(), {}};
  for (const Rec& r : recs) asked.rows.push_back({r.source});
  std::size_t answered = 0;
  for (int guard = 0; guard < 10 && !asked.rows.empty(); ++guard) {
    const Packet p = Lookup(kExp, kGetSugestoes, {std::string("ENG"), asked});
    ASSERT_FALSE(p.rows.empty());
    ASSERT_LT(p.rows.size(), 140u);
    for (std::size_t i = 0; i < p.rows.size(); ++i)
      EXPECT_EQ(p.rows[i][kSugSource], asked.rows[i][0]) << answered + i;
    answered += p.rows.size();
    asked.rows.erase(asked.rows.begin(), asked.rows.begin() + std::ptrdiff_t(p.rows.size()));
  }
  EXPECT_EQ(answered, recs.size());
}

INSTANTIATE_BACKENDS(ExchangeModule);

}  // namespace
}  // namespace trd::server::testing
