#include "node_level.h"

#include "tree_view.h"

namespace keyloft {

int NodeLevel(const TreeNode& Node) {
    const QString& rootKey = Node.Root()->Key();
    int level = 1;
    for (const TreeNode* current = &Node; current->Key() != rootKey; current = current->Parent())
        ++level;
    return level;
}

} // namespace keyloft
