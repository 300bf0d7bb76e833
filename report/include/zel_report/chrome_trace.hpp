// The matched samples of profiles in the Trace Event Format, which trace viewers open: one
// complete event per sample, a thread per physical tile, a process per profile (chip).
#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>

#include <zel_package/packed.hpp>
#include <zel_profile/model.hpp>

namespace zel_report {

// Writes the samples of `profiles` that pass the filters of `query` (as in zel_profile::query; its
// grouping, ordering and limits play no part) as one JSON object {"traceEvents": [...],
// "displayTimeUnit": "ns", "otherData": {...}}, handing the text to `write` in pieces of about
// 1 MB, so that it is never held whole.
//
// - Per physical tile, in order of first appearance, a metadata event ("ph": "M",
//   "name": "thread_name") naming thread `tid` = the tile number "tile N"; all in process 0.
// - Per matched sample, tile by tile and sample by sample: {"name": kernel, or the operation when
//   the step has no kernel, "cat": the step kind, "ph": "X", "pid": 0, "tid": physical tile,
//   "ts": normalised start, "dur": length, "args": {"offset_cycles", "duration_cycles", "phase",
//   "epoch", "operation", "kernel", "metadata": {name: value, ...}}}. A metadata name that a step
//   lists more than once keeps every value: the second is written under "name#2", and so on.
// - Times ts and dur are in microseconds at the profile's clock rate (the shortest text that reads
//   back as the double cycles * 1e6 / clock_hz), or in cycles when the clock rate is 0;
//   "otherData" says which ("time_unit": "microseconds" or "cycles") and gives "clock_hz". The
//   exact cycles are in args.
// Strings are JSON-escaped; bytes that are not UTF-8 become U+FFFD. Throws std::invalid_argument
// when a sample names a step the profile does not have, before anything is written.
//
// Several profiles are queried as one, each a chip: chip N's events are in process N, named (a
// "process_name" metadata event before its tiles') "chip N: " and names[N] (or "chip N" when
// `names` has no entry), its tiles' threads within it. One profile alone is written as above, in
// process 0 without a name. Throws std::invalid_argument, before anything is written, also when the
// profiles' clock rates differ.
void write_chrome_trace(std::span<const zel_package::PackedProfile> profiles,
                        std::span<const std::string> names, const zel_profile::Query& query,
                        const std::function<void(std::string_view)>& write);

}  // namespace zel_report
