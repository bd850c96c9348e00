#include "TextChannels.h"

#include "StagingChannel.h"

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

BatchChannel::BatchChannel(Store& store, std::string language, PartSize part, std::size_t first_call_texts)
    : batch_(store, std::move(language), part, first_call_texts) {}

void BatchChannel::Take(const protocol::FoundText& text, protocol::TextWatcher& watcher) {
  watcher.Reached(protocol::TextStep::Gathered);
  batch_.Add(text.key, RecordText(text.text), text.declined, text.look_up);
}

DryRunChannel::DryRunChannel(Store& store, const DateTimeText& dates, DryRun::Observer observer)
    : store_(store), dates_(dates), dry_run_(store, std::move(observer)) {}

void DryRunChannel::Take(const protocol::FoundText& text, protocol::TextWatcher& watcher) {
  StagingChannel staging(store_, dates_, text, watcher);
  dry_run_.Apply(staging, text.key, text.text);
}

}  // namespace trd::store
