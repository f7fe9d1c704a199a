#include "haptics/description.h"

#include "fail.h"

namespace {

// The platform's create calls give null only when memory runs out (every text
// here is plain ASCII), and a null must never be handed on into a container.
// The caller's reference passes through, which the name alone would not tell
// the static analyzer: the annotations do.
template <typename Ref>
CF_RETURNS_RETAINED Ref created(CF_CONSUMED Ref object) {
    if (!object)
        fail("out of memory");
    return object;
}

CFTypeRef createPlatformValue(const DescriptionValue& node);

// The container retains what it is given, so each child's own reference is
// dropped once the container exists: the container is then its only owner.
void releaseAll(const std::vector<CFTypeRef>& objects) {
    for (CFTypeRef object : objects)
        CFRelease(object);
}

CFTypeRef createPlatformList(const DescriptionList& list) {
    std::vector<CFTypeRef> values;
    values.reserve(list.size());
    for (const DescriptionValue& element : list)
        values.push_back(createPlatformValue(element));
    CFArrayRef array = created(
        CFArrayCreate(kCFAllocatorDefault, values.data(), static_cast<CFIndex>(values.size()), &kCFTypeArrayCallBacks));
    releaseAll(values);
    return array;
}

CFTypeRef createPlatformText(const std::string& text) {
    return created(CFStringCreateWithCString(kCFAllocatorDefault, text.c_str(), kCFStringEncodingUTF8));
}

CFTypeRef createPlatformValue(const DescriptionValue& node) {
    if (auto* text = std::get_if<std::string>(&node.value))
        return createPlatformText(*text);
    if (auto* number = std::get_if<double>(&node.value))
        return created(CFNumberCreate(kCFAllocatorDefault, kCFNumberFloat64Type, number));
    if (auto* dictionary = std::get_if<DescriptionDictionary>(&node.value))
        return createPlatformDictionary(*dictionary);
    return createPlatformList(std::get<DescriptionList>(node.value));
}

}  // namespace

ActuationDescription describe(const Step& step) {
    // The containers are made in place: a braced list of entries copies each
    // entry, and with it every subtree below.
    ActuationDescription description(2);
    description[0].key = "BaseWaveform";
    description[0].value.value = DescriptionDictionary{
        {"Type", {std::string("Gaussian")}},
        {"Amplitude", {0.0}},
        {"DurationMS", {step.ms}},
    };
    description[1].key = "Tones";
    auto& tones = description[1].value.value.emplace<DescriptionList>(1);
    tones[0].value = DescriptionDictionary{
        {"Type", {std::string("Sine")}},
        {"Amplitude", {1.0}},
        {"DurationMS", {step.ms}},
        {"DelayMS", {0.0}},
        // Divided: multiplying by 0.001 rounds differently.
        {"FrequencykHz", {step.hz / 1000.0}},  // GCOVR_EXCL_LINE gcc counts its code under other lines
    };
    return description;
}

CFDictionaryRef createPlatformDictionary(const DescriptionDictionary& dictionary) {
    std::vector<CFTypeRef> keys, values;
    keys.reserve(dictionary.size());
    values.reserve(dictionary.size());
    for (const DescriptionEntry& entry : dictionary) {
        keys.push_back(createPlatformText(entry.key));
        values.push_back(createPlatformValue(entry.value));
    }
    CFDictionaryRef made =
        created(CFDictionaryCreate(kCFAllocatorDefault, keys.data(), values.data(), static_cast<CFIndex>(keys.size()),
                                   &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
    releaseAll(keys);
    releaseAll(values);
    return made;
}
