// The CoreFoundation stand-in: reference-counted strings, numbers, arrays and
// dictionaries with the platform's ownership rules, its shared immortal numbers
// and short texts included. Misuse aborts loudly.
#include <CoreFoundation/CoreFoundation.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <limits>
#include <map>
#include <string>
#include <unordered_set>
#include <vector>

namespace {

enum Kind : CFTypeID { stringKind = 7, numberKind = 22, arrayKind = 19, dictionaryKind = 18 };

struct Object {
    Kind kind = stringKind;
    CFIndex refs = 1;
    bool shared = false;              // immortal: retain and release leave refs alone
    std::string text;                 // string
    CFNumberType numberType{};        // number: the canonical type
    long long integer = 0;            // number, integer types
    double real = 0;                  // number, float types
    std::vector<const void*> values;  // array and dictionary
    std::vector<const void*> keys;    // dictionary
    CFArrayCallBacks arrayCallBacks{};
    CFDictionaryKeyCallBacks keyCallBacks{};
    CFDictionaryValueCallBacks valueCallBacks{};
};

// The count a shared object reports: huge, and the same whatever is done to it.
constexpr CFIndex sharedRefs = 0x0fffffffffffffff;

// Every live object. A pointer not in here is dead or was never ours; recently
// freed memory is held back a while so that a stale pointer is seen as dead
// instead of as whatever object reused its memory.
std::unordered_set<const void*>& live() {
    static auto* objects = new std::unordered_set<const void*>;
    return *objects;
}
std::deque<Object*>& quarantine() {
    static auto* freed = new std::deque<Object*>;
    return *freed;
}

[[noreturn]] void misuse(const char* function, const char* what) {
    fprintf(stderr, "CoreFoundation stand-in: %s: %s\n", function, what);
    abort();
}

Object* object(CFTypeRef cf, const char* function) {
    if (!cf)
        misuse(function, "called with NULL");
    if (!live().count(cf))
        misuse(function, "called with an object that is not alive");
    return static_cast<Object*>(const_cast<void*>(cf));
}

Object* object(CFTypeRef cf, Kind kind, const char* function) {
    Object* o = object(cf, function);
    if (o->kind != kind)
        misuse(function, "called with an object of another type");
    return o;
}

Object* make(Kind kind) {
    auto* o = new Object();
    o->kind = kind;
    live().insert(o);
    return o;
}

void destroy(Object* o) {
    live().erase(o);
    if (o->kind == arrayKind && o->arrayCallBacks.release)
        for (const void* v : o->values)
            o->arrayCallBacks.release(nullptr, v);
    if (o->kind == dictionaryKind) {
        if (o->keyCallBacks.release)
            for (const void* k : o->keys)
                o->keyCallBacks.release(nullptr, k);
        if (o->valueCallBacks.release)
            for (const void* v : o->values)
                o->valueCallBacks.release(nullptr, v);
    }
    o->text.clear();
    o->text.shrink_to_fit();
    std::vector<const void*>().swap(o->values);
    std::vector<const void*>().swap(o->keys);
    quarantine().push_back(o);
    if (quarantine().size() > 256) {
        delete quarantine().front();
        quarantine().pop_front();
    }
}

const void* typeRetain(CFAllocatorRef, const void* value) {
    return CFRetain(value);
}
void typeRelease(CFAllocatorRef, const void* value) {
    CFRelease(value);
}
Boolean typeEqual(const void* a, const void* b) {
    return CFEqual(a, b);
}
CFHashCode typeHash(const void* value) {
    return CFHash(value);
}

bool validUtf8(const char* s) {
    auto* p = reinterpret_cast<const unsigned char*>(s);
    while (*p) {
        int length = *p < 0x80 ? 1 : (*p >> 5) == 6 ? 2 : (*p >> 4) == 14 ? 3 : (*p >> 3) == 30 ? 4 : 0;
        if (length == 0)
            return false;
        unsigned long c = length == 1 ? *p : *p & (0x7f >> length);
        for (int i = 1; i < length; ++i) {
            if ((p[i] & 0xc0) != 0x80)
                return false;
            c = c << 6 | (p[i] & 0x3f);
        }
        static const unsigned long smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (c < smallest[length] || c > 0x10ffff || (c >= 0xd800 && c <= 0xdfff))
            return false;
        p += length;
    }
    return true;
}

CFNumberType canonical(CFNumberType type) {
    switch (type) {
    case kCFNumberSInt8Type:
    case kCFNumberCharType:
        return kCFNumberSInt8Type;
    case kCFNumberSInt16Type:
    case kCFNumberShortType:
        return kCFNumberSInt16Type;
    case kCFNumberSInt32Type:
    case kCFNumberIntType:
        return kCFNumberSInt32Type;
    case kCFNumberSInt64Type:
    case kCFNumberLongType:
    case kCFNumberLongLongType:
    case kCFNumberCFIndexType:
    case kCFNumberNSIntegerType:
        return kCFNumberSInt64Type;
    case kCFNumberFloat32Type:
    case kCFNumberFloatType:
        return kCFNumberFloat32Type;
    case kCFNumberFloat64Type:
    case kCFNumberDoubleType:
    case kCFNumberCGFloatType:
        return kCFNumberFloat64Type;
    default:
        return CFNumberType(0);
    }
}

bool isFloat(CFNumberType canonicalType) {
    return canonicalType == kCFNumberFloat32Type || canonicalType == kCFNumberFloat64Type;
}

Object* makeShared(Kind kind) {
    Object* o = make(kind);
    o->shared = true;
    o->refs = sharedRefs;
    return o;
}

// The platform hands out one shared, immortal number for each of 0 and 1 of
// either width, and one NaN and one of each infinity whatever the width (the
// 64-bit ones), so no caller may count on a fresh object or on a count of its
// own. Negative zero keeps its sign and is not shared.
Object* sharedNumber(CFNumberType type, double value) {
    const double inf = std::numeric_limits<double>::infinity();
    int slot = value == 0 && !std::signbit(value) ? 0
               : value == 1                       ? 1
               : std::isnan(value)                ? 2
               : value == inf                     ? 3
               : value == -inf                    ? 4
                                                  : -1;
    if (slot < 0)
        return nullptr;
    if (slot >= 2)
        type = kCFNumberFloat64Type;
    static Object* numbers[2][5];
    Object*& shared = numbers[type == kCFNumberFloat32Type][slot];
    if (!shared) {
        shared = makeShared(numberKind);
        shared->numberType = type;
        shared->real = slot == 2 ? std::numeric_limits<double>::quiet_NaN() : value;
    }
    return shared;
}

// The platform's tagged strings: a short ASCII text lives in the pointer
// itself, so retain and release never move its count and equal texts are the
// same object. How short depends there on the letters (7 to 11 of them); every
// ASCII text of up to 11 is taken here, so a test that leans on the count of
// one fails here first.
Object* sharedText(const char* text) {
    size_t length = 0;
    for (; text[length]; ++length)
        if (length == 11 || static_cast<unsigned char>(text[length]) >= 0x80)
            return nullptr;
    static auto* texts = new std::map<std::string, Object*>;
    Object*& shared = (*texts)[text];
    if (!shared) {
        shared = makeShared(stringKind);
        shared->text = text;
    }
    return shared;
}

// Where `key` sits among the dictionary's keys; the key count if nowhere.
size_t slotOf(const Object* o, const void* key) {
    size_t i = 0;
    while (i < o->keys.size() &&
           !(o->keys[i] == key || (o->keyCallBacks.equal && o->keyCallBacks.equal(o->keys[i], key))))
        ++i;
    return i;
}

}  // namespace

