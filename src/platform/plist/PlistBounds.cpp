#include "platform/plist/PlistBounds.h"

#include <algorithm>
#include <array>
#include <vector>

namespace kestrova {
namespace {

using Refusal = std::optional<std::string>;
constexpr auto npos = std::string_view::npos;

// libplist 2.2 is built with assertions that a string's stored length is its C length: a NUL
// character inside one would abort the program when the string is read.
constexpr const char* kNulInString = "string holds a NUL character";

// libplist decodes each character reference by moving the rest of its text, so its work grows
// with references times text length: a few megabytes of "&amp;" would take minutes. This cap
// is about a tenth of a second of that work; a string of some 29,000 '&' written as XML still
// reads back.
constexpr std::uint64_t kMaxReferenceWork = std::uint64_t{1} << 32;

std::string deeperThanAllowed() {
    return "nested deeper than " + std::to_string(PlistBounds::kMaxDepth) + " levels";
}

std::string tooManyObjects() {
    return "more than " + std::to_string(PlistBounds::kMaxObjects) + " objects";
}

// ---- Binary lists: "bplist00", objects, a table of their offsets, and a 32-byte trailer. Objects
// refer to one another by index, so one object may be used many times, or by itself.

constexpr std::string_view kBinaryMagic = "bplist00";
constexpr std::size_t kTrailerSize = 32;
constexpr const char* kRunsPast = "object runs past the object area";

std::uint64_t readBigEndian(std::string_view doc, std::uint64_t at, std::size_t width) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i) {
        value = value << 8 | static_cast<std::uint8_t>(doc[at + i]);
    }
    return value;
}

bool isIntWidth(std::uint64_t width) {
    return width == 1 || width == 2 || width == 4 || width == 8;
}

struct Trailer {
    std::size_t offsetSize = 0;
    std::size_t refSize = 0;
    std::uint64_t objects = 0;
    std::uint64_t top = 0;
    std::uint64_t tableAt = 0;  // the offset table; every object lies between the magic and it
};

Refusal readTrailer(std::string_view doc, Trailer& t) {
    if (doc.size() < kBinaryMagic.size() + kTrailerSize) return "truncated trailer";
    const std::size_t at = doc.size() - kTrailerSize;
    t.offsetSize = static_cast<std::uint8_t>(doc[at + 6]);
    t.refSize = static_cast<std::uint8_t>(doc[at + 7]);
    t.objects = readBigEndian(doc, at + 8, 8);
    t.top = readBigEndian(doc, at + 16, 8);
    t.tableAt = readBigEndian(doc, at + 24, 8);
    if (!isIntWidth(t.offsetSize)) return "bad offset size in trailer";
    if (!isIntWidth(t.refSize)) return "bad reference size in trailer";
    if (t.objects == 0) return "no objects";
    if (t.objects > PlistBounds::kMaxObjects) return tooManyObjects();
    if (t.top >= t.objects) return "top object out of range";
    if (t.tableAt < kBinaryMagic.size() || t.tableAt > at ||
        (at - t.tableAt) / t.offsetSize < t.objects) {
        return "binary offset table out of range";
    }
    return std::nullopt;
}

// What the walk needs of one object, read once from its marker.
struct BinaryObject {
    std::uint32_t refsAt = 0;    // where its references start
    std::uint32_t refCount = 0;  // an array's items; a dictionary's keys, then its values
    std::uint32_t keyCount = 0;  // leading references that must name strings
    std::uint32_t size = 0;      // bytes it takes in the document
    bool isString = false;
};

std::string unsupportedMarker(std::uint8_t marker) {
    constexpr std::string_view kHex = "0123456789abcdef";
    return std::string("unsupported object marker 0x") + kHex[marker >> 4] + kHex[marker & 0xF];
}

// Payload bytes of the scalars Kestrova keeps: false, true, integers of 1 to 16 bytes, reals of 4
// or 8, dates. Null, fill, UIDs and unknown markers have none.
std::optional<std::uint64_t> scalarSize(std::uint8_t marker) {
    if (marker == 0x08 || marker == 0x09) return 0;
    if (marker >= 0x10 && marker <= 0x14) return std::uint64_t{1} << (marker & 0xF);
    if (marker == 0x22 || marker == 0x23) return std::uint64_t{1} << (marker & 0xF);
    if (marker == 0x33) return 8;
    return std::nullopt;
}

