#include "cftree.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <map>
#include <utility>
#include <vector>

namespace {

bool isDictionary(CFTypeRef node) {
    return node && CFGetTypeID(node) == CFDictionaryGetTypeID();
}

bool isArray(CFTypeRef node) {
    return node && CFGetTypeID(node) == CFArrayGetTypeID();
}

void keysAndValues(CFTypeRef node, std::vector<const void*>& keys, std::vector<const void*>& values) {
    auto dictionary = static_cast<CFDictionaryRef>(node);
    size_t count = size_t(CFDictionaryGetCount(dictionary));
    keys.resize(count);
    values.resize(count);
    CFDictionaryGetKeysAndValues(dictionary, keys.data(), values.data());
}

std::vector<const void*> elements(CFTypeRef node) {
    auto array = static_cast<CFArrayRef>(node);
    std::vector<const void*> values(size_t(CFArrayGetCount(array)));
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = CFArrayGetValueAtIndex(array, CFIndex(i));
    return values;
}

std::string text(CFStringRef string) {
    std::vector<char> buffer(size_t(CFStringGetLength(string)) * 4 + 1);
    if (!CFStringGetCString(string, buffer.data(), CFIndex(buffer.size()), kCFStringEncodingUTF8))
        return "?";
    return buffer.data();
}

std::string numberText(CFNumberRef number) {
    char buffer[64];
    CFNumberType type = CFNumberGetType(number);
    if (!CFNumberIsFloatType(number)) {
        int64_t value = 0;
        CFNumberGetValue(number, kCFNumberSInt64Type, &value);
        snprintf(buffer, sizeof buffer, "int:%" PRId64, value);
    } else if (type == kCFNumberFloat32Type || type == kCFNumberFloatType) {
        float value = 0;
        CFNumberGetValue(number, kCFNumberFloat32Type, &value);
        snprintf(buffer, sizeof buffer, "f32:%a", double(value));
    } else {
        double value = 0;
        CFNumberGetValue(number, kCFNumberFloat64Type, &value);
        snprintf(buffer, sizeof buffer, "f64:%a", value);
    }
    return buffer;
}

void append(CFTypeRef node, std::string& out) {
    if (node && CFGetTypeID(node) == CFStringGetTypeID()) {
        out += "str:";
        out += text(static_cast<CFStringRef>(node));
    } else if (node && CFGetTypeID(node) == CFNumberGetTypeID()) {
        out += numberText(static_cast<CFNumberRef>(node));
    } else if (isArray(node)) {
        out += "[";
        std::vector<const void*> values = elements(node);
        for (size_t i = 0; i < values.size(); ++i) {
            if (i > 0)
                out += ",";
            append(values[i], out);
        }
        out += "]";
    } else if (isDictionary(node)) {
        std::vector<const void*> keys, values;
        keysAndValues(node, keys, values);
        std::vector<std::pair<std::string, std::string>> entries(keys.size());
        for (size_t i = 0; i < keys.size(); ++i) {
            // Text keys are written bare, any other key with its kind.
            if (keys[i] && CFGetTypeID(keys[i]) == CFStringGetTypeID())
                entries[i].first = text(static_cast<CFStringRef>(keys[i]));
            else
                append(keys[i], entries[i].first);
            append(values[i], entries[i].second);
        }
        std::sort(entries.begin(), entries.end());
        out += "{";
        for (size_t i = 0; i < entries.size(); ++i) {
            if (i > 0)
                out += ",";
            out += entries[i].first;
            out += "=";
            out += entries[i].second;
        }
        out += "}";
    } else {
        out += "?";
    }
}

}  // namespace

std::string treeText(CFTypeRef node) {
    std::string out;
    append(node, out);
    return out;
}

CFIndex strayRefs(CFTypeRef root) {
    // How often the tree holds each node: once per container it sits in (a
    // container met twice is walked once, as it holds its children once).
    std::map<CFTypeRef, CFIndex> held;
    std::vector<CFTypeRef> containers{root};
    while (!containers.empty()) {
        CFTypeRef container = containers.back();
        containers.pop_back();
        std::vector<const void*> children, values;
        if (isDictionary(container)) {
            keysAndValues(container, children, values);
            children.insert(children.end(), values.begin(), values.end());
        } else if (isArray(container)) {
            children = elements(container);
        }
        for (const void* child : children)
            if (child && held[child]++ == 0 && (isDictionary(child) || isArray(child)))
                containers.push_back(child);
    }
    CFIndex stray = 0;
    for (auto [node, holds] : held) {
        CFIndex refs = CFGetRetainCount(node);
        CFRetain(node);
        bool moves = CFGetRetainCount(node) != refs;
        CFRelease(node);
        if (moves)
            stray += refs > holds ? refs - holds : holds - refs;
    }
    return stray;
}
