#include "test_nodes.h"

namespace mcitest {

std::atomic<int> CountingNode::cleanups{0};
std::atomic<int> CountingNode::releases{0};

} // namespace mcitest
