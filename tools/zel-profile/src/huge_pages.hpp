// Transparent huge pages for the tool's large arrays.
#pragma once

namespace zel_cli {

// Starts the tool again, once, with glibc's malloc asked to back its large mappings with
// transparent huge pages (GLIBC_TUNABLES=glibc.malloc.hugetlb=1), when the system grants them
// only on request (`madvise` in /sys/kernel/mm/transparent_hugepage/enabled) and the environment
// does not set that tunable already. A one-shot query fills hundreds of megabytes of fresh sample
// and cell arrays; in 2 MB pages that costs about a fifth of the page faults of 4 KB pages, which
// halves a 10^7-sample query on a virtual machine. The tunable is read only when a process starts,
// hence the new start. Returns when nothing is to be done or the start fails (the tool then runs
// as it is); ZEL_PROFILE_HUGE_PAGES=0 turns it off.
void restart_with_huge_pages(char** argv);

}  // namespace zel_cli
