// A query report as one self-contained HTML page: the profile's figures, the groups as bars and a
// table, a timeline of the tiles, the tiles' utilisation over time and the load balance of every
// (phase, epoch). Everything is inline (CSS and SVG, no script, no font or file from elsewhere),
// so the page opens offline in any browser and prints.
#pragma once

#include <string>
#include <vector>

#include <zel_profile/load_balance.hpp>
#include <zel_profile/model.hpp>
#include <zel_profile/timeline.hpp>

namespace zel_report {

// What one page shows. `timeline` is best made with zel_profile::timeline over the same profile and
// query as `report`; its kind_cycles give the utilisation chart whatever it is coloured by.
struct HtmlPage {
  std::string profile_name;  // shown in the title and header, as given (a file name, say)
  zel_profile::QueryReport report;
  zel_profile::Timeline timeline;
  std::vector<zel_profile::PhaseBalance> balance;
  // With several profiles drawn together, their names in order: chip N is chip_names[N]. The
  // page then says which chip is which and names tiles with their chip ("chip 1 tile 4").
  std::vector<std::string> chip_names;
  // The window counted each sample's part inside it alone (Query::clip): the header says so.
  bool clipped = false;
};

// The timeline's columns: one a CSS pixel of its plot (900 wide), so that no phase, however many
// there are, is narrower than a bin for want of bins. Make the page's timeline with at most this
// many bins.
inline constexpr std::size_t html_timeline_bins = 900;

// Groups beyond this many are in the table but not in the bar chart.
inline constexpr std::size_t html_bar_limit = 40;
// The worst balanced (phase, epoch) rows shown in the balance table; up to html_balance_limit more
// follow in a collapsed table, and the page says how many better balanced ones were left out.
inline constexpr std::size_t html_balance_shown = 50;
inline constexpr std::size_t html_balance_limit = 1000;

// The page as UTF-8 HTML. Every text from the profile is escaped (its control characters shown as
// \n, \t, \r or \xNN, and <, >, &, " and ' as character references), so no name can add markup.
// Hovering over a bar, cell or row's figure shows its exact numbers.
std::string format_html(const HtmlPage& page);

}  // namespace zel_report
