#include <zel_server/parameters.hpp>

#include <algorithm>
#include <functional>
#include <map>

#include <zel_package/step_kinds.hpp>

#include "decimal.hpp"
#include "usage_error.hpp"

namespace zel_server {
namespace {

using zel_cli::QueryOptions;

// How one parameter is stored into the request.
struct Parameter {
  std::string name;
  bool repeatable = false;
  std::function<void(ApiRequest&, const std::string&)> store;
};

Parameter optional_word(std::string name, std::optional<std::string> QueryOptions::*field) {
  return {name, false, [field](ApiRequest& request, const std::string& value) {
            request.options.*field = value;
          }};
}

Parameter repeated_word(std::string name, std::vector<std::string> QueryOptions::*field) {
  return {name, true, [field](ApiRequest& request, const std::string& value) {
            (request.options.*field).push_back(value);
          }};
}

Parameter word(std::string name, std::string QueryOptions::*field) {
  return {name, false, [field](ApiRequest& request, const std::string& value) {
            request.options.*field = value;
          }};
}

// The filters every view shares, and the grouping that colours a timeline by group.
std::vector<Parameter> filters() {
  return {
      word("group-by", &QueryOptions::group_by),
      optional_word("metadata-key", &QueryOptions::metadata_key),
      optional_word("kind", &QueryOptions::kind),
      optional_word("kernel", &QueryOptions::kernel),
      optional_word("operation-contains", &QueryOptions::operation_contains),
      repeated_word("tile", &QueryOptions::tiles),
      repeated_word("phase", &QueryOptions::phases),
      repeated_word("metadata", &QueryOptions::metadata),
      optional_word("at", &QueryOptions::at),
  };
}

// The window [from, to) that selects whole samples, as the tool's --from and --to.
void add_window(std::vector<Parameter>& table) {
  table.push_back(optional_word("from", &QueryOptions::from));
  table.push_back(optional_word("to", &QueryOptions::to));
}

Parameter reverse() {
  return {"reverse", false, [](ApiRequest& request, const std::string& value) {
            if (value != "true" && value != "false") {
              throw ParameterError("reverse: expected true or false, got \"" + value + "\"",
                                   "reverse", {"true", "false"});
            }
            request.options.reverse = value == "true";
          }};
}

Parameter cycle(std::string name, std::optional<std::uint64_t> ApiRequest::*field) {
  return {name, false, [name, field](ApiRequest& request, const std::string& value) {
            request.*field = zel_cli::parse_decimal<std::uint64_t>(value, name);
          }};
}

Parameter count(std::string name, std::size_t ApiRequest::*field, std::size_t maximum) {
  return {name, false, [name, field, maximum](ApiRequest& request, const std::string& value) {
            const auto number = zel_cli::parse_decimal<std::size_t>(value, name);
            if (number == 0 || number > maximum) {
              throw ParameterError(name + ": expected a whole number from 1 to " +
                                       std::to_string(maximum) + ", got \"" + value + "\"",
                                   name, {});
            }
            request.*field = number;
          }};
}

Parameter format() {
  return {"format", false, [](ApiRequest& request, const std::string& value) {
            if (value != "json" && value != "binary") {
              throw ParameterError("format: expected one of json|binary, got \"" + value + "\"",
                                   "format", {"json", "binary"});
            }
            request.binary = value == "binary";
          }};
}

// Refuses a timeline of more cells than an answer may hold (each category a cell).
void check_cells(const ApiRequest& request) {
  const std::size_t categories = request.color_by == zel_profile::TimelineColor::Group
                                     ? coloured_groups + 1
                                     : zel_package::step_kind_names.size();
  // Each factor is at most maximum_rows, maximum_bins or 13: the product fits.
  if (request.rows * request.bins * categories > maximum_timeline_cells) {
    throw ParameterError("rows x bins x categories: at most " +
                             std::to_string(maximum_timeline_cells) + " cells an answer, got " +
                             std::to_string(request.rows) + " x " + std::to_string(request.bins) +
                             " x " + std::to_string(categories),
                         "bins", {});
  }
}

Parameter color_by() {
  return {"color-by", false, [](ApiRequest& request, const std::string& value) {
            if (value != "kind" && value != "group") {
              throw ParameterError("color-by: expected one of kind|group, got \"" + value + "\"",
                                   "color-by", {"kind", "group"});
            }
            request.color_by = value == "kind" ? zel_profile::TimelineColor::Kind
                                               : zel_profile::TimelineColor::Group;
          }};
}

std::vector<Parameter> parameters_of(Endpoint endpoint) {
  std::vector<Parameter> table;
  switch (endpoint) {
    case Endpoint::Info:
      break;
    case Endpoint::Query:
      table = filters();
      table.push_back(word("sort-by", &QueryOptions::sort_by));
      table.push_back(optional_word("limit", &QueryOptions::limit));
      table.push_back(reverse());
      table.push_back(optional_word("samples", &QueryOptions::samples));
      add_window(table);
      break;
    case Endpoint::Timeline:
      table = filters();
      table.push_back(cycle("from", &ApiRequest::from));
      table.push_back(cycle("to", &ApiRequest::to));
      table.push_back(count("bins", &ApiRequest::bins, maximum_bins));
      table.push_back(count("rows", &ApiRequest::rows, maximum_rows));
      table.push_back(color_by());
      table.push_back(format());
      break;
    case Endpoint::Samples:
      table = filters();
      table.push_back(optional_word("limit", &QueryOptions::samples));
      table.push_back({"chip", false, [](ApiRequest& request, const std::string& value) {
                         request.chip = zel_cli::parse_decimal<std::size_t>(value, "chip");
                       }});
      add_window(table);
      break;
    case Endpoint::LoadBalance:
      table = filters();
      add_window(table);
      break;
  }
  return table;
}

// "--group-by" as the URL names it: "group-by".
std::string parameter_of_option(const std::string& option) {
  return option.starts_with("--") ? option.substr(2) : option;
}

// The tool's message with its options named as the URL names them.
std::string in_parameter_words(std::string message) {
  if (message.starts_with("--")) message.erase(0, 2);
  for (auto at = message.find(" --"); at != std::string::npos; at = message.find(" --", at)) {
    message.erase(at + 1, 2);
  }
  return message;
}

}  // namespace

ParameterError::ParameterError(const std::string& message, std::string parameter_name,
                               std::vector<std::string> allowed_words)
    : std::runtime_error(message),
      parameter(std::move(parameter_name)),
      allowed(std::move(allowed_words)) {}

std::vector<std::string> parameter_names(Endpoint endpoint) {
  std::vector<std::string> names;
  for (const auto& parameter : parameters_of(endpoint)) names.push_back(parameter.name);
  return names;
}

ApiRequest parse_parameters(Endpoint endpoint, const Parameters& parameters) {
  const auto table = parameters_of(endpoint);
  ApiRequest request;
  std::map<std::string, std::size_t> seen;
  try {
    for (const auto& given : parameters) {
      const auto& [name, value] = given;
      const auto parameter = std::find_if(
          table.begin(), table.end(), [&](const Parameter& p) { return p.name == given.first; });
      if (parameter == table.end()) {
        throw ParameterError("unknown parameter \"" + name + "\"", name, parameter_names(endpoint));
      }
      if (++seen[name] > 1 && !parameter->repeatable) {
        throw ParameterError(name + ": given more than once", name, {});
      }
      parameter->store(request, value);
    }
    if (endpoint == Endpoint::Samples && seen["tile"] != 1) {
      throw ParameterError("tile: exactly one tile is needed", "tile", {});
    }
    if (endpoint == Endpoint::Timeline) check_cells(request);
    if (request.from && request.to && *request.from >= *request.to) {
      throw ParameterError("from: must be less than to", "from", {});
    }
    request.query = zel_cli::to_query(request.options);
    if (endpoint == Endpoint::Samples && !request.options.samples) {
      request.query.sample_limit = 100;
    }
  } catch (const zel_cli::UsageError& error) {
    throw ParameterError(in_parameter_words(error.what()), parameter_of_option(error.option),
                         error.allowed);
  }
  return request;
}

}  // namespace zel_server
