#include "autodownload/KeywordMatcher.h"

#include <limits>

namespace kestrova {

KeywordMatcher::KeywordMatcher(const std::vector<std::string_view>& keywords) {
    // Bytes that occur in some keyword get their own class; all others share class 0, which
    // keeps the table small for texts of mostly markup.
    std::size_t states = 1;
    for (const std::string_view keyword : keywords) {
        states += keyword.size();
        for (const char c : keyword) {
            std::uint16_t& cls = classOf_[static_cast<unsigned char>(c)];
            if (cls == 0) cls = static_cast<std::uint16_t>(alphabet_++);
        }
    }
    if (states > kMaxCells / alphabet_ ||
        keywords.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
        return;
    }
    build(keywords);
    usable_ = true;
}

void KeywordMatcher::build(const std::vector<std::string_view>& keywords) {
    constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();
    next_.assign(alphabet_, kNone);
    firstKeyword_.assign(1, -1);
    nextKeyword_.assign(keywords.size(), -1);
    // The trie of the keywords.
    for (std::size_t k = 0; k < keywords.size(); ++k) {
        if (keywords[k].empty()) continue;
        std::uint32_t state = 0;
        for (const char c : keywords[k]) {
            const std::size_t cell = state * alphabet_ + classOf_[static_cast<unsigned char>(c)];
            if (next_[cell] == kNone) {
                next_[cell] = static_cast<std::uint32_t>(firstKeyword_.size());
                firstKeyword_.push_back(-1);
                next_.resize(next_.size() + alphabet_, kNone);
            }
            state = next_[cell];
        }
        nextKeyword_[k] = firstKeyword_[state];
        firstKeyword_[state] = static_cast<std::int32_t>(k);
    }
    // Breadth first, every state's missing moves become those of its longest proper suffix;
    // class 0 always leads back to the root.
    const std::size_t count = firstKeyword_.size();
    fail_.assign(count, 0);
    report_.assign(count, 0);
    std::vector<std::uint32_t> queue;
    queue.reserve(count);
    for (std::size_t c = 0; c < alphabet_; ++c) {
        std::uint32_t& target = next_[c];
        if (target == kNone || c == 0) {
            target = 0;
        } else {
            queue.push_back(target);
        }
    }
    for (std::size_t head = 0; head < queue.size(); ++head) {
        const std::uint32_t state = queue[head];
        report_[state] = firstKeyword_[state] >= 0 ? state : report_[fail_[state]];
        for (std::size_t c = 0; c < alphabet_; ++c) {
            std::uint32_t& target = next_[state * alphabet_ + c];
            const std::uint32_t viaSuffix = next_[fail_[state] * alphabet_ + c];
            if (target == kNone || c == 0) {
                target = c == 0 ? 0 : viaSuffix;
            } else {
                fail_[target] = viaSuffix;
                queue.push_back(target);
            }
        }
    }
}

}  // namespace kestrova
