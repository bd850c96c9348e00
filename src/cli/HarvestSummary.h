// What `trd harvest` prints on standard output: the summary of the run, as
// lines of text or one JSON object, and with --dry-run --json one JSON line
// per text before it.
//
// The JSON summary: "outcome" (completed, failed, cancelled, declined);
// "files_selected", "files_read", "files_not_read", "files_failed";
// "texts_seen", "already_stored", "new", "new_keys", "records_sent",
// "replaced", "translations_reused", "skipped"; "elapsed_seconds";
// "version_stamped"; "vanished" (cli/Vanished.h); "dry_run" (a dry run);
// "files_left_out" (files whose names no record holds, run without them);
// "failed_file" and "error" (the first file that failed); "failures" (every
// failed file: [{"file":..,"error":..}], in list order); "stamp_error". The
// texts add up as the text summary's do: texts_seen = already_stored +
// new_keys + replaced + skipped, where new_keys counts the texts whose key
// had no record ("Novos"). "records_sent" counts the records written, new
// and replacing ones (new_keys + replaced); "new" is the same number, kept
// under the name earlier versions gave it.
//
// A dry run's line per text:
//   {"program":..,"form":..,"component":..,"property":..,"number":..,
//    "text":..,"outcome":"created"|"replaced"|"stored_already"|
//    "stored_meanwhile"|"skipped", "translation_reused":bool,
//    "old_text":.. (replaced), "translation":.. (reused)}
#pragma once

#include <string>

#include "Vanished.h"
#include "run/ImportRun.h"
#include "store/DryRun.h"

namespace trd::cli {

// The version stamp after the run.
struct Stamp {
  bool done = false;
  bool skipped = false;  // a dry run stamps nothing
  std::string error;
};

void PrintSummary(const run::Summary& s, const Stamp& stamp, const Vanished& vanished, bool list_vanished,
                  bool json);

void PrintDryRunNote(const store::DryRunNote& note);

}  // namespace trd::cli
