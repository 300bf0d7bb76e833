#include <zel_package/storage.hpp>

#include <utility>

namespace zel_package {
namespace {

// "SOURCE: PATH: PROBLEM", leaving out the parts that are empty; standard input is named as such.
std::string full_message(const std::string& source, const std::string& json_path,
                         const std::string& problem) {
  std::string message;
  if (!source.empty()) message += (source == "-" ? "standard input" : source) + ": ";
  if (!json_path.empty()) message += json_path + ": ";
  return message + problem;
}

}  // namespace

ProfileReadError::ProfileReadError(std::string source, std::string json_path, std::string problem)
    : std::runtime_error(full_message(source, json_path, problem)),
      source_(std::move(source)),
      json_path_(std::move(json_path)),
      problem_(std::move(problem)) {}

}  // namespace zel_package
