#include "messages.hpp"

namespace zel_cli {

void tell(std::ostream& err, std::string_view message) {
  err << "zel-profile: " << zel_report::printable(message) << "\n";
}

}  // namespace zel_cli
