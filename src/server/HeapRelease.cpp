#include "HeapRelease.h"

#include <malloc.h>

namespace trd::server {

void LimitHeapArenas() { mallopt(M_ARENA_MAX, kHeapArenas); }

void ReleaseAfterAnswer(std::size_t bytes) {
  if (bytes >= kReleaseAfterBytes) malloc_trim(0);
}

}  // namespace trd::server
