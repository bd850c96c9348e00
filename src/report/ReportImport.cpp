#include "ReportImport.h"

#include "platform/Path.h"
#include "platform/SourceFile.h"
#include "platform/Text.h"
#include "protocol/Record.h"
#include "store/Languages.h"
#include "store/StagingChannel.h"

namespace trd::report {
namespace {

// The entry of `key` in the caller's table, else in ours, else the key.
std::string MessageText(const shared::TMessages& table, std::string_view key) {
  return table.Has(key) ? table.Msg(key) : ReportMessages().Msg(key);
}

enum class FileSignature { Report, Other };

// Reads only the file's first two bytes.
FileSignature ReadFileSignature(std::string_view path) {
  std::optional<std::uint16_t> id = ReadSignature(ReadSourceFileHead(path, kSignatureSize));
  return id && *id == kReportFileID ? FileSignature::Report : FileSignature::Other;
}

void ShowNotAReport(const ReportRun& run, std::string_view path) {
  const std::string text =
      shared::FormatMessage(MessageText(run.messages, "Nao_Import"), {text::PathText(FileName(path))});
  shared::TMessages({"Nao_Import|" + text})
      .ShowMsg(*run.store.Services().dialogs, "Nao_Import", shared::MsgType::Confirmation, shared::MsgButtons::Ok,
               0);
}

void ShowStatus(const ReportRun& run, std::string_view path, std::string_view element,
                std::string_view number, std::string_view property, std::string_view text) {
  if (run.status) {
    std::string line = protocol::ProgramCode(path);
    for (std::string_view part : {element, property, number, text}) {
      line += " - ";
      line += part;
    }
    line += " ...";
    run.status(line);
  }
  if (run.process_events) run.process_events();
}

// The report files' side of the record rule: their staging tables, every
// text accepted, the status line and the event pump at every step.
class ReportChannel final : public store::StagingChannel {
 public:
  ReportChannel(const ReportRun& run, std::string_view path, std::string_view element, int number,
                std::string_view property)
      : StagingChannel(run.store, run.store.ReportRecords(),
                       {store::ChannelStyle::TranslationSource::WholeText,
                        store::ChannelStyle::UpdateArguments::Text, &run.dates,
                        store::ChannelStyle::BusyOff::AfterLookupsAndFailures}),
        run_(run), path_(path), element_(element), number_(std::to_string(number)), property_(property) {}

 protected:
  void Notice(store::RuleStep, const store::RecordText& text) override {
    ShowStatus(run_, path_, element_, number_, property_, text.read);
  }

 private:
  const ReportRun& run_;
  std::string_view path_, element_;
  std::string number_;
  std::string_view property_;
};

}  // namespace

const shared::TMessages& ReportMessages() {
  static const shared::TMessages messages(
      {"Nao_Import|O arquivo %s não é um relatório válido e não foi importado."});
  return messages;
}

ReportOutcome ReportImporter::ImportRel(const ReportRun& run, std::string_view path) {
  if (store::CheckLanguage(run.store.cdsIdiLeDfm, run.language_box_text) == store::LanguageCheck::Unknown) {
    if (run.focus_language_box) run.focus_language_box();
    run.store.Services().MensErro(MessageText(run.messages, "Idi_Inv"), true);
  }
  int unnamed = 0;

  if (ReadFileSignature(path) == FileSignature::Other) {
    ShowNotAReport(run, path);
    return ReportOutcome::NotAReport;
  }
  loader_.Load(path);

  auto element_name = [&unnamed](const ReportElement& e) {
    if (!e.name.empty()) return e.name;
    return "__" + e.class_name + std::to_string(unnamed++);
  };
  auto stop = [&run] { return run.stop_requested && run.stop_requested(); };
  const std::vector<ReportElement>& components = loader_.Components();
  const std::size_t count = components.size();
  for (std::size_t i = 0; i < count; ++i) {
    const ReportElement& e = components[i];
    const ElementClass* cls = ClassOf(e.kind);
    if (!cls) continue;
    if (cls->shape == TextShape::Single) {
      if (stop()) return ReportOutcome::Read;
      StoreReportValue(run, path, element_name(e), 0, cls->recorded_property, e.texts.front());
      continue;
    }
    for (std::size_t j = 0; j < e.texts.size(); ++j) {
      if (stop()) return ReportOutcome::Read;
      std::string_view line = e.texts[j];
      if (e.kind == ElementKind::Expression) {
        if (std::size_t bar = line.find('|'); bar != std::string_view::npos)
          line.remove_prefix(bar + 1);
      }
      StoreReportValue(run, path, element_name(e), int(j), cls->recorded_property, line);
    }
  }
  return ReportOutcome::Read;
}

void StoreReportValue(const ReportRun& run, std::string_view path, std::string_view element,
                      int number, std::string_view property, std::string_view text) {
  ReportChannel channel(run, path, element, number, property);
  const store::RecordKey key{text::UpperAscii(protocol::ProgramCode(path)), std::string(kReportFormName),
                             std::string(element), std::string(property), double(number), run.language};
  channel.Apply(key, text);
}

}  // namespace trd::report
