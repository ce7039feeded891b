#include "records/ReconNode.h"

#include <cassert>
#include <limits>

ReconNode::ReconNode(const CGVertex& at, const CGVector& facing, std::size_t place)
    : position(at), normal(facing), index(static_cast<std::uint32_t>(place))
{
    assert(place <= std::numeric_limits<std::uint32_t>::max());
}
