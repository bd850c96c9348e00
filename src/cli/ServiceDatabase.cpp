#include "ServiceDatabase.h"

#include <exception>
#include <filesystem>

#include "platform/Errors.h"
#include "server/PostgresDatabase.h"

namespace trd::cli {

void PrepareDatabaseDir(const std::string& url) {
  if (url == ":memory:") return;
  std::string path = url.starts_with("sqlite:") ? url.substr(7) : url;
  if (path.find("://") != std::string::npos) return;
  auto dir = std::filesystem::path(path).parent_path();
  if (!dir.empty()) std::filesystem::create_directories(dir);
}

std::shared_ptr<server::Service> OpenService(const std::string& url, const server::ServiceOptions& options) {
  try {
    PrepareDatabaseDir(url);
    return server::Service::Open(url, options);
  } catch (const std::exception& e) {
    const std::string shown = server::RedactPassword(url);
    const std::string why = e.what();
    if (why.find(shown) != std::string::npos) throw Error(why);
    throw Error("cannot use the database " + shown + ": " + why);
  }
}

}  // namespace trd::cli