// Bytes per counted element of data, strings, arrays and dictionaries; 0 for other types (sets
// included: libplist would read one as an array).
std::uint64_t elementSize(unsigned type, std::size_t refSize) {
    switch (type) {
        case 0x4:
        case 0x5:
            return 1;
        case 0x6:
            return 2;
        case 0xA:
            return refSize;
        case 0xD:
            return 2 * refSize;
        default:
            return 0;
    }
}

// The element count in a marker's low nibble or, when that is 0xF, in the integer object that
// follows the marker; `at` then moves past that integer.
Refusal readCount(std::string_view doc, std::uint64_t& at, std::uint64_t end, std::uint8_t nibble,
                  std::uint64_t& count) {
    count = nibble;
    if (nibble != 0xF) return std::nullopt;
    if (at >= end) return kRunsPast;
    const auto marker = static_cast<std::uint8_t>(doc[at]);
    if (marker >> 4 != 0x1 || (marker & 0xF) > 3) return "bad length in object";
    const std::size_t width = std::size_t{1} << (marker & 0xF);
    if (end - at - 1 < width) return kRunsPast;
    count = readBigEndian(doc, at + 1, width);
    at += 1 + width;
    return std::nullopt;
}

// Whether a string's payload of `unit`-byte characters holds U+0000.
bool holdsNul(std::string_view payload, std::uint64_t unit) {
    for (std::size_t i = 0; i < payload.size(); i += unit) {
        if (payload.substr(i, unit).find_first_not_of('\0') == npos) return true;
    }
    return false;
}

// Reads the object at `at`, which must lie wholly before `end`, the offset table.
Refusal readObject(std::string_view doc, std::uint64_t at, std::uint64_t end, std::size_t refSize,
                   BinaryObject& object) {
    const auto marker = static_cast<std::uint8_t>(doc[at]);
    const unsigned type = marker >> 4;
    std::uint64_t pos = at + 1;
    std::uint64_t count = 0;
    std::uint64_t unit = elementSize(type, refSize);
    if (unit == 0) {
        const auto payload = scalarSize(marker);
        if (!payload) return unsupportedMarker(marker);
        count = *payload;
        unit = 1;
    } else if (auto why = readCount(doc, pos, end, marker & 0xF, count)) {
        return why;
    }
    if (count > (end - pos) / unit) return kRunsPast;
    if ((type == 0x5 || type == 0x6) && holdsNul(doc.substr(pos, count * unit), unit)) {
        return kNulInString;
    }
    // The document is at most kMaxBytes long, so every position and count fits 32 bits.
    object.refsAt = static_cast<std::uint32_t>(pos);
    object.size = static_cast<std::uint32_t>(pos - at + count * unit);
    object.isString = type == 0x5 || type == 0x6;
    if (type == 0xA || type == 0xD) {
        object.keyCount = static_cast<std::uint32_t>(type == 0xD ? count : 0);
        object.refCount = static_cast<std::uint32_t>(type == 0xD ? 2 * count : count);
    }
    return std::nullopt;
}

// Reads every object in the table. Objects may not overlap: that keeps the reference checks
// linear in the document, however many table entries name the same bytes.
Refusal readObjects(std::string_view doc, const Trailer& t, std::vector<BinaryObject>& objects) {
    objects.resize(t.objects);
    std::uint64_t total = 0;
    for (std::uint64_t i = 0; i < t.objects; ++i) {
        const std::uint64_t at = readBigEndian(doc, t.tableAt + i * t.offsetSize, t.offsetSize);
        if (at < kBinaryMagic.size() || at >= t.tableAt) return "object offset out of range";
        if (auto why = readObject(doc, at, t.tableAt, t.refSize, objects[i])) return why;
        total += objects[i].size;
        if (total > t.tableAt - kBinaryMagic.size()) return "objects overlap";
    }
    return std::nullopt;
}

std::uint64_t reference(std::string_view doc, const BinaryObject& object, std::uint32_t i,
                        std::size_t refSize) {
    return readBigEndian(doc, object.refsAt + std::uint64_t{i} * refSize, refSize);
}

