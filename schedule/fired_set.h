#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace brindle {

// The fired keys of every delivery Brindle remembers, in the order they were delivered. The
// order matters only for the stored copy, which keeps the most recent deliveries when it has
// to leave some out.
class FiredSet {
public:
    bool contains(std::string_view firedKey) const;
    // Adds the key as the most recent delivery; a key already present keeps its place.
    void insert(std::string firedKey);
    std::size_t size() const { return order_.size(); }
    // The last `count` keys in delivery order, oldest first.
    std::vector<std::string> mostRecent(std::size_t count) const;

private:
    std::unordered_set<std::string> keys_;
    std::vector<std::string> order_;
};

} // namespace brindle
