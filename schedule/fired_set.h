#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace brindle {

// The fired keys of every delivery Brindle remembers, in the order they were delivered. The
// order matters only for the stored copy, which keeps the most recent deliveries when it has
// to leave some out. Keys are kept in their composed (NFC) spelling, so a key and its
// decomposed spelling are the same delivery.
class FiredSet {
public:
    bool contains(std::string_view firedKey) const;
    // Adds the key as the most recent delivery; a key already present keeps its place.
    void insert(std::string firedKey);
    std::size_t size() const { return order_.size(); }
    // The last `count` keys in delivery order, oldest first.
    std::vector<std::string> mostRecent(std::size_t count) const;

private:
    // Looks keys up by string_view, so that an ASCII key is checked without a copy.
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const { return std::hash<std::string_view> {}(text); }
    };

    std::unordered_set<std::string, Hash, std::equal_to<>> keys_;
    std::vector<std::string> order_;
};

} // namespace brindle