Refusal checkReferences(std::string_view doc, const Trailer& t,
                        const std::vector<BinaryObject>& objects) {
    for (const BinaryObject& object : objects) {
        for (std::uint32_t i = 0; i < object.refCount; ++i) {
            const std::uint64_t target = reference(doc, object, i, t.refSize);
            if (target >= objects.size()) return "reference out of range";
            if (i < object.keyCount && !objects[target].isString) {
                return "dictionary key is not a string";
            }
        }
    }
    return std::nullopt;
}

// An object as libplist will build it, every shared object below it copied once per use.
struct Expansion {
    std::uint32_t objects = 1;
    std::uint32_t bytes = 0;
    std::uint32_t depth = 0;  // containers around its deepest value, itself included
};

// Adds a child to its container. Every total stays within its bound (or is refused at once), so
// none can overflow.
Refusal addChild(Expansion& container, const Expansion& child) {
    container.objects += child.objects;
    container.bytes += child.bytes;
    container.depth = std::max(container.depth, child.depth + 1);
    if (container.depth > PlistBounds::kMaxDepth) return deeperThanAllowed();
    if (container.objects > PlistBounds::kMaxObjects) return tooManyObjects();
    if (container.bytes > PlistBounds::kMaxBytes) {
        return "more than " + std::to_string(PlistBounds::kMaxBytes) +
               " bytes once shared objects are copied";
    }
    return std::nullopt;
}

enum class Mark : std::uint8_t { Unseen, Open, Done };

struct Frame {
    std::uint64_t object = 0;
    std::uint32_t next = 0;  // its next reference to follow
    Expansion total;
};

// Depth-first over the references from the top object with an explicit path, each container
// expanded once and remembered; meeting a container that is still open on the path is a cycle.
Refusal walk(std::string_view doc, const Trailer& t, const std::vector<BinaryObject>& objects) {
    std::vector<Mark> marks(objects.size(), Mark::Unseen);
    std::vector<Expansion> expanded(objects.size());
    std::vector<Frame> path;
    const auto open = [&](std::uint64_t o) {
        marks[o] = Mark::Open;
        path.push_back({o, 0, {1, objects[o].size, 0}});
    };
    open(t.top);
    while (!path.empty()) {
        Frame& frame = path.back();
        const BinaryObject& object = objects[frame.object];
        if (frame.next == object.refCount) {
            const Expansion done = frame.total;
            marks[frame.object] = Mark::Done;
            expanded[frame.object] = done;
            path.pop_back();
            if (path.empty()) break;
            if (auto why = addChild(path.back().total, done)) return why;
            continue;
        }
        const std::uint64_t child = reference(doc, object, frame.next++, t.refSize);
        if (marks[child] == Mark::Open) return "reference cycle";
        if (marks[child] == Mark::Unseen && objects[child].refCount > 0) {
            // Its own items would sit inside more containers than allowed.
            if (path.size() >= PlistBounds::kMaxDepth) return deeperThanAllowed();
            open(child);
            continue;
        }
        const Expansion done =
            marks[child] == Mark::Done ? expanded[child] : Expansion{1, objects[child].size, 0};
        if (auto why = addChild(frame.total, done)) return why;
    }
    return std::nullopt;
}

Refusal binaryRefusal(std::string_view doc) {
    Trailer trailer;
    if (auto why = readTrailer(doc, trailer)) return why;
    std::vector<BinaryObject> objects;
    if (auto why = readObjects(doc, trailer, objects)) return why;
    if (auto why = checkReferences(doc, trailer, objects)) return why;
    return walk(doc, trailer, objects);
}

// ---- XML lists. libplist 2.2 reads them with its own scanner, whose rules this one follows:
// only double quotes hide markup (in instructions, the document type and attributes), an
// instruction ends at the first "?>" counted from its own '?' (so "<?>" is whole), comments and
// CDATA sections are taken only where libplist takes them. Wherever a plain XML reading and
// libplist's could differ (markup characters inside quotes, internal DTD subsets, anything after
// the top value) the document is refused, so this view of the nesting is never shallower than
// libplist's.

struct Cursor {
    std::string_view doc;
    std::size_t pos = 0;
};

