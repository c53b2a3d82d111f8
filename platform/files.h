#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace brindle {

// The user's files. Paths are absolute and UTF-8.
class Files {
public:
    virtual ~Files() = default;
    // The per-user data folder holds the store and the per-user config folder the keys of
    // delivered alarms; either may be missing on a broken system.
    virtual std::optional<std::string> userDataDirectory() = 0;
    virtual std::optional<std::string> userConfigDirectory() = 0;
    // Creates the folder and its missing parents; true when it exists afterwards.
    virtual bool createDirectories(std::string const& path) = 0;
    virtual std::optional<std::string> readFile(std::string const& path) = 0;
    // Writes aside, flushes to disk and renames over the old file, so a reader sees either
    // the old or the new content whole. false when nothing was replaced.
    virtual bool writeFileAtomically(std::string const& path, std::string_view bytes) = 0;
};

} // namespace brindle
