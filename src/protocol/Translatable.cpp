#include "Translatable.h"

#include "platform/Text.h"

namespace trd::protocol {

bool Translatable(std::string_view source) {
  if (source.empty() || !text::IsValidUtf8(source)) return false;
  for (std::size_t i = 0; i < source.size();)
    if (NoExchangeFileCarries(text::DecodeUtf8(source, i))) return false;
  return true;
}

}  // namespace trd::protocol
