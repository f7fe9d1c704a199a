// A 64-bit Mach-O image as the loader has mapped it, read from its header
// alone: where its code lies, and its interpose pairs by the loader's rules.
#pragma once

#include <cstdint>
#include <vector>

struct AddressRange {
    uintptr_t first = 0, end = 0;
};

// The image's __TEXT segment, which begins at the header; empty when the
// header is no 64-bit Mach-O one or names no such segment.
AddressRange mappedText(const void* header);

struct InterposePair {
    const void* replacement;
    const void* replacee;
};

// Every pair of every section named __interpose in a segment whose name begins
// with __DATA or __AUTH, in order: the sections the loader applies. False, with
// no pairs, when one of them is no whole number of pairs (the loader refuses
// such an image), or the header is no 64-bit Mach-O one whose commands fit
// and which has a __TEXT segment.
bool interposePairs(const void* header, std::vector<InterposePair>& pairs);
