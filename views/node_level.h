#pragma once

namespace keyloft {

class TreeNode;

// Depth of a node: 1 for the root, 2 for an application, 3 for a section. The walk up ends at
// the first node whose key equals the root's key, so it relies on keys that are unique.
int NodeLevel(const TreeNode& Node);

} // namespace keyloft
