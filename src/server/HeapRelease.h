// The server's heap between answers. A page of records or an export's
// answer is built by whichever worker takes the request; the C library gives
// each thread that allocates at once an arena of its own and keeps what an
// arena frees for later, so that after a few large answers on many threads a
// server would hold several copies of its largest answer, idle.
//
// LimitHeapArenas: called once before the server's threads start; at most
// kHeapArenas arenas, whatever the thread count (the workers mostly wait on
// the storage, so they seldom allocate at the same moment).
// ReleaseAfterAnswer: after an answer of `bytes` was built and the work
// behind it freed, an answer of kReleaseAfterBytes or more gives the free
// pages of every arena back to the system (a walk of the free lists; small
// next to building such an answer). Smaller answers release nothing: their
// memory is reused by the next ones.
#pragma once

#include <cstddef>

namespace trd::server {

inline constexpr int kHeapArenas = 2;
inline constexpr std::size_t kReleaseAfterBytes = std::size_t(256) << 10;

void LimitHeapArenas();
void ReleaseAfterAnswer(std::size_t bytes);

}  // namespace trd::server
