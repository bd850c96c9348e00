// The translation server's request handling: request decoding on its own,
// and whole requests through Service::Handle on an in-memory database that
// is emptied before every input (opening a database per input would cost
// more than the requests), so each input starts from the seeded languages
// and no record, and a finding replays alone.
// The input is up to eight request bodies separated by NUL bytes (JSON text
// holds no raw NUL), handled in order on the same service, so that a
// look-up, an update or a delete can meet the rows an earlier insert made.
// Handle promises never to throw and to answer every request with a
// response that decodes; the response decoder itself gets the raw bodies
// too.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "platform/Errors.h"
#include "platform/Wire.h"
#include "server/Service.h"

using namespace trd;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static std::shared_ptr<server::Service> service = server::Service::Open(":memory:");
  {
    auto session = service->Storage().Acquire();
    session->Execute("DELETE FROM TRDPROPRIEDADE");
    session->Execute("DELETE FROM TRDVERSAO");
  }
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  for (int n = 0; n < 8; ++n) {
    const std::size_t nul = rest.find('\0');
    const std::string_view body = rest.substr(0, nul);
    try {
      wire::DecodeRequest(body);
    } catch (const ProtocolError&) {
    }
    try {
      wire::DecodeResponse(body);
    } catch (const ProtocolError&) {
    }
    const std::string response = service->Handle(body);
    try {
      wire::DecodeResponse(response);
    } catch (const ProtocolError& e) {
      std::fprintf(stderr, "%s\n--- response ---\n%s\n", e.what(), response.c_str());
      fuzz::Require(false, "every response of the service decodes");
    }
    if (nul == std::string_view::npos) break;
    rest.remove_prefix(nul + 1);
  }
  return 0;
}
