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
    constexpr State kNone = std::numeric_limits<std::uint32_t>::max();
    std::vector<State> next(alphabet_, kNone);  // state * alphabet_ + class -> state
    firstKeyword_.assign(1, -1);
    nextKeyword_.assign(keywords.size(), -1);
    // The trie of the keywords.
    for (std::size_t k = 0; k < keywords.size(); ++k) {
        if (keywords[k].empty()) continue;
        std::uint32_t state = 0;
        for (const char c : keywords[k]) {
            const std::size_t cell = state * alphabet_ + classOf_[static_cast<unsigned char>(c)];
            if (next[cell] == kNone) {
                next[cell] = static_cast<std::uint32_t>(firstKeyword_.size());
                firstKeyword_.push_back(-1);
                next.resize(next.size() + alphabet_, kNone);
            }
            state = next[cell];
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
        std::uint32_t& target = next[c];
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
            std::uint32_t& target = next[state * alphabet_ + c];
            const std::uint32_t viaSuffix = next[fail_[state] * alphabet_ + c];
            if (target == kNone || c == 0) {
                target = c == 0 ? 0 : viaSuffix;
            } else {
                fail_[target] = viaSuffix;
                queue.push_back(target);
            }
        }
    }
    // The walking table: rows addressed by offset, so a step is one load and one add.
    moves_.resize(next.size());
    for (std::size_t cell = 0; cell < next.size(); ++cell) {
        const State target = next[cell];
        moves_[cell] =
            static_cast<Cursor>(target * alphabet_) | (report_[target] != 0 ? kEndsKeyword : 0u);
    }
}

}  // namespace kestrova
