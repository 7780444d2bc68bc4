#include "DifferenceWriter.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace differencewriter {
namespace {

using Index = std::int32_t;

// Suffix array by prefix doubling, each round a counting sort on the pair of ranks.
std::vector<Index> suffixArray(std::string_view text) {
    const Index size = static_cast<Index>(text.size());
    std::vector<Index> order(text.size()), rank(text.size()), next(text.size());
    std::vector<Index> counts(std::max<std::size_t>(256, text.size()) + 1);
    for (Index index = 0; index < size; ++index) rank[static_cast<std::size_t>(index)] = static_cast<unsigned char>(text[static_cast<std::size_t>(index)]);
    for (Index index = 0; index < size; ++index) next[static_cast<std::size_t>(index)] = index;
    Index rankCount = 256;
    for (Index span = 0;; span = span == 0 ? 1 : span * 2) {
        // By the second rank: suffixes without one first, then the others in order.
        if (span > 0) {
            Index filled = 0;
            for (Index index = size - span; index < size; ++index) next[static_cast<std::size_t>(filled++)] = index;
            for (Index suffix : order) {
                if (suffix >= span) next[static_cast<std::size_t>(filled++)] = suffix - span;
            }
        }
        std::fill(counts.begin(), counts.begin() + rankCount + 1, 0);
        for (Index value : rank) ++counts[static_cast<std::size_t>(value) + 1];
        for (Index value = 0; value < rankCount; ++value) counts[static_cast<std::size_t>(value) + 1] += counts[static_cast<std::size_t>(value)];
        for (Index suffix : next) order[static_cast<std::size_t>(counts[static_cast<std::size_t>(rank[static_cast<std::size_t>(suffix)])]++)] = suffix;
        if (span == 0) {
            continue;  // the first round only sorts by the first byte
        }
        auto second = [&](Index suffix) { return suffix + span < size ? rank[static_cast<std::size_t>(suffix + span)] : -1; };
        next[static_cast<std::size_t>(order[0])] = 0;
        Index classes = 1;
        for (std::size_t index = 1; index < order.size(); ++index) {
            Index a = order[index - 1], b = order[index];
            bool same = rank[static_cast<std::size_t>(a)] == rank[static_cast<std::size_t>(b)] && second(a) == second(b);
            next[static_cast<std::size_t>(b)] = same ? classes - 1 : classes++;
        }
        std::swap(rank, next);
        if (classes == size) return order;
        rankCount = classes;
    }
}

Index commonLength(std::string_view a, Index aStart, std::string_view b, Index bStart) {
    Index length = 0;
    while (static_cast<std::size_t>(aStart + length) < a.size() && static_cast<std::size_t>(bStart + length) < b.size() &&
           a[static_cast<std::size_t>(aStart + length)] == b[static_cast<std::size_t>(bStart + length)]) {
        ++length;
    }
    return length;
}

class Writer {
public:
    Writer(std::string_view old, std::string_view updated) : old_(old), new_(updated), order_(suffixArray(old)) {}

    std::string run();

private:
    // The longest match of the new file from scan in the old file, and where it starts.
    Index longestMatch(Index scan, Index& position) const {
        std::size_t low = 0, high = order_.size() - 1;
        std::string_view rest = new_.substr(static_cast<std::size_t>(scan));
        while (high - low > 1) {
            std::size_t middle = (low + high) / 2;
            std::string_view suffix = old_.substr(static_cast<std::size_t>(order_[middle]));
            if (suffix.substr(0, rest.size()) < rest.substr(0, suffix.size())) {
                low = middle;
            } else {
                high = middle;
            }
        }
        Index lowLength = commonLength(old_, order_[low], new_, scan);
        Index highLength = commonLength(old_, order_[high], new_, scan);
        position = lowLength > highLength ? order_[low] : order_[high];
        return std::max(lowLength, highLength);
    }

    bool sameAt(Index oldIndex, Index newIndex) const {
        return oldIndex >= 0 && static_cast<std::size_t>(oldIndex) < old_.size() &&
               old_[static_cast<std::size_t>(oldIndex)] == new_[static_cast<std::size_t>(newIndex)];
    }

    void block(Index lastScan, Index lastPosition, Index differenceLength, Index extraLength, Index seek) {
        for (std::uint64_t value : {static_cast<std::uint64_t>(differenceLength), static_cast<std::uint64_t>(extraLength),
                                    static_cast<std::uint64_t>(static_cast<std::int64_t>(seek))}) {
            for (int byte = 0; byte < 8; ++byte) out_.push_back(static_cast<char>(value >> (8 * byte) & 0xff));
        }
        for (Index index = 0; index < differenceLength; ++index) {
            out_.push_back(static_cast<char>(new_[static_cast<std::size_t>(lastScan + index)] - old_[static_cast<std::size_t>(lastPosition + index)]));
        }
        out_.append(new_.substr(static_cast<std::size_t>(lastScan + differenceLength), static_cast<std::size_t>(extraLength)));
    }

    std::string_view old_;
    std::string_view new_;
    std::vector<Index> order_;
    std::string out_;
};

// Walks the new file; a match is taken when it is longer by more than 8 bytes than what
// the current alignment already gives, then the stretch between matches is split into
// the current alignment's extension forward, the new match's extension backward, and
// the bytes neither covers.
std::string Writer::run() {
    const Index newSize = static_cast<Index>(new_.size());
    Index scan = 0, length = 0, position = 0, lastScan = 0, lastPosition = 0, lastOffset = 0;
    while (scan < newSize) {
        Index oldScore = 0;
        for (Index counted = scan += length; scan < newSize; ++scan) {
            length = longestMatch(scan, position);
            for (; counted < scan + length; ++counted) oldScore += sameAt(counted + lastOffset, counted);
            if ((length == oldScore && length != 0) || length > oldScore + 8) break;
            oldScore -= sameAt(scan + lastOffset, scan);
        }
        if (length == oldScore && scan != newSize) continue;

        Index forward = 0;
        for (Index index = 0, score = 0, best = 0; lastScan + index < scan && static_cast<std::size_t>(lastPosition + index) < old_.size();) {
            score += sameAt(lastPosition + index, lastScan + index);
            ++index;
            if (score * 2 - index > best * 2 - forward) best = score, forward = index;
        }
        Index backward = 0;
        if (scan < newSize) {
            for (Index index = 1, score = 0, best = 0; scan >= lastScan + index && position >= index; ++index) {
                score += sameAt(position - index, scan - index);
                if (score * 2 - index > best * 2 - backward) best = score, backward = index;
            }
        }
        if (lastScan + forward > scan - backward) {
            Index overlap = lastScan + forward - (scan - backward);
            Index score = 0, best = 0, split = 0;
            for (Index index = 0; index < overlap; ++index) {
                score += sameAt(lastPosition + forward - overlap + index, lastScan + forward - overlap + index);
                score -= sameAt(position - backward + index, scan - backward + index);
                if (score > best) best = score, split = index + 1;
            }
            forward += split - overlap;
            backward -= split;
        }
        block(lastScan, lastPosition, forward, scan - backward - (lastScan + forward), position - backward - (lastPosition + forward));
        lastScan = scan - backward;
        lastPosition = position - backward;
        lastOffset = position - scan;
    }
    return std::move(out_);
}

}  // namespace

std::string write(std::string_view old, std::string_view updated) {
    if (old.empty() || old.size() > 0x7fffffff || updated.size() > 0x7fffffff) {
        throw std::invalid_argument("difference patches take old files of 1 byte to 2 GiB");
    }
    return Writer(old, updated).run();
}

}  // namespace differencewriter