bool startsAt(const Cursor& c, std::string_view text) {
    return c.doc.substr(c.pos).starts_with(text);
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The double-quoted run opening at `at`; moves `at` to its closing quote. False when it is
// unterminated or holds one of `forbidden`.
bool skipQuoted(std::string_view doc, std::size_t& at, std::string_view forbidden) {
    const std::size_t close = doc.find('"', at + 1);
    if (close == npos) return false;
    const bool clean = doc.substr(at + 1, close - at - 1).find_first_of(forbidden) == npos;
    at = close;
    return clean;
}

// From the cursor's opening through the first `close` after `openLength` bytes.
Refusal skipDelimited(Cursor& c, std::size_t openLength, std::string_view close,
                      std::string_view what) {
    const std::size_t end = c.doc.find(close, c.pos + openLength);
    if (end == npos) return "unterminated " + std::string(what);
    c.pos = end + close.size();
    return std::nullopt;
}

Refusal skipInstruction(Cursor& c) {
    for (std::size_t p = c.pos + 1; p + 1 < c.doc.size(); ++p) {
        if (c.doc[p] == '?' && c.doc[p + 1] == '>') {
            c.pos = p + 2;
            return std::nullopt;
        }
        if (c.doc[p] == '<' || c.doc[p] == '>' ||
            (c.doc[p] == '"' && !skipQuoted(c.doc, p, "<>"))) {
            return "markup inside an instruction";
        }
    }
    return "unterminated instruction";
}

// "<!DOCTYPE ...>" without an internal subset.
Refusal skipDoctype(Cursor& c) {
    for (std::size_t p = c.pos + 9; p < c.doc.size(); ++p) {
        const char ch = c.doc[p];
        if (ch == '>') {
            c.pos = p + 1;
            return std::nullopt;
        }
        if (ch == '<' || ch == '[' || (ch == '"' && !skipQuoted(c.doc, p, "<>["))) {
            return "unsupported document type";
        }
    }
    return "unterminated document type";
}

struct Tag {
    std::string_view name;
    bool closing = false;
    bool empty = false;  // "<name/>"
};

// Attributes from `p` up to the tag's '>' (npos when malformed); libplist takes the tag as empty
// when the byte before that '>' is '/'.
std::size_t skipAttributes(std::string_view doc, std::size_t p) {
    for (; p < doc.size() && doc[p] != '>'; ++p) {
        if (doc[p] == '<' || (doc[p] == '"' && !skipQuoted(doc, p, "<>"))) return npos;
    }
    return p;
}

// "<name>", "<name/>", "<name attributes>" or "</name>" at the cursor.
Refusal readTag(Cursor& c, Tag& tag) {
    const std::string_view doc = c.doc;
    std::size_t p = c.pos + 1;
    tag.closing = p < doc.size() && doc[p] == '/';
    if (tag.closing) ++p;
    const std::size_t nameAt = p;
    while (p < doc.size() && isLetter(doc[p])) ++p;
    tag.name = doc.substr(nameAt, p - nameAt);
    if (tag.closing) {
        while (p < doc.size() && isSpace(doc[p])) ++p;
    } else if (p < doc.size() && isSpace(doc[p])) {
        p = skipAttributes(doc, p);
        tag.empty = p != npos && doc[p - 1] == '/';
    } else if (p < doc.size() && doc[p] == '/') {
        tag.empty = true;
        ++p;
    }
    if (tag.name.empty() || p >= doc.size() || doc[p] != '>') return "malformed tag";
    c.pos = p + 1;
    return std::nullopt;
}

bool isTextElement(std::string_view name) {
    static constexpr std::array<std::string_view, 8> kNames = {"key",  "string", "integer", "real",
                                                               "true", "false",  "date",    "data"};
    return std::find(kNames.begin(), kNames.end(), name) != kNames.end();
}

// A text element's content through its closing tag. Inside it libplist takes comments and CDATA
// sections and no other markup.
Refusal skipText(Cursor& c, std::string_view name, std::uint64_t& referenceWork) {
    const std::size_t start = c.pos;
    std::uint64_t references = 0;
    for (;;) {
        const std::size_t lt = c.doc.find('<', c.pos);
        if (lt == npos) return "unterminated <" + std::string(name) + ">";
        references +=
            static_cast<std::uint64_t>(std::count(c.doc.begin() + c.pos, c.doc.begin() + lt, '&'));
        c.pos = lt;
        Refusal why;
        if (startsAt(c, "<!--")) {
            why = skipDelimited(c, 4, "-->", "comment");
        } else if (startsAt(c, "<![CDATA[")) {
            why = skipDelimited(c, 9, "]]>", "CDATA section");
        } else if (startsAt(c, "</")) {
            break;
        } else {
            return "markup inside <" + std::string(name) + ">";
        }
        if (why) return why;
    }
    Tag closing;
    if (auto why = readTag(c, closing)) return why;
    if (closing.name != name) return "mismatched closing tag";
    referenceWork += references * (c.pos - start);
    if (referenceWork > kMaxReferenceWork) return "too many character references";
    return std::nullopt;
}

// Where the scanner stands among the elements.
struct XmlState {
    std::vector<std::string_view> containers;  // open arrays and dictionaries, innermost last
    bool plistOpen = false;
    bool rootSeen = false;  // the top value has started
    bool rootDone = false;  // ... and ended; libplist reads nothing after it
    std::uint64_t objects = 0;
    std::uint64_t referenceWork = 0;
};

Refusal onValue(Cursor& c, const Tag& tag, XmlState& s) {
    if (s.rootDone) return "content after the top value";
    if (s.containers.size() > PlistBounds::kMaxDepth) return deeperThanAllowed();
    if (++s.objects > PlistBounds::kMaxObjects) return tooManyObjects();
    s.rootSeen = true;
    if (tag.name == "array" || tag.name == "dict") {
        if (!tag.empty) {
            s.containers.push_back(tag.name);
            return std::nullopt;
        }
    } else if (!isTextElement(tag.name)) {
        return "unknown element <" + std::string(tag.name) + ">";
    } else if (!tag.empty) {
        if (auto why = skipText(c, tag.name, s.referenceWork)) return why;
    }
    s.rootDone = s.containers.empty();
    return std::nullopt;
}

Refusal onClosing(const Tag& tag, XmlState& s) {
    if (!s.containers.empty() && tag.name == s.containers.back()) {
        s.containers.pop_back();
        s.rootDone = s.containers.empty();
        return std::nullopt;
    }
    if (tag.name == "plist" && s.plistOpen && s.rootDone) {
        s.plistOpen = false;
        return std::nullopt;
    }
    return "mismatched closing tag";
}

Refusal onElement(Cursor& c, XmlState& s) {
    Tag tag;
    if (auto why = readTag(c, tag)) return why;
    if (tag.closing) return onClosing(tag, s);
    if (tag.name != "plist") return onValue(c, tag, s);
    if (tag.empty || s.plistOpen || s.rootSeen) return "misplaced <plist>";
    s.plistOpen = true;
    return std::nullopt;
}

Refusal xmlRefusal(std::string_view doc) {
    if (doc.find('\0') != npos) return "NUL character in XML";  // which has none anywhere
    Cursor c{doc};
    XmlState s;
    for (;;) {
        while (c.pos < doc.size() && isSpace(doc[c.pos])) ++c.pos;
        if (c.pos == doc.size()) break;
        Refusal why;
        if (doc[c.pos] != '<') {
            why = "text outside a value";
        } else if (startsAt(c, "<?")) {
            why = skipInstruction(c);
        } else if (startsAt(c, "<!--")) {
            why = skipDelimited(c, 4, "-->", "comment");
        } else if (startsAt(c, "<!DOCTYPE")) {
            why = skipDoctype(c);
        } else if (startsAt(c, "<!")) {
            why = "unsupported markup outside a value";
        } else {
            why = onElement(c, s);
        }
        if (why) return why;
    }
    if (!s.rootDone) return s.rootSeen ? "unterminated document" : "no value";
    return std::nullopt;
}

}  // namespace

std::optional<std::string> PlistBounds::refusal(std::string_view document) {
    if (document.empty()) return "empty document";
    if (document.size() > kMaxBytes) return "larger than " + std::to_string(kMaxBytes) + " bytes";
    return isBinary(document) ? binaryRefusal(document) : xmlRefusal(document);
}

bool PlistBounds::isBinary(std::string_view document) { return document.starts_with(kBinaryMagic); }

}  // namespace kestrova
