#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "platform/net/ByteRange.h"

namespace kestrova {

// The bookkeeping of one file fetched in pieces over several requests: which bytes are in the
// file already (kept) and which pieces are still to come, each owned by one request or free.
// A free request claims a free piece first, else steals the back half of the largest owned
// piece, so that the pieces' ends stay close together and no last piece tails. No I/O: the
// transfer writes and this class counts.
class RangePlan {
public:
    struct Piece {
        std::int64_t next = 0;  // the next byte to write
        std::int64_t end = 0;   // exclusive
        bool owned = false;
    };

    // A file of length bytes of which the kept ranges (sorted or not, within the length) are
    // there already; the gaps become free pieces.
    RangePlan(std::int64_t length, const std::vector<ByteRange>& kept);

    std::int64_t length() const { return length_; }
    const Piece& piece(std::size_t index) const { return pieces_.at(index); }
    // A piece for one more request, owned from now on: the first free one, else the back half
    // of the largest owned piece when both halves keep at least minPiece bytes.
    std::optional<std::size_t> claim(std::int64_t minPiece);
    // Records length bytes written at the piece's next byte (at most its room); answers how
    // many of them were not kept before.
    std::int64_t wrote(std::size_t index, std::int64_t length);
    std::int64_t room(std::size_t index) const { return piece(index).end - piece(index).next; }
    // The owner went: the rest of the piece is free again.
    void release(std::size_t index) { pieces_.at(index).owned = false; }
    // The owner's reply stops before the piece's end: the rest becomes a free piece.
    void shorten(std::size_t index, std::int64_t end);
    // One owner from now on fetches everything from `from` to the end of the file: every other
    // piece goes. Answers the one piece.
    std::size_t alone(std::int64_t from);

    bool complete() const { return length_ == 0 || keptFrom(0) == length_; }
    // Whether every byte before offset is kept.
    bool keptUpTo(std::int64_t offset) const { return offset == 0 || keptFrom(0) >= offset; }
    std::vector<ByteRange> kept() const;

private:
    // The end of the kept run that holds offset; offset itself when it is not kept.
    std::int64_t keptFrom(std::int64_t offset) const;
    // Adds [begin, end) to the kept ranges; answers how many bytes were new.
    std::int64_t keep(std::int64_t begin, std::int64_t end);

    std::int64_t length_;
    std::map<std::int64_t, std::int64_t> kept_;  // begin -> end, merged, disjoint
    std::vector<Piece> pieces_;                  // by index; a done one has next == end
};

}  // namespace kestrova
