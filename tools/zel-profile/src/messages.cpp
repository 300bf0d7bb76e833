#include "messages.hpp"

#include <zel_report/text.hpp>

namespace zel_cli {

std::string shown_name(std::string_view name) {
  if (name.size() <= shown_name_bytes) return zel_report::printable(name);
  std::size_t cut = shown_name_bytes;
  // Back to the start of the character the cut falls in.
  while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
  return zel_report::printable(name.substr(0, cut)) + "...";
}

std::string quoted_name(std::string_view name) { return "'" + shown_name(name) + "'"; }

void tell(std::ostream& err, std::string_view message) {
  err << "zel-profile: " << zel_report::printable(message) << "\n";
}

}  // namespace zel_cli
