// A CoreFoundation tree as text, every node with its kind (sim/README.md shows
// the form), and the references to its insides that its containers do not hold.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <string>

std::string treeText(CFTypeRef node);

// The references to the nodes below `root` (dictionary keys included) beyond
// those the tree's own containers hold, as differences either way summed over
// the nodes; 0 when nobody but the tree holds any of them. A node that a retain
// does not move is shared and immortal: its count says nothing, so it is skipped.
CFIndex strayRefs(CFTypeRef root);
