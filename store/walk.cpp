// The walk module: the one reach pass over a term's graph and the restore
// that ends every walk.  It alone writes the walk bits (its inline part, in
// store.h, marks a node reached and marks one done); the reached list,
// PoolLists[ReachedList], holds every node it marked, so the end of a walk
// clears exactly what the walk set, without walking the graph again.
#include "store/store.h"

#include <vector>

static NodeList& Reached = PoolLists[ReachedList];

// The right fields the reach pass has still to follow, the latest last.  Kept
// from walk to walk, so that its room is taken once; a pass holds at most one
// entry for each node it has listed.
static std::vector<Ref> Pending;

void walkreach(Ref term, WalkFields fields) {
    bool both = fields == WalkFields::Both;
    Pending.clear();
    Ref r = term;
    for (;;) {
        // Down the left fields while the nodes are new, leaving each right
        // field to follow after everything below the left one.
        while (isinner(Pool[r].kind)) {
            Node& n = Pool[r];
            if (n.walk & WalkReached) {
                n.walk |= WalkTwice;
                break;
            }
            n.walk = WalkReached;
            Reached.items[Reached.top++] = r;
            if (both || !isoneoperand(n.kind)) Pending.push_back(n.right);
            r = n.left;
        }
        if (Pending.empty()) return;
        r = Pending.back();
        Pending.pop_back();
    }
}

std::size_t walkcount() { return Reached.top; }

Ref walknode(std::size_t i) { return Reached.items[i]; }

void walkend() {
    for (std::size_t i = 0; i < Reached.top; i++) Pool[Reached.items[i]].walk = 0;
    Reached.top = 0;
}
