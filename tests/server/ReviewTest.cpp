// The review state on both backends: only a role that reviews approves or
// sends back, and only translated records holding what the reviewer saw;
// the listings answer it beside the record while the client's look-ups keep
// their ten fields; a changed translation is unreviewed again; every change
// of it is in the history, in its transaction.
#include <gmock/gmock.h>

#include "Fixture.h"
#include "protocol/Exchange.h"
#include "server/WorkList.h"

namespace trd::server::testing {
namespace {

using namespace protocol;

class Review : public ServiceTest {
 protected:
  Value CallAs(const Caller& caller, std::string_view method, std::vector<Value> args) {
    return wire::DecodeResponse(service->Handle(
        wire::EncodeRequest({std::string(kModuleExchange), std::string(method), std::move(args)}), caller));
  }
  // "outcome count" per entry.
  std::vector<std::string> Reviewed(const Caller& caller, ReviewAction action, std::vector<Row> entries) {
    const Value v = CallAs(caller, kSetRevisao,
                           {std::string("POR"), std::string(ReviewActionName(action)),
                            Packet{ReviewListFields(), std::move(entries)}});
    std::vector<std::string> out;
    if (const auto* f = std::get_if<ServerFailure>(&v)) return {"failed: " + f->message};
    for (const Row& r : std::get<Packet>(v).rows)
      out.push_back(std::get<std::string>(r[kRvoOutcome]) + " " + std::to_string(int(std::get<double>(r[kRvoReviewed]))));
    return out;
  }
  static Row KeyEntry(const Rec& r, FieldValue translation = {}) {
    return {r.program, r.form, r.component, r.property, r.number, {}, std::move(translation)};
  }
  static Row TextEntry(const std::string& source, FieldValue translation = {}) {
    return {{}, {}, {}, {}, {}, source, std::move(translation)};
  }
  // "component state by" of the records of a state filter.
  std::vector<std::string> Listed(StateFilter state) {
    const Packet p = Lookup(kModuleExchange, kGetRegistros,
                            {std::string("POR"), std::string(StateFilterName(state)), std::string(""), std::string(""),
                             std::string("key"), std::string(""), std::int64_t(100)});
    EXPECT_EQ(p.fields, ReviewedRecordFields());
    std::vector<std::string> out;
    auto text = [](const FieldValue& v) {
      const auto* s = std::get_if<std::string>(&v);
      return s ? *s : std::string("-");
    };
    for (const Row& r : p.rows) out.push_back(text(r[kNmComponente]) + " " + text(r[kRevState]) + " " + text(r[kRevBy]));
    return out;
  }
  // "who how review-before>review translation" per change of the record.
  std::vector<std::string> History(const Rec& r) {
    const Packet p = Lookup(kModuleExchange, kGetHistorico,
                            {r.language, std::monostate{}, r.program, r.form, r.component, r.property, r.number});
    auto text = [](const FieldValue& v) {
      const auto* s = std::get_if<std::string>(&v);
      return s ? *s : std::string("-");
    };
    std::vector<std::string> out;
    for (const Row& row : p.rows)
      out.push_back(text(row[12]) + " " + text(row[14]) + " " + text(row[15]) + ">" + text(row[16]) + " " +
                    text(row[9]));
    return out;
  }
};

TEST_P(Review, ReviewersApproveWhatTheySawAndAChangedTranslationIsUnreviewedAgain) {
  Rec save, save_too, close, open;
  save.state = save_too.state = close.state = "T";
  save.value = save_too.value = "Save";
  save_too.component = "BTNGRAVAR";
  close.component = "BTNFECHAR";
  close.source = "Fechar";
  close.value = "Close";
  open.component = "BTNABRIR";
  open.source = open.value = "Abrir";
  Apply("SetPropried", Changes({Insert(save), Insert(save_too), Insert(close), Insert(open)}));
  const Caller rui{"rui", Role::Reviewer}, ana{"ana", Role::Translator};

  // A translator may not review: refused, nothing written.
  const auto refused = Reviewed(ana, ReviewAction::Approve, {TextEntry("Salvar")});
  ASSERT_EQ(refused.size(), 1u);
  EXPECT_THAT(refused[0], ::testing::HasSubstr("does not permit review"));
  EXPECT_TRUE(Listed(StateFilter::Approved).empty());
  EXPECT_EQ(History(save).size(), 1u);

  EXPECT_EQ(Reviewed(rui, ReviewAction::Approve,
                     {TextEntry("Salvar", std::string("Save")), TextEntry("Salvar"), KeyEntry(open), KeyEntry(close, std::string("Shut")),
                      TextEntry("Sair"), TextEntry(std::string(5000, 'x'))}),
            (std::vector<std::string>{"reviewed 2", "already 0", "untranslated 0", "changed 0", "missing 0",
                                      "missing 0"}));
  EXPECT_EQ(Listed(StateFilter::Approved), (std::vector<std::string>{"BTNGRAVAR A rui", "BTNSALVAR A rui"}));
  EXPECT_EQ(Listed(StateFilter::Unreviewed), (std::vector<std::string>{"BTNFECHAR - -"}));
  // The client application's look-up keeps the translation table's fields.
  EXPECT_EQ(ByKey(save).fields, RecordFields());

  // A changed translation takes the approval away, in the history too; the
  // same translation again changes nothing.
  for (const char* translation : {"Store", "Store"})
    ASSERT_TRUE(std::holds_alternative<std::monostate>(
        Call(kUpd, kUpdateRelDfm, {save.program, save.form, save.component, save.property, std::int64_t(0),
                                   save.language, std::string(translation), std::string("T"), DateTime::Now()})));
  EXPECT_EQ(Listed(StateFilter::Approved), (std::vector<std::string>{"BTNGRAVAR A rui"}));
  EXPECT_EQ(Reviewed(rui, ReviewAction::SendBack, {KeyEntry(save_too), KeyEntry(close)}),
            (std::vector<std::string>{"reviewed 1", "reviewed 1"}));
  EXPECT_EQ(Listed(StateFilter::Unreviewed),
            (std::vector<std::string>{"BTNFECHAR D rui", "BTNGRAVAR D rui", "BTNSALVAR - -"}));
  EXPECT_EQ(History(save), (std::vector<std::string>{"- chamada ->- Save", "rui revisao ->A Save",
                                                     "- chamada A>- Store"}));
  EXPECT_EQ(History(save_too), (std::vector<std::string>{"- chamada ->- Save", "rui revisao ->A Save",
                                                         "rui revisao A>D Save"}));

  // A database whose history predates the review state gains its columns.
  for (const char* column : {"IDSITREVISAOANT", "IDSITREVISAO"})
    service->Storage().Acquire()->Execute(std::string("ALTER TABLE TRDHISTORICO DROP COLUMN ") + column);
  EnsureSchema(*service->Storage().Acquire());
  EXPECT_EQ(Reviewed(rui, ReviewAction::Approve, {KeyEntry(close)}), (std::vector<std::string>{"reviewed 1"}));
  EXPECT_EQ(History(close).back(), "rui revisao D>A Close");
}

// A text's view shows the opened record's own review state, however many
// records hold the text before it in key order.
TEST_P(Review, TheTextViewShowsTheOpenedRecordsStateAmongManyHolders) {
  std::vector<Change> changes;
  Rec last;
  for (int i = 0; i <= 250; ++i) {
    Rec r;
    r.component = "BTN" + std::to_string(1000 + i);
    r.state = "T";
    r.value = "Save";
    changes.push_back(Insert(r));
    last = r;
  }
  Apply("SetPropried", Changes(changes));
  ASSERT_EQ(Reviewed({"rui", Role::Reviewer}, ReviewAction::Approve, {KeyEntry(last)}),
            (std::vector<std::string>{"reviewed 1"}));
  const auto view = ReadTextView(*service->Storage().Acquire(),
                                 RecordKey{last.program, last.form, last.component, last.property, last.number,
                                           last.language});
  ASSERT_TRUE(view);
  EXPECT_EQ(view->record.review, kReviewApproved);
  EXPECT_EQ(view->record.reviewer, "rui");
}

INSTANTIATE_BACKENDS(Review);

}  // namespace
}  // namespace trd::server::testing
