#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/plist/PlistValue.h"
#include "platform/runtime/NotificationCenter.h"

namespace kestrova::test {

// Observes the given notification names and keeps every post (name, object) in order, as the
// application delegate would receive them. Main thread only.
class PostRecorder {
public:
    PostRecorder(NotificationCenter& center, const std::vector<std::string>& names);
    ~PostRecorder();
    PostRecorder(const PostRecorder&) = delete;
    PostRecorder& operator=(const PostRecorder&) = delete;

    const std::vector<std::pair<std::string, PlistValue>>& posts() const { return posts_; }
    // The objects posted under name, in order.
    std::vector<PlistValue> objectsOf(const std::string& name) const;
    void clear() { posts_.clear(); }

private:
    NotificationCenter& center_;
    std::vector<std::pair<std::string, PlistValue>> posts_;
};

}  // namespace kestrova::test
