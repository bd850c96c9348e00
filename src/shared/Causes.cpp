#include "Causes.h"

#include "Services.h"
#include "platform/Errors.h"
#include "protocol/Failures.h"

namespace trd::shared {
namespace {

// The cause as a clause starting with a lower-case ASCII letter; empty for
// failures that are not this product's.
std::string_view Cause(const std::exception& e) {
  const auto* refused = dynamic_cast<const protocol::ServerFailureError*>(&e);
  if (dynamic_cast<const WidthError*>(&e) || (refused && refused->Code() == protocol::FailureCode::Width))
    return "um nome ou texto do arquivo é maior que a sua coluna na tabela de tradução; encurte-o no "
           "arquivo-fonte (o detalhe técnico diz qual coluna e quantos caracteres ela comporta)";
  if (refused && refused->Code() == protocol::FailureCode::UnknownLanguage)
    return "o idioma escolhido não está entre os idiomas do servidor de tradução; escolha um dos idiomas que "
           "ele lista";
  if (refused && refused->Code() == protocol::FailureCode::InvalidKey)
    return "um nome da chave do registro (programa, formulário, componente ou propriedade) está vazio ou tem "
           "caracteres de controle; corrija-o no arquivo-fonte";
  if (refused && refused->Code() == protocol::FailureCode::Storage)
    return "o banco de dados do servidor de tradução recusou um texto do arquivo";
  if (dynamic_cast<const ConnectionError*>(&e)) return "o servidor de tradução não pôde ser alcançado";
  if (dynamic_cast<const ServerError*>(&e)) return "o servidor de tradução recusou a operação";
  if (dynamic_cast<const ProtocolError*>(&e)) return "o servidor de tradução deu uma resposta inválida";
  if (dynamic_cast<const FileError*>(&e)) return "o arquivo não pôde ser lido";
  if (dynamic_cast<const FormatError*>(&e)) return "o arquivo está malformado ou incompleto";
  return {};
}

std::string_view Detail(std::string_view what, std::string_view path) {
  if (!path.empty() && what.size() > path.size() + 2 && what.substr(0, path.size()) == path &&
      what.substr(path.size(), 2) == ": ")
    what.remove_prefix(path.size() + 2);
  return what;
}

}  // namespace

std::string CauseText(const std::exception& e, std::string_view path) {
  const std::string_view detail = Detail(e.what(), path);
  const std::string_view cause = Cause(e);
  if (cause.empty()) return std::string(detail);
  return std::string(cause) + ". Detalhe técnico: " + std::string(detail);
}

std::string ErrorMessage(const std::exception& e) {
  const std::string_view cause = Cause(e);
  if (cause.empty()) return e.what();
  std::string text(cause);
  text[0] = char(text[0] - 'a' + 'A');
  return text + ".\nDetalhe técnico: " + e.what();
}

}  // namespace trd::shared
