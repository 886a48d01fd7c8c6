#include "platform/net/RangePlan.h"

#include <algorithm>

namespace kestrova {

RangePlan::RangePlan(std::int64_t length, const std::vector<ByteRange>& kept) : length_(length) {
    for (const ByteRange& range : kept) {
        keep(std::clamp<std::int64_t>(range.begin, 0, length_),
             std::clamp<std::int64_t>(range.end, 0, length_));
    }
    std::int64_t at = 0;
    for (const auto& [begin, end] : kept_) {
        if (begin > at) pieces_.push_back({at, begin, false});
        at = end;
    }
    if (at < length_) pieces_.push_back({at, length_, false});
}

std::optional<std::size_t> RangePlan::claim(std::int64_t minPiece) {
    std::optional<std::size_t> largest;
    for (std::size_t i = 0; i < pieces_.size(); ++i) {
        Piece& p = pieces_[i];
        if (p.next == p.end) continue;
        if (!p.owned) {
            p.owned = true;
            return i;
        }
        if (!largest || room(i) > room(*largest)) largest = i;
    }
    if (!largest || room(*largest) < 2 * std::max<std::int64_t>(minPiece, 1)) return std::nullopt;
    const Piece victim = pieces_[*largest];
    const std::int64_t middle = victim.next + room(*largest) / 2;
    pieces_[*largest].end = middle;
    pieces_.push_back({middle, victim.end, true});
    return pieces_.size() - 1;
}

std::int64_t RangePlan::wrote(std::size_t index, std::int64_t length) {
    Piece& p = pieces_.at(index);
    const std::int64_t begin = p.next;
    p.next += std::clamp<std::int64_t>(length, 0, p.end - p.next);
    return keep(begin, p.next);
}

void RangePlan::shorten(std::size_t index, std::int64_t end) {
    const Piece p = pieces_.at(index);
    if (end <= p.next || end >= p.end) return;
    pieces_[index].end = end;
    pieces_.push_back({end, p.end, false});
}

std::size_t RangePlan::alone(std::int64_t from) {
    pieces_.assign(1, Piece{std::clamp<std::int64_t>(from, 0, length_), length_, true});
    return 0;
}

std::vector<ByteRange> RangePlan::kept() const {
    std::vector<ByteRange> ranges;
    for (const auto& [begin, end] : kept_) ranges.push_back({begin, end});
    return ranges;
}

std::int64_t RangePlan::keptFrom(std::int64_t offset) const {
    auto after = kept_.upper_bound(offset);
    if (after == kept_.begin()) return offset;
    --after;
    return after->second > offset ? after->second : offset;
}

std::int64_t RangePlan::keep(std::int64_t begin, std::int64_t end) {
    if (begin >= end) return 0;
    std::int64_t added = end - begin;
    std::int64_t first = begin, last = end;
    auto it = kept_.upper_bound(begin);
    if (it != kept_.begin() && std::prev(it)->second >= begin) --it;
    // Every kept run touching [begin, end) is merged into one.
    while (it != kept_.end() && it->first <= end) {
        added -= std::max<std::int64_t>(0, std::min(end, it->second) - std::max(begin, it->first));
        first = std::min(first, it->first);
        last = std::max(last, it->second);
        it = kept_.erase(it);
    }
    kept_.emplace(first, last);
    return added;
}

}  // namespace kestrova
