#include "RecordBatch.h"

#include <algorithm>
#include <iterator>
#include <utility>
#include <variant>

#include "Store.h"
#include "protocol/Failures.h"
#include "protocol/Methods.h"

namespace trd::store {
namespace {

// A row's share of the encoded request beyond its texts: field separators,
// the number, the flags.
constexpr std::size_t kRowOverhead = 96;

std::string Flag(bool yes) { return std::string(yes ? protocol::kYes : protocol::kNo); }

// Whether a failure ends the run whatever the run's policy: past an
// unreachable server every file would fail alike, and a failure shown to the
// user has asked already.
bool EndsEveryRun(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const ConnectionError&) {
    return true;
  } catch (const shared::Abort&) {
    return true;
  } catch (...) {
    return false;
  }
}

bool RefusedAsMalformed(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const protocol::ServerFailureError& e) {
    return e.Code() == protocol::FailureCode::Malformed;
  } catch (...) {
    return false;
  }
}

}  // namespace

RecordBatch::RecordBatch(Store& store, std::string language, PartSize part, std::size_t first_call_texts,
                         Sending sending)
    : store_(store),
      language_(std::move(language)),
      part_(part),
      records_{protocol::BatchRecordFields(), {}},
      gather_texts_(std::max<std::size_t>(1, first_call_texts)),
      sending_(sending) {}

RecordBatch::~RecordBatch() {
  if (out_answer_.valid()) out_answer_.wait();
}

void RecordBatch::Start(AfterFailedFile after_failure) {
  Drop();
  settled_.clear();
  after_failure_ = after_failure;
  stopped_ = false;
}

void RecordBatch::Add(const RecordKey& key, const RecordText& text, protocol::Declined declined,
                      protocol::TranslationLookUp look_up) {
  if (stopped_) return;
  if (StorableText(text.value) == Storable::No) {
    ++reading_.skipped;
    return;
  }
  const std::size_t bytes = kRowOverhead + key.program.size() + key.form.size() + key.component.size() +
                            key.property.size() + text.value.size();
  auto over = [&](std::size_t rows, std::size_t gathered_bytes) {
    return rows > 0 && (gathered_bytes + bytes > part_.bytes || rows >= part_.texts);
  };
  if (!files_.empty() && (over(records_.rows.size(), bytes_) || records_.rows.size() >= gather_texts_))
    SendGathered();
  if (stopped_) return;
  if (over(reading_.rows, reading_bytes_)) SendPart();
  if (stopped_) return;
  // Each value copied once (a braced list would copy each twice).
  Row& row = records_.rows.emplace_back();
  row.reserve(protocol::BatchRecordFields().size());
  row.emplace_back(key.program);
  row.emplace_back(key.form);
  row.emplace_back(key.component);
  row.emplace_back(key.property);
  row.emplace_back(key.number);
  row.emplace_back(text.value);
  row.emplace_back(Flag(declined == protocol::Declined::No));
  row.emplace_back(Flag(look_up == protocol::TranslationLookUp::Yes));
  ++reading_.rows;
  bytes_ += bytes;
  reading_bytes_ += bytes;
}

void RecordBatch::EndFile() {
  if (stopped_) return;
  files_.push_back(std::exchange(reading_, {}));
  reading_bytes_ = 0;
  if (records_.rows.empty() || records_.rows.size() >= gather_texts_ || !several_files_) SendGathered();
}

void RecordBatch::DropFile() {
  records_.rows.resize(records_.rows.size() - reading_.rows);
  bytes_ -= reading_bytes_;
  reading_ = {};
  reading_bytes_ = 0;
}

void RecordBatch::Flush() {
  if (!stopped_ && !files_.empty()) SendGathered();
  if (out_) SettleOut();
}

void RecordBatch::Drop() {
  if (out_) SettleOut();
  DropFile();
  records_.rows.clear();
  files_.clear();
  bytes_ = 0;
}

std::vector<FileFate> RecordBatch::TakeSettled() {
  if (out_ && out_answer_.wait_for(std::chrono::seconds(0)) == std::future_status::ready) SettleOut();
  return std::exchange(settled_, {});
}

