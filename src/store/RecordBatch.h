// The client's side of the batch method SetPropriedArq (docs/server.md,
// protocol/RecordBatch.h): a file's texts are gathered in scan order while it
// is read; whole files are gathered into one call, and the server runs the
// record rule on each text, all of the call in one transaction. One round
// trip per call instead of one to six per text; the table and the run's
// counters come out as the text-by-text path leaves them.
//
// How many files a call gathers follows its answer time, so that several
// harvests at once keep each other's calls short: the first call carries one
// file; after an answer well under kCallTime (half of it) the next call
// gathers twice the texts the last one carried (the call goes out at the end
// of the file that reaches that many); after one over kCallTime it gathers
// as many as would have taken half of kCallTime at the rate just seen (one
// file at least). A call never holds more than its part size (kPartBytes of
// request, and for a caller that asks, a number of texts): the files
// gathered go out before a file's text would take the call over it.
//
// A file's texts alone over the part size are sent in parts of at most that
// size as it is gathered (each part one call, in order; a failure in a
// later part leaves the earlier parts stored, as the text-by-text path
// leaves the texts before a failure). The server's request limit (8 MiB by
// default) stays well above a part even when every character needs
// escaping.
//
// A file is settled (TakeSettled) when its call is answered: stored, its
// outcomes counted then; or failed. A call of several files that fails is
// sent again file by file, so that the failure lands on its own file and the
// other files are stored as file-by-file calls store them. After a failed
// file the files behind it are sent on (AfterFailedFile::NextFile), or
// dropped unsent (Stop, and always past an unreachable server or a failure
// shown to the user): the run ends there. A server that refuses a call of
// several files as malformed while it takes each of them alone predates
// such calls: one file per call from then on.
//
// Counters (Store::stats) are counted from the outcomes, as the text-by-text
// path counts the answers: every text seen; stored already or meanwhile;
// created; replaced (a replace counts created too); translations reused.
//
// Sending::Ahead overlaps reading and storing: a call of gathered files goes
// out on a thread of its own and the next files are read meanwhile; at most
// one such call is out at a time, and it is answered (settled, resent file by
// file on failure, counted) before the next goes out, before a part goes out,
// and in Flush, Drop and Start; TakeSettled settles it once its answer is in.
// What is stored and counted, and in what order, is what Sending::InTurn
// gives; a failure that ends the run is found one call later, so the files
// read meanwhile are dropped unsent. Only the call itself runs on that
// thread, on the form connection, which nothing else may use meanwhile; the
// result check, the busy indicator and the counters stay with the caller.
#pragma once

#include <chrono>
#include <cstddef>
#include <exception>
#include <future>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "RecordRule.h"
#include "platform/Value.h"
#include "protocol/RecordBatch.h"

namespace trd::store {

class Store;

// The most one call (or part) holds: request bytes (estimated from the
// texts), and texts. A call holds one text at least.
struct PartSize {
  std::size_t bytes = std::size_t(1) << 20;
  std::size_t texts = std::numeric_limits<std::size_t>::max();
};

// What a failed file does to the files done after it.
enum class AfterFailedFile { Stop, NextFile };

// Whether a call of gathered files is answered before the next file is read
// (InTurn) or goes out while the next files are read (Ahead).
enum class Sending { InTurn, Ahead };

// A file's fate, in the order the files were done: null when its texts were
// stored, else why it failed.
using FileFate = std::exception_ptr;

class RecordBatch {
 public:
  static constexpr std::size_t kPartBytes = PartSize{}.bytes;
  static constexpr std::chrono::milliseconds kCallTime{50};

  // Sends through `store`'s form connection (NetTradRelDfm) for `language`;
  // the first call gathers `first_call_texts` texts (whole files).
  RecordBatch(Store& store, std::string language, PartSize part = {}, std::size_t first_call_texts = 1,
              Sending sending = Sending::InTurn);
  // Waits for a call still out (its outcome is not counted).
  ~RecordBatch();
  RecordBatch(const RecordBatch&) = delete;
  RecordBatch& operator=(const RecordBatch&) = delete;

