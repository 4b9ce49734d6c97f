#pragma once

#include "html/code_points.h"
#include "html/run_scan.h"

namespace Tessarin {
namespace Html {

// The stop sets of the fast paths of a tag's states: the code points with a
// row of their own in the tag name, attribute name and attribute value
// states. The states' fast paths read runs with them, and so does the tag
// open state's, which reads a whole tag in one pass.
constexpr run_stops_t kTagNameStops = RunStops({'\t', '\n', '\f', ' ', '/', '>', kNull});
constexpr run_stops_t kAttributeNameStops = RunStops({'\t', '\n', '\f', ' ', '/', '=', '>', kNull, '"', '\'', '<'});
template <unsigned int Quote>
constexpr run_stops_t kQuotedValueStops = RunStops({Quote, '&', kNull});
constexpr run_stops_t kUnquotedValueStops =
    RunStops({'\t', '\n', '\f', ' ', '&', '>', kNull, '"', '\'', '<', '=', '`'});

static_assert(kTagNameStops.byte[kNull] && kAttributeNameStops.byte[kNull],
              "names are read through run_stops_t::lowered");

}  // namespace Html
}  // namespace Tessarin
