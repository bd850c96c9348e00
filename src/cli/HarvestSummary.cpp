#include "HarvestSummary.h"

#include <iostream>
#include <nlohmann/json.hpp>

#include "platform/Text.h"

namespace trd::cli {
namespace {

const char* OutcomeName(run::Outcome outcome) {
  switch (outcome) {
    case run::Outcome::Completed: return "completed";
    case run::Outcome::Failed: return "failed";
    case run::Outcome::Cancelled: return "cancelled";
    case run::Outcome::Declined: return "declined";
  }
  return "";
}

void PrintJson(const nlohmann::ordered_json& j) {
  std::cout << j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace

void PrintSummary(const run::Summary& s, const Stamp& stamp, const Vanished& vanished, bool list_vanished,
                  bool json) {
  if (!json) {
    std::cout << run::SummaryText(s);
    PrintVanished(std::cout, vanished, list_vanished);
    if (!stamp.done && !stamp.skipped) std::cout << "Versão não gravada: " << stamp.error << "\n";
    std::cout.flush();
    return;
  }
  nlohmann::ordered_json j;
  j["outcome"] = OutcomeName(s.outcome);
  j["files_selected"] = s.files_selected;
  j["files_read"] = s.files_read;
  j["files_not_read"] = s.files_not_read;
  j["files_failed"] = s.files_failed;
  j["texts_seen"] = s.stats.texts_seen;
  j["already_stored"] = s.stats.already_stored;
  j["new"] = s.stats.created;
  j["new_keys"] = s.stats.NewKeys();
  j["records_sent"] = s.stats.created;
  j["replaced"] = s.stats.replaced;
  j["translations_reused"] = s.stats.translations_reused;
  j["skipped"] = s.stats.skipped;
  j["elapsed_seconds"] = double(s.elapsed.count()) / 1000.0;
  j["version_stamped"] = stamp.done;
  AddVanished(j, vanished, list_vanished);
  if (stamp.skipped) j["dry_run"] = true;
  j["files_left_out"] = s.files_left_out;
  if (!s.failed_file.empty()) {
    j["failed_file"] = text::PathText(s.failed_file);
    j["error"] = s.failure;
  }
  if (!s.failures.empty()) {
    nlohmann::ordered_json failures = nlohmann::ordered_json::array();
    for (const run::FileFailure& f : s.failures)
      failures.push_back({{"file", text::PathText(f.path)}, {"error", f.cause}});
    j["failures"] = std::move(failures);
  }
  if (!stamp.done && !stamp.skipped) j["stamp_error"] = stamp.error;
  PrintJson(j);
  std::cout << std::endl;
}

void PrintDryRunNote(const store::DryRunNote& n) {
  nlohmann::ordered_json j;
  j["program"] = n.key.program;
  j["form"] = n.key.form;
  j["component"] = n.key.component;
  j["property"] = n.key.property;
  j["number"] = n.key.number;
  j["text"] = n.text;
  j["outcome"] = store::OutcomeName(n.result.outcome);
  j["translation_reused"] = n.result.translation == store::TranslationReuse::Reused;
  if (n.result.outcome == store::RecordOutcome::Replaced && n.held) j["old_text"] = *n.held;
  if (n.translation) j["translation"] = *n.translation;
  PrintJson(j);
  std::cout << '\n';
}

}  // namespace trd::cli
