#include "platform/linux/files.h"

#include <glib.h>
#include <glib/gstdio.h>

namespace brindle::native {

namespace {

// Linux gives up on a chain of more than 40 links (ELOOP); so does Brindle.
constexpr int maximumLinkHops = 40;

} // namespace

bool createDirectories(std::string const& path)
{
    if (path.empty())
        return false;
    g_mkdir_with_parents(path.c_str(), 0755);
    return g_file_test(path.c_str(), G_FILE_TEST_IS_DIR);
}

std::optional<std::string> readFile(std::string const& path)
{
    g_autofree gchar* contents = nullptr;
    gsize length = 0;
    if (!g_file_get_contents(path.c_str(), &contents, &length, nullptr))
        return std::nullopt;
    return std::string(contents, length);
}

std::string resolveSymbolicLinks(std::string const& path)
{
    std::string current = path;
    for (int hop = 0; hop < maximumLinkHops; ++hop) {
        if (!g_file_test(current.c_str(), G_FILE_TEST_IS_SYMLINK))
            return current;
        g_autofree gchar* target = g_file_read_link(current.c_str(), nullptr);
        if (!target)
            return path;
        if (g_path_is_absolute(target)) {
            current = target;
        } else {
            g_autofree gchar* folder = g_path_get_dirname(current.c_str());
            g_autofree gchar* joined = g_build_filename(folder, target, nullptr);
            current = joined;
        }
    }
    return path;
}

// g_file_set_contents renames a fresh file over the path, which would replace a symbolic link
// with a regular file and leave the link's target behind unchanged; the target is written
// instead.
bool writeFileAtomically(std::string const& path, std::string_view bytes)
{
    std::string const target = resolveSymbolicLinks(path);
    return g_file_set_contents_full(target.c_str(), bytes.data(), static_cast<gssize>(bytes.size()),
        static_cast<GFileSetContentsFlags>(G_FILE_SET_CONTENTS_CONSISTENT | G_FILE_SET_CONTENTS_DURABLE),
        0644, nullptr);
}

std::optional<std::string> executablePath()
{
    g_autofree gchar* path = g_file_read_link("/proc/self/exe", nullptr);
    if (!path)
        return std::nullopt;
    return std::string(path);
}

std::optional<std::string> findResource(
    std::string const& executablePath, std::string const& name, std::string const& extension)
{
    // Only plain file names: a name must not reach outside the sounds folder.
    auto plain = [](std::string const& part) {
        return !part.empty() && part != "." && part != ".." && part.find('/') == std::string::npos
            && part.find('\0') == std::string::npos;
    };
    std::string const file = name + "." + extension;
    if (!plain(name) || !plain(extension) || !plain(file))
        return std::nullopt;

    g_autofree gchar* binFolder = g_path_get_dirname(executablePath.c_str());
    g_autofree gchar* prefix = g_path_get_dirname(binFolder);
    g_autofree gchar* path = g_build_filename(prefix, "share", "brindle", "sounds", file.c_str(), nullptr);
    if (!g_file_test(path, G_FILE_TEST_IS_REGULAR) || g_access(path, R_OK) != 0)
        return std::nullopt;
    return std::string(path);
}

} // namespace brindle::native
