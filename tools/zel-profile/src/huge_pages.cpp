#include "huge_pages.hpp"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace zel_cli {
namespace {

constexpr const char* tunable = "glibc.malloc.hugetlb=1";

// True when the kernel gives huge pages to the mappings that ask for them and to no others.
bool huge_pages_on_request() {
  std::ifstream setting("/sys/kernel/mm/transparent_hugepage/enabled");
  std::string line;
  return std::getline(setting, line) && line.find("[madvise]") != std::string::npos;
}

}  // namespace

void restart_with_huge_pages(char** argv) {
  const char* off = std::getenv("ZEL_PROFILE_HUGE_PAGES");
  if (off != nullptr && std::string(off) == "0") return;
  const char* tunables = std::getenv("GLIBC_TUNABLES");
  const bool had_tunables = tunables != nullptr;
  const std::string current = had_tunables ? tunables : "";
  // Set already, by the user or by the start before this one.
  if (current.find("glibc.malloc.hugetlb") != std::string::npos) return;
  if (!huge_pages_on_request()) return;
  const std::string wanted = current.empty() ? tunable : current + ":" + tunable;
  if (setenv("GLIBC_TUNABLES", wanted.c_str(), 1) != 0) return;
  execv("/proc/self/exe", argv);
  // Still here: the new start failed, so this one runs without huge pages.
  if (had_tunables) {
    setenv("GLIBC_TUNABLES", current.c_str(), 1);
  } else {
    unsetenv("GLIBC_TUNABLES");
  }
}

}  // namespace zel_cli
