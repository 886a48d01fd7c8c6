#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace kestrova {

// Finds every occurrence of many keywords in one pass over a text (an Aho-Corasick automaton
// over bytes), so that a scan costs one walk of the page however many titles are followed.
//
// Build it once per set of keywords, then scan(): onMatch(keywordIndex, end) is called for each
// occurrence, with end the offset just past it, in order of end. Empty keywords never match.
// Keywords whose automaton would be too large to build (a hostile list) leave it !usable();
// the caller then has to search some other way.
class KeywordMatcher {
public:
    explicit KeywordMatcher(const std::vector<std::string_view>& keywords);

    bool usable() const { return usable_; }

    template <typename OnMatch>
    void scan(std::string_view text, OnMatch&& onMatch) const {
        if (!usable_) return;
        std::uint32_t state = 0;
        for (std::size_t i = 0; i < text.size(); ++i) {
            const std::uint16_t cls = classOf_[static_cast<unsigned char>(text[i])];
            // A byte that is in no keyword ends every partial match.
            state = cls == 0 ? 0 : next_[state * alphabet_ + cls];
            // The root ends no keyword, so 0 also ends the chain of states that do.
            for (std::uint32_t s = report_[state]; s != 0; s = report_[fail_[s]]) {
                for (std::int32_t k = firstKeyword_[s]; k >= 0;
                     k = nextKeyword_[static_cast<std::size_t>(k)]) {
                    onMatch(static_cast<std::size_t>(k), i + 1);
                }
            }
        }
    }

    // Largest automaton built, in table cells (64 MiB).
    static constexpr std::size_t kMaxCells = 16u * 1024u * 1024u;

private:
    void build(const std::vector<std::string_view>& keywords);

    bool usable_ = false;
    std::array<std::uint16_t, 256> classOf_{};  // byte -> class; 0 for bytes in no keyword
    std::size_t alphabet_ = 1;
    std::vector<std::uint32_t> next_;         // state * alphabet_ + class -> state
    std::vector<std::uint32_t> fail_;         // longest proper suffix that is a state
    std::vector<std::uint32_t> report_;       // the state itself or its nearest suffix state
                                              // that ends a keyword; 0 for none
    std::vector<std::int32_t> firstKeyword_;  // keywords ending at a state, as a linked list
    std::vector<std::int32_t> nextKeyword_;
};

}  // namespace kestrova
