// The form-file scanner over the lines of one form file, as the import runs
// it: the file converted to canonical form text first (binary or text form
// file), and also the raw lines of the input as they stand, which reach the
// scanner's own readers (values over several lines, string lists,
// collections) in shapes the canonical writer never produces.
//
// The scanner talks to the real translation server in process on an
// in-memory database that stores nothing: the methods that change data are
// answered with success without reaching the service, so every look-up finds
// nothing, each input starts from the same empty table and memory stays flat
// over millions of runs.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "extract/FormScanner.h"
#include "formfile/FormStream.h"
#include "platform/Connection.h"
#include "platform/Errors.h"
#include "platform/Text.h"
#include "platform/Wire.h"
#include "protocol/Methods.h"
#include "protocol/Record.h"
#include "server/Service.h"
#include "store/Store.h"
#include "store/TextChannels.h"

using namespace trd;

namespace {

struct Harness {
  // The server's look-ups on an empty table; every change is answered done
  // without storing it, so each input starts from the same state.
  std::string Answer(std::string_view body) {
    wire::Request r = wire::DecodeRequest(body);
    if (text::StartsWithIgnoreCase(r.method, "Set") || text::EqualsIgnoreCase(r.method, protocol::kUpdateRelDfm))
      return wire::EncodeResult(Value());
    return service->Handle(body);
  }

  void Scan(const std::vector<std::string>& lines) {
    store::Store store(services, InProcessTransports([this](std::string_view body) { return Answer(body); }));
    store::PerTextChannel channel(store, dates);
    extract::ScanEnvironment env{channel, cancel, "POR", dates, [](const std::string&) {}, [] {}};
    extract::Import(env, lines, protocol::ProgramCode("Cli/Src/Fuzz.dfm"));
  }

  std::shared_ptr<server::Service> service = server::Service::Open(":memory:");
  shared::Services services;
  bool cancel = false;
  DateTimeText dates;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Harness harness;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  std::vector<std::string> canonical;
  bool converted = true;
  try {
    canonical = form::ObjectResourceToText(bytes, "fuzz.dfm");
  } catch (const FormatError&) {
    converted = false;
  }
  // What may leave Import: a value announced to continue past the last line
  // (FormatError) and a call the server refuses (ServerError: a key text
  // longer than its column, for instance).
  auto scan = [](const std::vector<std::string>& lines) {
    try {
      harness.Scan(lines);
    } catch (const FormatError&) {
    } catch (const ServerError&) {
    }
  };
  if (converted) scan(canonical);
  std::vector<std::string> raw;
  try {
    raw = fuzz::SplitLines(form::DecodeFormText(bytes, "fuzz.dfm"));
  } catch (const FormatError&) {
    return 0;
  }
  scan(raw);
  return 0;
}
