// The three ways a run's texts reach the translation table, each an object
// the run is given when it starts (the caller chooses; the run and the
// scanners only see a TextChannel):
//
//   PerTextChannel  the record rule text by text over the staging tables,
//                   each step its own call (store/StagingChannel.h): the
//                   reference (`trd harvest --per-text`);
//   BatchChannel    a file's texts gathered while it is read, whole files
//                   gathered into one call as its answer time allows, or a
//                   large file's in parts as they fill (store/RecordBatch.h:
//                   the server runs the same rule in one transaction per
//                   call): the screen's and `trd harvest`'s;
//   TextCallChannel text by text, each text's whole rule one call: the batch
//                   method with that text alone, so the server answers the
//                   look-ups and makes the change together (one round trip
//                   for a new text as for a stored one); `trd harvest
//                   --one-call-per-text`;
//   DryRunChannel   look-ups only: nothing is written, every text's outcome
//                   goes to an observer (store/DryRun.h).
//
// Each counts into the store's statistics (Store::stats) as the per-text
// path does, so that a run's summary is the same whichever it took. After a
// file failed (FileFailed) a channel holds nothing of it and takes the next
// file's texts as if the failed one had not been read: a caller may go on
// past a failed file. A file done is settled (TakeSettled) once its texts
// are stored, or have failed to be: at once on the per-text path and in a
// dry run, with its call's answer on the batch path (then its counters too).
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "DryRun.h"
#include "RecordBatch.h"
#include "Store.h"
#include "platform/DateTimeText.h"
#include "protocol/FoundText.h"

namespace trd::store {

// Whether a channel's texts change the table.
enum class ChannelEffect { Writes, WritesNothing };

class TextChannel : public protocol::TextSink {
 public:
  // A run starts; `after_failure`: what a file that fails when its texts
  // are stored does to the files done after it.
  virtual void Start(AfterFailedFile after_failure) {}
  // The texts of one file were all taken (the file read to its end or cut
  // short by a cancel): the channel stores them, now or with a later call.
  virtual void FileDone() { settled_.push_back(nullptr); }
  // The file failed while it was read: nothing the channel holds of it goes
  // out.
  virtual void FileFailed() {}
  // Every file the channel holds goes out (a run's end, a cancel).
  virtual void Flush() {}
  // Every file the channel holds is dropped unsent (a run that ends early).
  virtual void Drop() {}
  // The files done whose fate is known since the last call, in the order
  // they were done: null when stored, else why they failed.
  virtual std::vector<FileFate> TakeSettled() { return std::exchange(settled_, {}); }
  virtual ChannelEffect Effect() const { return ChannelEffect::Writes; }

 private:
  std::vector<FileFate> settled_;
};

class PerTextChannel final : public TextChannel {
 public:
  // Opens the staging tables of new records (cdsPropRel, cdsPropProp) for
  // its life; `dates` formats the report files' UpdateRelDfm time. The
  // references must outlive the channel.
  PerTextChannel(Store& store, const DateTimeText& dates);
  ~PerTextChannel() override;
  PerTextChannel(const PerTextChannel&) = delete;
  PerTextChannel& operator=(const PerTextChannel&) = delete;

  void Take(const protocol::FoundText& text, protocol::TextWatcher& watcher) override;
  // A posted row stays in its table once the server has it; nothing reads
  // it again, so the tables are emptied after every file and a run's memory
  // does not grow with the size of the tree.
  void FileDone() override {
    EmptyTables();
    TextChannel::FileDone();
  }
  void FileFailed() override { EmptyTables(); }

 private:
  void EmptyTables();
  Store& store_;
  const DateTimeText& dates_;
};

class BatchChannel final : public TextChannel {
 public:
  // Sends through `store`'s form connection for `language` (the run's);
  // the first call gathers `first_call_texts` texts; `sending` says whether
  // the next files are read while a call is out (RecordBatch).
  BatchChannel(Store& store, std::string language, PartSize part = {}, std::size_t first_call_texts = 1,
               Sending sending = Sending::InTurn);

  void Start(AfterFailedFile after_failure) override { batch_.Start(after_failure); }
  // Gathers the text (a call or part goes out when it is full) and tells
  // Gathered.
  void Take(const protocol::FoundText& text, protocol::TextWatcher& watcher) override;
  void FileDone() override { batch_.EndFile(); }
  void FileFailed() override { batch_.DropFile(); }
  void Flush() override { batch_.Flush(); }
  void Drop() override { batch_.Drop(); }
  std::vector<FileFate> TakeSettled() override { return batch_.TakeSettled(); }

  // The calls sent so far.
  int Calls() const { return batch_.Calls(); }

 private:
  RecordBatch batch_;
};

class TextCallChannel final : public TextChannel {
 public:
  // Sends through `store`'s form connection for `language` (the run's);
  // `dates` is for the fallback below. The references must outlive the
  // channel.
  TextCallChannel(Store& store, std::string language, const DateTimeText& dates);

  // Tells Gathered (the outcome is the server's answer), then sends the text
  // alone and counts its outcome. Before the first text the server is asked
  // an empty batch: one that has no such method (no_method, or a failure
  // without a code from a server older than the codes) gets this run's
  // texts as PerTextChannel sends them, each step its own call, with the
  // same records and counters.
  void Start(AfterFailedFile after_failure) override { batch_.Start(after_failure); }
  void Take(const protocol::FoundText& text, protocol::TextWatcher& watcher) override;
  void FileDone() override;
  void FileFailed() override;

  // Whether the server lacked the method, and the steps went as calls of
  // their own.
  bool SteppedFallback() const { return steps_.has_value(); }

 private:
  Store& store_;
  std::string language_;
  const DateTimeText& dates_;
  RecordBatch batch_;
  bool probed_ = false;
  std::optional<PerTextChannel> steps_;  // once the server refused the method
};

class DryRunChannel final : public TextChannel {
 public:
  // The look-ups go through `store` (their tables and calls as the
  // per-text channel's); what a real run would do goes to `observer` (may
  // be empty).
  DryRunChannel(Store& store, const DateTimeText& dates, DryRun::Observer observer);

  void Take(const protocol::FoundText& text, protocol::TextWatcher& watcher) override;
  ChannelEffect Effect() const override { return ChannelEffect::WritesNothing; }

 private:
  Store& store_;
  const DateTimeText& dates_;
  DryRun dry_run_;
};

}  // namespace trd::store
