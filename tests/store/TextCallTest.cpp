// Each text in one call against the real server code in process: the round
// trips a text costs, the records and counters beside the text-by-text
// steps, and a server without the batch method.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/Connection.h"
#include "platform/DateTimeText.h"
#include "protocol/Failures.h"
#include "protocol/Methods.h"
#include "server/Service.h"
#include "store/Store.h"
#include "store/TextChannels.h"
#include "support/StoredRecords.h"
#include "support/TempTree.h"

namespace trd::store {
namespace {

struct Quiet final : protocol::TextWatcher {
  void Reached(protocol::TextStep) override {}
};

// A client of its own server, counting the requests it sends; with
// `old_server` the server answers no_method for the batch method.
struct Client {
  explicit Client(bool old_server = false) {
    RequestHandler inner = service->Handler();
    store.emplace(services, InProcessTransports([this, inner, old_server](std::string_view request) {
                    ++round_trips;
                    if (old_server && request.find(protocol::kSetPropriedArq) != std::string_view::npos)
                      return protocol::EncodeFailure(protocol::FailureCode::NoMethod, "unknown method");
                    return inner(request);
                  }));
    store->OpenConnections({});
  }

  // The round trips of taking `text` under the key of `component`.
  int Take(TextChannel& channel, const std::string& component, std::string_view text) {
    const int before = round_trips;
    const protocol::FoundText found{{"CADASTRO", "FRMCADASTRO", component, "Caption", 0, "POR"},
                                    text,
                                    protocol::Declined::No,
                                    protocol::TranslationLookUp::Yes,
                                    protocol::TextSource::Form};
    Quiet watcher;
    channel.Take(found, watcher);
    return round_trips - before;
  }

  // Every record: key, source, translation and state.
  std::vector<std::string> Records() const {
    std::vector<std::string> out;
    for (const test::StoredRecord& r : test::ReadRecords(db))
      out.push_back(r.key + " " + r.source + " " + r.translation + " " + r.state);
    return out;
  }

  test::TempTree dir{"trd-text-call"};
  const std::string db = dir.Path("trd.sqlite");
  std::shared_ptr<server::Service> service = server::Service::Open(db);
  shared::Services services;
  std::optional<Store> store;
  int round_trips = 0;
};

// The same texts through each channel: new, stored, replaced, new.
void TakeTheTexts(Client& c, TextChannel& channel, std::vector<int>* trips) {
  for (auto [component, text] : {std::pair{"A", "Salvar"}, {"A", "Salvar"}, {"A", "Gravar"}, {"B", "Salvar"}}) {
    const int n = c.Take(channel, component, text);
    if (trips) trips->push_back(n);
  }
  channel.FileDone();
}

TEST(TextCall, ANewTextTakesOneRoundTripWithTheRecordsAndCountersOfTheSteps) {
  const DateTimeText dates;
  Client steps, one_call;
  PerTextChannel reference(*steps.store, dates);
  TakeTheTexts(steps, reference, nullptr);

  TextCallChannel channel(*one_call.store, "POR", dates);
  std::vector<int> trips;
  TakeTheTexts(one_call, channel, &trips);
  // The first text also asks whether the server has the method.
  EXPECT_EQ(trips, (std::vector<int>{2, 1, 1, 1}));
  EXPECT_FALSE(channel.SteppedFallback());
  EXPECT_EQ(one_call.Records(), steps.Records());
  EXPECT_EQ(one_call.store->stats, steps.store->stats);
  EXPECT_EQ(one_call.store->stats.created, 3);
  EXPECT_EQ(one_call.store->stats.replaced, 1);
  EXPECT_EQ(one_call.store->stats.already_stored, 1);
}

TEST(TextCall, AServerWithoutTheBatchMethodGetsTheStepsAndTheSameRecords) {
  const DateTimeText dates;
  Client steps, old(/*old_server=*/true);
  PerTextChannel reference(*steps.store, dates);
  TakeTheTexts(steps, reference, nullptr);

  TextCallChannel channel(*old.store, "POR", dates);
  TakeTheTexts(old, channel, nullptr);
  EXPECT_TRUE(channel.SteppedFallback());
  EXPECT_EQ(old.Records(), steps.Records());
  EXPECT_EQ(old.store->stats, steps.store->stats);
}

}  // namespace
}  // namespace trd::store
