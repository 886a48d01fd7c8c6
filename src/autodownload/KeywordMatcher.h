#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace kestrova {

// An Aho-Corasick automaton over bytes: finds every occurrence of many keywords in one pass
// over a text, so that a scan costs one walk of the page however many titles are followed.
//
// Walk a text with next() from Cursor 0; after a byte where endsKeyword(), the states whose
// keywords end there are firstOutput(), then nextOutput() of that until 0, longest first. Empty
// keywords never match. A keyword set whose table would exceed kMaxCells is not built (!usable());
// sets of at most kMaxKeywordBytes bytes in all always fit.
class KeywordMatcher {
public:
    using State = std::uint32_t;

    // Largest table built, in cells of 4 bytes (64 MiB).
    static constexpr std::size_t kMaxCells = 16u * 1024u * 1024u;
    static constexpr std::size_t kMaxKeywordBytes = kMaxCells / 257 - 1;

    explicit KeywordMatcher(const std::vector<std::string_view>& keywords);

    bool usable() const { return usable_; }
    std::size_t stateCount() const { return fail_.size(); }

    // Where a walk stands: the row of its state in the table, marked when keywords end there.
    using Cursor = std::uint32_t;
    static constexpr Cursor kEndsKeyword = 0x80000000u;

    Cursor next(Cursor cursor, char byte) const {
        // A byte in no keyword (class 0) leads back to the start from every state; testing for
        // it, rather than loading the table, keeps the walk off the memory on most markup.
        const std::uint16_t cls = classOf_[static_cast<unsigned char>(byte)];
        return cls == 0 ? 0 : moves_[(cursor & ~kEndsKeyword) + cls];
    }
    static bool endsKeyword(Cursor cursor) { return (cursor & kEndsKeyword) != 0; }
    // The root (0) ends no keyword, so 0 also ends the chain of output states.
    State firstOutput(Cursor cursor) const { return report_[(cursor & ~kEndsKeyword) / alphabet_]; }
    State nextOutput(State output) const { return report_[fail_[output]]; }

    template <typename OnKeyword>
    void forEachKeyword(State output, OnKeyword&& onKeyword) const {
        for (std::int32_t k = firstKeyword_[output]; k >= 0;
             k = nextKeyword_[static_cast<std::size_t>(k)]) {
            onKeyword(static_cast<std::size_t>(k));
        }
    }

private:
    void build(const std::vector<std::string_view>& keywords);

    bool usable_ = false;
    std::array<std::uint16_t, 256> classOf_{};  // byte -> class; 0 for bytes in no keyword
    std::size_t alphabet_ = 1;
    std::vector<Cursor> moves_;               // cursor + class -> cursor
    std::vector<State> fail_;                 // longest proper suffix that is a state
    std::vector<State> report_;               // the state or its nearest suffix state that
                                              // ends a keyword; 0 for none
    std::vector<std::int32_t> firstKeyword_;  // keywords ending at a state, as linked lists
    std::vector<std::int32_t> nextKeyword_;
};

}  // namespace kestrova