void RecordBatch::SendGathered() {
  if (out_) SettleOut();  // answered before the next goes out
  if (stopped_) return;
  Gathered g;
  g.files = std::exchange(files_, {});
  std::size_t rows = 0;
  for (const File& f : g.files) {
    rows += f.rows;
    if (f.rows > 0) g.counts.push_back(f.rows);
  }
  // The files' rows lead records_; those of the file being read stay.
  g.rows.assign(std::make_move_iterator(records_.rows.begin()),
                std::make_move_iterator(records_.rows.begin() + std::ptrdiff_t(rows)));
  records_.rows.erase(records_.rows.begin(), records_.rows.begin() + std::ptrdiff_t(rows));
  bytes_ = reading_bytes_;
  if (sending_ == Sending::InTurn || rows == 0) return Settle(std::move(g), std::nullopt);

  // The call Settle would make first, made now on a thread of its own: every
  // row, and the counts when several files have rows (one file's rows alone
  // otherwise, as Settle sends it). The rows are the call's until it is
  // answered (SettleOut waits for it before it touches them), and come back
  // for a resend file by file.
  std::vector<std::size_t> counts = g.counts.size() > 1 && several_files_ ? g.counts : std::vector<std::size_t>{};
  if (counts.empty() && g.counts.size() > 1) return Settle(std::move(g), std::nullopt);
  ++calls_;
  out_ = std::move(g);
  out_answer_ = std::async(std::launch::async, [this, rows = &out_->rows, counts = std::move(counts)] {
    return Send(*rows, counts);
  });
}

void RecordBatch::SettleOut() {
  {
    shared::BusyGuard busy(store_.Services(), shared::ShowAviKind::Transfer);
    out_answer_.wait();
  }
  Gathered g = std::move(*out_);  // the call gave its rows back
  out_.reset();
  Settle(std::move(g), std::move(out_answer_));
}

void RecordBatch::Settle(Gathered g, std::optional<std::future<Answer>> first) {
  const std::size_t rows = g.rows.size();
  std::exception_ptr refused;  // the call of several files
  if (g.counts.size() > 1 && several_files_) {
    try {
      // The rows are kept for a resend file by file.
      const Packet outcomes = Check(first ? Take(first) : Call(g.rows, g.counts), rows, true);
      std::size_t at = 0;
      for (const File& f : g.files) {
        CountSkipped(f.skipped);
        Count(outcomes, at, f.rows);
        at += f.rows;
        settled_.push_back(nullptr);
      }
      return;
    } catch (...) {
      refused = std::current_exception();
    }
  }
  // One call per file: as sent alone, or again after the call of several
  // failed.
  bool each_stored = true;
  std::size_t at = 0;
  for (const File& f : g.files) {
    if (stopped_) break;
    try {
      // A file's texts left out count as they counted when the file was sent
      // alone: with its call, answered or not.
      CountSkipped(f.skipped);
      if (f.rows > 0) {
        std::vector<Row> own;
        if (!first)
          own.assign(std::make_move_iterator(g.rows.begin() + std::ptrdiff_t(at)),
                     std::make_move_iterator(g.rows.begin() + std::ptrdiff_t(at + f.rows)));
        Answer answer = first ? Take(first) : Call(own, {});
        Count(Check(std::move(answer), f.rows, false), 0, f.rows);
      }
      settled_.push_back(nullptr);
    } catch (...) {
      each_stored = false;
      settled_.push_back(std::current_exception());
      if (after_failure_ == AfterFailedFile::Stop || EndsEveryRun(settled_.back())) {
        stopped_ = true;
        Drop();
      }
    }
    at += f.rows;
  }
  if (refused && each_stored && RefusedAsMalformed(refused)) several_files_ = false;
}

void RecordBatch::SendPart() {
  if (out_) SettleOut();  // the parts and files before go first
  if (stopped_) return;
  const File part = std::exchange(reading_, {});
  std::vector<Row> rows = std::move(records_.rows);
  records_.rows.clear();
  bytes_ = reading_bytes_ = 0;
  CountSkipped(part.skipped);
  Count(Check(Call(rows, {}), part.rows, false), 0, part.rows);
}

