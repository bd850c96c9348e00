#include "Attribution.h"

#include <utility>

namespace trd::server {
namespace {

constexpr std::pair<Origin, std::string_view> kCodes[] = {
    {Origin::Harvest, "colheita"}, {Origin::Reuse, "reuso"},   {Origin::Import, "importacao"},
    {Origin::Page, "pagina"},      {Origin::Call, "chamada"},  {Origin::Retire, "retirada"},
    {Origin::Review, "revisao"},   {Origin::Record, "registro"},
};

}  // namespace

std::string_view OriginCode(Origin origin) {
  for (const auto& [o, code] : kCodes)
    if (o == origin) return code;
  return {};
}

std::optional<Origin> OriginOfCode(std::string_view code) {
  for (const auto& [o, c] : kCodes)
    if (c == code) return o;
  return std::nullopt;
}

}  // namespace trd::server
