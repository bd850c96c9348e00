#include "RecordCreation.h"

#include <string>

#include "PropertyValues.h"
#include "platform/Text.h"
#include "shared/Services.h"

namespace trd::extract {
namespace {

std::string StatusLine(const ScannerContext& ctx, std::string_view text, StatusText style) {
  std::string s = ctx.program_code + " - " + ctx.form_name + " - " + ctx.component_name + " - " +
                  ctx.property_name + " - ";
  if (style == StatusText::WholeValue) {
    s.append(text);
  } else {
    s.append(text::Left(text, 30));
    s += " ...";
  }
  return s;
}

// What the scanner shows of one text as the sink reaches the rule's steps.
class FormWatcher final : public protocol::TextWatcher {
 public:
  FormWatcher(ScannerContext& ctx, std::string_view text, const RecordOptions& options, protocol::Declined declined)
      : ctx_(ctx), text_(text), options_(options), declined_(declined) {}

  // Pending events (a click on the cancel button) run here for every text,
  // new ones too, so that a cancel takes effect before the next text is read.
  void Reached(protocol::TextStep step) override {
    told_ = true;
    if (step == protocol::TextStep::StoredMeanwhile || step == protocol::TextStep::Creating)
      ctx_.program_code = text::UpperAscii(ctx_.program_code);
    const bool quiet = step == protocol::TextStep::Skipped ||
                       (step == protocol::TextStep::StoredAlready && options_.stored == StoredNotice::Silent) ||
                       (step == protocol::TextStep::Gathered && declined_ == protocol::Declined::Yes);
    if (!quiet && ctx_.env.status) ctx_.env.status(StatusLine(ctx_, text_, options_.status));
    if (ctx_.env.process_events) ctx_.env.process_events();
  }

  // The sink kept the text without a step: the events run once all the same.
  void Taken() {
    if (!told_ && ctx_.env.process_events) ctx_.env.process_events();
  }

 private:
  ScannerContext& ctx_;
  std::string_view text_;
  const RecordOptions& options_;
  const protocol::Declined declined_;
  bool told_ = false;
};

bool Declines(const ScannerContext& ctx, std::string_view text, const RecordOptions& options) {
  if (!TestaValorProp(text, ctx.component_name, ctx.class_name, ctx.property_name)) return true;
  return options.empty == EmptyText::Skip && shared::EmptyString(text);
}

}  // namespace

void CreateRecord(ScannerContext& ctx, std::string_view text, const RecordOptions& options) {
  const protocol::FoundText found{
      {text::UpperAscii(ctx.program_code), ctx.form_name, ctx.component_name, ctx.property_name,
       double(options.number), ctx.env.language},
      text,
      Declines(ctx, text, options) ? protocol::Declined::Yes : protocol::Declined::No,
      protocol::TranslationLookUp::Yes,
      protocol::TextSource::Form};
  FormWatcher watcher(ctx, text, options, found.declined);
  ctx.env.sink.Take(found, watcher);
  watcher.Taken();
}

}  // namespace trd::extract
