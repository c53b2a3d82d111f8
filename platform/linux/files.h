#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace brindle::native {

// One of GLib's per-user folders (g_get_user_data_dir(), ...); none where it is empty.
std::optional<std::string> userFolder(char const* folder);
bool createDirectories(std::string const& path);
// The whole content of a regular file; none for anything else (a folder, a named pipe, a device).
std::optional<std::string> readFile(std::string const& path);
// Writes aside, flushes and renames over the file. When the path is a symbolic link the link
// stays and its target is replaced, so a store that the user keeps elsewhere stays linked. A
// failed write leaves the old file as it was and no temporary file beside it.
bool writeFileAtomically(std::string const& path, std::string_view bytes);

// The file that a path names once its symbolic links are followed (also when the last target
// does not exist yet); the path itself when it is no link or the chain of links is too long.
std::string resolveSymbolicLinks(std::string const& path);

// The shipped file `name.extension` in the sounds folder beside the executable's folder
// (<exe>/../share/brindle/sounds), when it exists as a regular file, readable or not.
std::optional<std::string> findResource(
    std::string const& executablePath, std::string const& name, std::string const& extension);
std::optional<std::string> executablePath();

} // namespace brindle::native
