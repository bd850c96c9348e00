// The three ways a run's texts reach the translation table, each an object
// the run is given when it starts (the caller chooses; the run and the
// scanners only see a TextChannel):
//
//   PerTextChannel  the record rule text by text over the staging tables,
//                   each step its own call (store/StagingChannel.h): the
//                   reference (`trd harvest --per-text`);
//   BatchChannel    a file's texts gathered while it is read and sent in one
//                   call when the file is done, or in parts as they fill
//                   (store/RecordBatch.h: the server runs the same rule in
//                   one transaction per part): the screen's and `trd
//                   harvest`'s;
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
// past a failed file.
#pragma once

#include <optional>
#include <string>

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
  // The texts of one file were all taken (the file read to its end or cut
  // short by a cancel): what the channel holds of it goes out. Raises what
  // the sends raise; the file's texts are dropped either way.
  virtual void FileDone() {}
  // The file failed while it was read: nothing the channel holds of it goes
  // out.
  virtual void FileFailed() {}
  virtual ChannelEffect Effect() const { return ChannelEffect::Writes; }
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
  void FileDone() override { EmptyTables(); }
  void FileFailed() override { EmptyTables(); }

 private:
  void EmptyTables();
  Store& store_;
  const DateTimeText& dates_;
};

class BatchChannel final : public TextChannel {
 public:
  // Sends through `store`'s form connection for `language` (the run's).
  BatchChannel(Store& store, std::string language, PartSize part = {});

  // Gathers the text (a part goes out when it is full) and tells Gathered.
  void Take(const protocol::FoundText& text, protocol::TextWatcher& watcher) override;
  void FileDone() override { batch_.Send(); }
  void FileFailed() override { batch_.Discard(); }

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
