#include "TextChannels.h"

#include <exception>
#include <variant>

#include "StagingChannel.h"
#include "protocol/Failures.h"
#include "protocol/Methods.h"

namespace trd::store {

PerTextChannel::PerTextChannel(Store& store, const DateTimeText& dates) : store_(store), dates_(dates) {
  store_.cdsPropRel.CreateDataSet();
  store_.cdsPropProp.CreateDataSet();
}

PerTextChannel::~PerTextChannel() {
  store_.cdsPropProp.Close();
  store_.cdsPropRel.Close();
}

void PerTextChannel::EmptyTables() {
  store_.cdsPropProp.Close();
  store_.cdsPropRel.Close();
  store_.cdsPropRel.CreateDataSet();
  store_.cdsPropProp.CreateDataSet();
}

void PerTextChannel::Take(const protocol::FoundText& text, protocol::TextWatcher& watcher) {
  StagingChannel staging(store_, dates_, text, watcher);
  ApplyRecordRule(staging, text.key, text.text);
}

BatchChannel::BatchChannel(Store& store, std::string language, PartSize part, std::size_t first_call_texts,
                           Sending sending)
    : batch_(store, std::move(language), part, first_call_texts, sending) {}

void BatchChannel::Take(const protocol::FoundText& text, protocol::TextWatcher& watcher) {
  watcher.Reached(protocol::TextStep::Gathered);
  batch_.Add(text.key, RecordText(text.text), text.declined, text.look_up);
}

TextCallChannel::TextCallChannel(Store& store, std::string language, const DateTimeText& dates)
    : store_(store), language_(language), dates_(dates), batch_(store, std::move(language)) {}

void TextCallChannel::Take(const protocol::FoundText& text, protocol::TextWatcher& watcher) {
  if (!probed_) {
    // Asked directly, not through the result check: a refusal here is an
    // answer, not a failure to show.
    probed_ = true;
    const Value answer = store_.NetTradRelDfm.Call(
        protocol::kSetPropriedArq, {Value(language_), Value(Packet{protocol::BatchRecordFields(), {}})});
    // no_method: a server without the method; a failure without a code: a
    // server older than the codes, and than the method. Any other refusal
    // (the token, a busy server) is the real call's to report.
    if (const auto* refused = std::get_if<ServerFailure>(&answer)) {
      const protocol::FailureCode code = protocol::CodeOf(*refused);
      if (code == protocol::FailureCode::NoMethod || code == protocol::FailureCode::Other) steps_.emplace(store_, dates_);
    }
  }
  if (steps_) return steps_->Take(text, watcher);
  watcher.Reached(protocol::TextStep::Gathered);
  batch_.Add(text.key, RecordText(text.text), text.declined, text.look_up);
  // The text alone is its call's one file, sent now; its failure is this
  // text's, raised here as the steps raise theirs.
  batch_.EndFile();
  batch_.Flush();
  for (FileFate& fate : batch_.TakeSettled())
    if (fate) std::rethrow_exception(fate);
}

void TextCallChannel::FileDone() {
  if (steps_) {
    steps_->FileDone();
    steps_->TakeSettled();  // settled here, below
  }
  TextChannel::FileDone();
}

void TextCallChannel::FileFailed() {
  if (steps_) steps_->FileFailed();
}

DryRunChannel::DryRunChannel(Store& store, const DateTimeText& dates, DryRun::Observer observer)
    : store_(store), dates_(dates), dry_run_(store, std::move(observer)) {}

void DryRunChannel::Take(const protocol::FoundText& text, protocol::TextWatcher& watcher) {
  StagingChannel staging(store_, dates_, text, watcher);
  dry_run_.Apply(staging, text.key, text.text);
}

}  // namespace trd::store
