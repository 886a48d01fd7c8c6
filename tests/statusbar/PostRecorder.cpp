#include "statusbar/PostRecorder.h"

namespace kestrova::test {

PostRecorder::PostRecorder(NotificationCenter& center, const std::vector<std::string>& names)
    : center_(center) {
    for (const auto& name : names) {
        center_.addObserver(this, name, [this, name](const PlistValue& object) {
            posts_.emplace_back(name, object);
        });
    }
}

PostRecorder::~PostRecorder() { center_.removeObserver(this); }

std::vector<PlistValue> PostRecorder::objectsOf(const std::string& name) const {
    std::vector<PlistValue> objects;
    for (const auto& [posted, object] : posts_) {
        if (posted == name) objects.push_back(object);
    }
    return objects;
}

}  // namespace kestrova::test
