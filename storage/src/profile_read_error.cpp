#include <zel_storage/storage.hpp>

#include <utility>

namespace zel_storage {
using namespace zel_package;
namespace {

// "SOURCE: PATH: PROBLEM", leaving out the parts that are empty; standard input is named as such.
// A position makes it "SOURCE:LINE:COLUMN: PATH: PROBLEM", or "line LINE, column COLUMN: ..."
// without a source.
std::string full_message(const std::string& source, const std::string& json_path,
                         const std::string& problem, const std::optional<std::uint64_t>& line,
                         const std::optional<std::uint64_t>& column) {
  std::string message;
  const bool at = line && column;
  if (!source.empty()) {
    message.append(source == "-" ? "standard input" : source);
    if (at)
      message.append(":").append(std::to_string(*line)).append(":").append(std::to_string(*column));
    message.append(": ");
  } else if (at) {
    message.append("line ").append(std::to_string(*line)).append(", column ");
    message.append(std::to_string(*column)).append(": ");
  }
  if (!json_path.empty()) message.append(json_path).append(": ");
  return message.append(problem);
}

}  // namespace

ProfileReadError::ProfileReadError(std::string source, std::string json_path, std::string problem,
                                   std::optional<std::uint64_t> line,
                                   std::optional<std::uint64_t> column)
    : std::runtime_error(full_message(source, json_path, problem, line, column)),
      source_(std::move(source)),
      json_path_(std::move(json_path)),
      problem_(std::move(problem)),
      line_(line),
      column_(column) {}

}  // namespace zel_storage