  // A run starts: nothing is gathered, nothing stopped; the texts a call
  // gathers as they were.
  void Start(AfterFailedFile after_failure);
  // Adds a text of the file being read under `key` (its language is the
  // batch's). Sends the files gathered first when the text would take the
  // call over its size, then the file's own texts as a part when they alone
  // would. A text no record can hold (StorableText) is not sent: it is
  // counted as skipped with its file's (or part's) outcomes. Raises what a
  // part's call raises (ServerError, ConnectionError): the file failed.
  void Add(const RecordKey& key, const RecordText& text, protocol::Declined declined,
           protocol::TranslationLookUp look_up);
  // The file being read is done: it waits for its call, which goes out now
  // when the files gathered reach the texts a call gathers.
  void EndFile();
  // The file being read failed: none of what is gathered of it goes out.
  void DropFile();
  // Every file gathered goes out.
  void Flush();
  // Every file gathered is dropped unsent: the run ends.
  void Drop();
  // The files settled since the last call, in the order they were done.
  std::vector<FileFate> TakeSettled();

  std::size_t Pending() const { return records_.rows.size(); }
  // The calls sent so far.
  int Calls() const { return calls_; }

 private:
  struct File {
    std::size_t rows = 0;  // sent in its call
    long skipped = 0;      // texts left out, counted with its outcomes
  };
  using Clock = std::chrono::steady_clock;

  // The files gathered, taken out to be sent.
  struct Gathered {
    std::vector<File> files;
    std::vector<Row> rows;            // theirs, in order
    std::vector<std::size_t> counts;  // of the files with rows
  };
  // A call's answer (or what the call raised) and how long it took.
  struct Answer {
    Value result;
    Clock::duration took{};
  };

  void SendGathered();
  void SendPart();
  // Settles `g`: counts the outcomes of its files, or their fates. `first`,
  // when given, answers the call SendGathered makes first for `g` (every row,
  // with `counts` when several files have rows), made already.
  void Settle(Gathered g, std::optional<std::future<Answer>> first);
  // Settles the call out (Sending::Ahead), if any, once it is answered.
  void SettleOut();
  // One call of `rows`; `counts` its files' numbers of rows when several.
  // The rows are as they were when it returns or throws (a failed call of
  // several files is sent again file by file). Touches nothing of the batch
  // but the form connection and the language.
  Answer Send(std::vector<Row>& rows, const std::vector<std::size_t>& counts);
  // Send, counted, under the busy indicator.
  Answer Call(std::vector<Row>& rows, const std::vector<std::size_t>& counts);
  // The answer of the call out, once in; raises what the call raised.
  static Answer Take(std::optional<std::future<Answer>>& first);
  // The outcomes of a call of `sent` rows (of several files), checked;
  // raises its failure or what the check raises.
  Packet Check(Answer answer, std::size_t sent, bool several);
  // The outcomes of `rows` files' rows from `from` on.
  void Count(const Packet& outcomes, std::size_t from, std::size_t rows);
  void CountSkipped(long skipped);
  void Adapt(std::size_t texts, Clock::duration took);

  Store& store_;
  std::string language_;
  PartSize part_;
  AfterFailedFile after_failure_ = AfterFailedFile::Stop;
  Packet records_;           // the rows of the files gathered, then of the file being read
  std::vector<File> files_;  // the files gathered
  File reading_;             // the file being read: its rows end records_
  std::size_t bytes_ = 0, reading_bytes_ = 0;
  std::size_t gather_texts_ = 1;  // the texts a call gathers before it goes out
  bool several_files_ = true;     // the server takes calls of several files
  bool stopped_ = false;          // a file failed and the run ends
  std::vector<FileFate> settled_;
  int calls_ = 0;
  Sending sending_;
  // The call out (Sending::Ahead): its files, and its answer to come. Last:
  // a call still out is waited for before the rest goes.
  std::optional<Gathered> out_;
  std::future<Answer> out_answer_;
};

}  // namespace trd::store
