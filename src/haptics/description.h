// The actuation description: the key/value tree that tells the framework one
// step's waveform, and its conversion into the platform dictionary it reads.
#pragma once

#include <CoreFoundation/CoreFoundation.h>
#include <string>
#include <variant>
#include <vector>

#include "driver/step.h"

struct DescriptionValue;
struct DescriptionEntry;
using DescriptionDictionary = std::vector<DescriptionEntry>;
using DescriptionList = std::vector<DescriptionValue>;

// One node: a text, a 64-bit float number, a dictionary with text keys (each
// key once) or a list. Containers own their children.
struct DescriptionValue {
    std::variant<std::string, double, DescriptionDictionary, DescriptionList> value;
};

// A plain record, not a std::pair: a pair's traits would ask whether the node
// is complete while the node is still being defined.
struct DescriptionEntry {
    std::string key;
    DescriptionValue value;
};

// The top level: "BaseWaveform" and "Tones".
using ActuationDescription = DescriptionDictionary;

// The description of one step's tone; reads hz and ms only.
ActuationDescription describe(const Step& step);

// A new platform dictionary holding the same tree, owned by the caller (the
// Create rule), who gives it up with one CFRelease; nothing else made here
// outlives it. Ends the process with "out of memory" when the platform cannot
// make a part of it.
CFDictionaryRef createPlatformDictionary(const DescriptionDictionary& dictionary);