RecordBatch::Answer RecordBatch::Send(std::vector<Row>& rows, const std::vector<std::size_t>& counts) {
  std::vector<Value> args;  // emplaced: a list would copy every record
  args.reserve(3);
  args.emplace_back(language_);
  args.emplace_back(Packet{protocol::BatchRecordFields(), std::move(rows)});
  if (counts.size() > 1) args.emplace_back(protocol::FileCountsText(counts));
  struct GiveBack {  // CallKeeping leaves the arguments as they were
    std::vector<Value>& args;
    std::vector<Row>& rows;
    ~GiveBack() { rows = std::move(std::get<Packet>(args[1]).rows); }
  } give_back{args, rows};
  const Clock::time_point start = Clock::now();
  Answer answer{store_.NetTradRelDfm.CallKeeping(protocol::kSetPropriedArq, args), {}};
  answer.took = Clock::now() - start;
  return answer;
}

RecordBatch::Answer RecordBatch::Call(std::vector<Row>& rows, const std::vector<std::size_t>& counts) {
  shared::BusyGuard busy(store_.Services(), shared::ShowAviKind::Transfer);
  ++calls_;
  return Send(rows, counts);
}

RecordBatch::Answer RecordBatch::Take(std::optional<std::future<Answer>>& first) {
  std::future<Answer> answer = std::move(*first);
  first.reset();
  return answer.get();  // raises what the call raised
}

Packet RecordBatch::Check(Answer answer, std::size_t sent, bool several) {
  Value& result = answer.result;
  // A call of several files that fails is sent again file by file: its
  // failure is no file's own, and is not shown.
  if (const auto* failure = std::get_if<ServerFailure>(&result); failure && several) protocol::RaiseFailure(*failure);
  store_.Services().CheckResultServ(result, true, 0);
  auto* outcomes = std::get_if<Packet>(&result);
  if (!outcomes || outcomes->rows.size() != sent || outcomes->fields != protocol::BatchResultFields())
    throw ServerError(std::string(protocol::kSetPropriedArq) + " did not return one outcome per record (" +
                      std::to_string(sent) + " sent)");
  for (const Row& row : outcomes->rows) {
    const auto* name = std::get_if<std::string>(&row[protocol::kBatchOutcome]);
    if (!name || !OutcomeNamed(*name))
      throw ServerError(std::string(protocol::kSetPropriedArq) + " returned an unknown outcome");
  }
  Adapt(sent, answer.took);
  return std::move(*outcomes);
}

void RecordBatch::CountSkipped(long skipped) {
  store_.stats.texts_seen += skipped;
  store_.stats.skipped += skipped;
}

void RecordBatch::Count(const Packet& outcomes, std::size_t from, std::size_t rows) {
  RunStats& stats = store_.stats;
  for (std::size_t i = from; i < from + rows; ++i) {
    const Row& row = outcomes.rows[i];
    ++stats.texts_seen;
    switch (*OutcomeNamed(std::get<std::string>(row[protocol::kBatchOutcome]))) {
      case RecordOutcome::StoredAlready:
      case RecordOutcome::StoredMeanwhile:
        ++stats.already_stored;
        break;
      case RecordOutcome::Skipped:
        ++stats.skipped;
        break;
      case RecordOutcome::Replaced:
        ++stats.replaced;
        [[fallthrough]];
      case RecordOutcome::Created:
        ++stats.created;
        break;
    }
    const auto* reused = std::get_if<std::string>(&row[protocol::kBatchTranslation]);
    if (reused && *reused == protocol::kYes) ++stats.translations_reused;
  }
}

void RecordBatch::Adapt(std::size_t texts, Clock::duration took) {
  const auto half = std::chrono::duration_cast<Clock::duration>(kCallTime) / 2;
  const std::size_t most = std::min<std::size_t>(part_.texts, std::size_t(1) << 20);
  if (took < half)
    gather_texts_ = std::min(most, std::max(gather_texts_, texts) * 2);
  else if (took > kCallTime)
    gather_texts_ = std::max<std::size_t>(1, std::size_t(double(texts) * double(half.count()) / double(took.count())));
}

}  // namespace trd::store
