#include "RecordCreation.h"

#include <string>

#include "PropertyValues.h"
#include "platform/Text.h"
#include "shared/Services.h"
#include "store/StagingChannel.h"

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

// The form files' side of the record rule: their staging tables, the
// value test and the status line.
class FormChannel final : public store::StagingChannel {
 public:
  FormChannel(ScannerContext& ctx, const RecordOptions& options)
      : StagingChannel(ctx.env.store, ctx.env.store.FormRecords(), store::ChannelStyle{}),
        ctx_(ctx),
        options_(options) {}

  bool Accepts(const store::RecordKey&, const store::RecordText& text) override {
    if (!TestaValorProp(text.read, ctx_.component_name, ctx_.class_name, ctx_.property_name)) return false;
    if (options_.empty == EmptyText::Skip && shared::EmptyString(text.read)) return false;
    // From the first record of the file on, the status line shows the code
    // as the records hold it.
    ctx_.program_code = text::UpperAscii(ctx_.program_code);
    return true;
  }

 protected:
  void Notice(store::RuleStep step, const store::RecordText& text) override {
    if (step == store::RuleStep::StoredAlready && options_.stored == StoredNotice::Silent) return;
    if (ctx_.env.status) ctx_.env.status(StatusLine(ctx_, text.read, options_.status));
    if (step == store::RuleStep::StoredAlready && ctx_.env.process_events) ctx_.env.process_events();
  }

 private:
  ScannerContext& ctx_;
  const RecordOptions& options_;
};

}  // namespace

void CreateRecord(ScannerContext& ctx, std::string_view text, const RecordOptions& options) {
  FormChannel channel(ctx, options);
  const store::RecordKey key{text::UpperAscii(ctx.program_code), ctx.form_name,        ctx.component_name,
                             ctx.property_name,                  double(options.number), ctx.env.language};
  channel.Apply(key, text);
}

}  // namespace trd::extract