extern "C" {

const CFAllocatorRef kCFAllocatorDefault = nullptr;
const CFArrayCallBacks kCFTypeArrayCallBacks = {0, typeRetain, typeRelease, nullptr, typeEqual};
const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks = {0,       typeRetain, typeRelease,
                                                                nullptr, typeEqual,  typeHash};
const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks = {0, typeRetain, typeRelease, nullptr, typeEqual};

CFTypeRef CFRetain(CFTypeRef cf) {
    Object* o = object(cf, "CFRetain");
    if (!o->shared)
        ++o->refs;
    return cf;
}

void CFRelease(CFTypeRef cf) {
    Object* o = object(cf, "CFRelease");
    if (!o->shared && --o->refs == 0)
        destroy(o);
}

CFIndex CFGetRetainCount(CFTypeRef cf) {
    return object(cf, "CFGetRetainCount")->refs;
}

CFTypeID CFGetTypeID(CFTypeRef cf) {
    return object(cf, "CFGetTypeID")->kind;
}

CFTypeID CFStringGetTypeID(void) {
    return stringKind;
}
CFTypeID CFNumberGetTypeID(void) {
    return numberKind;
}
CFTypeID CFArrayGetTypeID(void) {
    return arrayKind;
}
CFTypeID CFDictionaryGetTypeID(void) {
    return dictionaryKind;
}

Boolean CFEqual(CFTypeRef cf1, CFTypeRef cf2) {
    Object* a = object(cf1, "CFEqual");
    Object* b = object(cf2, "CFEqual");
    if (a == b)
        return true;
    if (a->kind != b->kind)
        return false;
    switch (a->kind) {
    case stringKind:
        return a->text == b->text;
    case numberKind:
        if (isFloat(a->numberType) || isFloat(b->numberType)) {
            double x = isFloat(a->numberType) ? a->real : double(a->integer);
            double y = isFloat(b->numberType) ? b->real : double(b->integer);
            return x == y || (std::isnan(x) && std::isnan(y));
        }
        return a->integer == b->integer;
    case arrayKind:
        if (a->values.size() != b->values.size())
            return false;
        for (size_t i = 0; i < a->values.size(); ++i) {
            const void *x = a->values[i], *y = b->values[i];
            if (x != y && !(a->arrayCallBacks.equal && a->arrayCallBacks.equal(x, y)))
                return false;
        }
        return true;
    case dictionaryKind:
        if (a->keys.size() != b->keys.size())
            return false;
        for (size_t i = 0; i < a->keys.size(); ++i) {
            const void* other = CFDictionaryGetValue(reinterpret_cast<CFDictionaryRef>(b), a->keys[i]);
            const void* mine = a->values[i];
            if (!other || (other != mine && !(a->valueCallBacks.equal && a->valueCallBacks.equal(mine, other))))
                return false;
        }
        return true;
    }
    return false;
}

CFHashCode CFHash(CFTypeRef cf) {
    Object* o = object(cf, "CFHash");
    switch (o->kind) {
    case stringKind:
        return std::hash<std::string>()(o->text);
    case numberKind:
        return isFloat(o->numberType) ? std::hash<double>()(o->real) : std::hash<long long>()(o->integer);
    default:
        return o->values.size();
    }
}

CFStringRef CFStringCreateWithCString(CFAllocatorRef, const char* cStr, CFStringEncoding encoding) {
    if (!cStr)
        misuse("CFStringCreateWithCString", "called with NULL");
    if (encoding != kCFStringEncodingUTF8 && encoding != kCFStringEncodingASCII)
        return nullptr;
    if (!validUtf8(cStr))
        return nullptr;
    if (encoding == kCFStringEncodingASCII)
        for (const char* p = cStr; *p; ++p)
            if (static_cast<unsigned char>(*p) >= 0x80)
                return nullptr;
    if (Object* shared = sharedText(cStr))
        return reinterpret_cast<CFStringRef>(shared);
    Object* o = make(stringKind);
    o->text = cStr;
    return reinterpret_cast<CFStringRef>(o);
}

Boolean CFStringGetCString(CFStringRef theString, char* buffer, CFIndex bufferSize, CFStringEncoding encoding) {
    Object* o = object(theString, stringKind, "CFStringGetCString");
    if (encoding != kCFStringEncodingUTF8 || bufferSize <= CFIndex(o->text.size()))
        return false;
    memcpy(buffer, o->text.c_str(), o->text.size() + 1);
    return true;
}

// The length in UTF-16 code units, as the platform counts it.
CFIndex CFStringGetLength(CFStringRef theString) {
    Object* o = object(theString, stringKind, "CFStringGetLength");
    CFIndex units = 0;
    for (unsigned char c : o->text) {
        if ((c & 0xc0) != 0x80)
            ++units;
        if (c >= 0xf0)
            ++units;
    }
    return units;
}

CFNumberRef CFNumberCreate(CFAllocatorRef, CFNumberType theType, const void* valuePtr) {
    CFNumberType type = canonical(theType);
    if (!type || !valuePtr)
        misuse("CFNumberCreate", "called with an unknown type or a NULL value");
    if (type == kCFNumberFloat64Type)
        if (Object* shared = sharedNumber(type, *static_cast<const double*>(valuePtr)))
            return reinterpret_cast<CFNumberRef>(shared);
    if (type == kCFNumberFloat32Type)
        if (Object* shared = sharedNumber(type, *static_cast<const float*>(valuePtr)))
            return reinterpret_cast<CFNumberRef>(shared);
    Object* o = make(numberKind);
    o->numberType = type;
    switch (type) {
    case kCFNumberSInt8Type:
        o->integer = *static_cast<const int8_t*>(valuePtr);
        break;
    case kCFNumberSInt16Type:
        o->integer = *static_cast<const int16_t*>(valuePtr);
        break;
    case kCFNumberSInt32Type:
        o->integer = *static_cast<const int32_t*>(valuePtr);
        break;
    case kCFNumberSInt64Type:
        o->integer = *static_cast<const int64_t*>(valuePtr);
        break;
    case kCFNumberFloat32Type:
        o->real = *static_cast<const float*>(valuePtr);
        break;
    default:
        o->real = *static_cast<const double*>(valuePtr);
        break;
    }
    return reinterpret_cast<CFNumberRef>(o);
}

CFNumberType CFNumberGetType(CFNumberRef number) {
    return object(number, numberKind, "CFNumberGetType")->numberType;
}

Boolean CFNumberIsFloatType(CFNumberRef number) {
    return isFloat(object(number, numberKind, "CFNumberIsFloatType")->numberType);
}

// Converts to the asked type; true only when nothing was lost on the way.
Boolean CFNumberGetValue(CFNumberRef number, CFNumberType theType, void* valuePtr) {
    Object* o = object(number, numberKind, "CFNumberGetValue");
    CFNumberType type = canonical(theType);
    if (!type || !valuePtr)
        misuse("CFNumberGetValue", "called with an unknown type or a NULL pointer");
    bool real = isFloat(o->numberType);
    double asDouble = real ? o->real : double(o->integer);
    long long asInteger =
        real ? (std::isfinite(o->real) && std::fabs(o->real) < 9.2e18 ? (long long)o->real : 0) : o->integer;
    switch (type) {
    case kCFNumberSInt8Type:
        *static_cast<int8_t*>(valuePtr) = int8_t(asInteger);
        return (!real || double(asInteger) == asDouble) && asInteger == int8_t(asInteger);
    case kCFNumberSInt16Type:
        *static_cast<int16_t*>(valuePtr) = int16_t(asInteger);
        return (!real || double(asInteger) == asDouble) && asInteger == int16_t(asInteger);
    case kCFNumberSInt32Type:
        *static_cast<int32_t*>(valuePtr) = int32_t(asInteger);
        return (!real || double(asInteger) == asDouble) && asInteger == int32_t(asInteger);
    case kCFNumberSInt64Type:
        *static_cast<int64_t*>(valuePtr) = asInteger;
        return !real || double(asInteger) == asDouble;
    case kCFNumberFloat32Type: {
        // The platform's check of a lossless read compares the value with
        // itself, so a NaN read this way is written but reported as lost.
        float f = float(asDouble);
        *static_cast<float*>(valuePtr) = f;
        return double(f) == asDouble;
    }
    default:
        *static_cast<double*>(valuePtr) = asDouble;
        return real || (long long)asDouble == o->integer;
    }
}

CFArrayRef CFArrayCreate(CFAllocatorRef, const void** values, CFIndex numValues, const CFArrayCallBacks* callBacks) {
    if (numValues < 0 || (numValues > 0 && !values))
        misuse("CFArrayCreate", "called with a bad count or NULL values");
    Object* o = make(arrayKind);
    if (callBacks)
        o->arrayCallBacks = *callBacks;
    for (CFIndex i = 0; i < numValues; ++i)
        o->values.push_back(o->arrayCallBacks.retain ? o->arrayCallBacks.retain(nullptr, values[i]) : values[i]);
    return reinterpret_cast<CFArrayRef>(o);
}

CFIndex CFArrayGetCount(CFArrayRef theArray) {
    return CFIndex(object(theArray, arrayKind, "CFArrayGetCount")->values.size());
}

const void* CFArrayGetValueAtIndex(CFArrayRef theArray, CFIndex idx) {
    Object* o = object(theArray, arrayKind, "CFArrayGetValueAtIndex");
    if (idx < 0 || idx >= CFIndex(o->values.size()))
        misuse("CFArrayGetValueAtIndex", "index out of bounds");
    return o->values[size_t(idx)];
}

CFDictionaryRef CFDictionaryCreate(CFAllocatorRef, const void** keys, const void** values, CFIndex numValues,
                                   const CFDictionaryKeyCallBacks* keyCallBacks,
                                   const CFDictionaryValueCallBacks* valueCallBacks) {
    if (numValues < 0 || (numValues > 0 && (!keys || !values)))
        misuse("CFDictionaryCreate", "called with a bad count or NULL keys or values");
    Object* o = make(dictionaryKind);
    if (keyCallBacks)
        o->keyCallBacks = *keyCallBacks;
    if (valueCallBacks)
        o->valueCallBacks = *valueCallBacks;
    for (CFIndex i = 0; i < numValues; ++i) {
        // A key given again is passed over with its value, neither retained:
        // the first key and value stand, as on the platform.
        if (slotOf(o, keys[i]) < o->keys.size())
            continue;
        o->keys.push_back(o->keyCallBacks.retain ? o->keyCallBacks.retain(nullptr, keys[i]) : keys[i]);
        o->values.push_back(o->valueCallBacks.retain ? o->valueCallBacks.retain(nullptr, values[i]) : values[i]);
    }
    return reinterpret_cast<CFDictionaryRef>(o);
}

CFIndex CFDictionaryGetCount(CFDictionaryRef theDict) {
    return CFIndex(object(theDict, dictionaryKind, "CFDictionaryGetCount")->keys.size());
}

const void* CFDictionaryGetValue(CFDictionaryRef theDict, const void* key) {
    Object* o = object(theDict, dictionaryKind, "CFDictionaryGetValue");
    size_t slot = slotOf(o, key);
    return slot < o->keys.size() ? o->values[slot] : nullptr;
}

void CFDictionaryGetKeysAndValues(CFDictionaryRef theDict, const void** keys, const void** values) {
    Object* o = object(theDict, dictionaryKind, "CFDictionaryGetKeysAndValues");
    for (size_t i = 0; i < o->keys.size(); ++i) {
        if (keys)
            keys[i] = o->keys[i];
        if (values)
            values[i] = o->values[i];
    }
}

}  // extern "C"
