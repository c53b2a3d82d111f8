#include "platform/linux/files.h"

#include <cerrno>
#include <fcntl.h>
#include <glib.h>
#include <glib/gstdio.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace brindle::native {

namespace {

// Linux gives up on a chain of more than 40 links (ELOOP); so does Brindle.
constexpr int maximumLinkHops = 40;

// Closes the descriptor it holds when it goes out of scope.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd)
        : fd_(fd)
    {
    }
    ~FileDescriptor() { reset(); }
    FileDescriptor(FileDescriptor const&) = delete;
    FileDescriptor& operator=(FileDescriptor const&) = delete;

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    // Closes now; false when the kernel reports a late write error on close.
    bool reset()
    {
        int fd = fd_;
        fd_ = -1;
        return fd < 0 || close(fd) == 0;
    }

private:
    int fd_;
};

bool writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        ssize_t written = write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// The one name a write of `target` ever gives its new content before it is renamed into place:
// hidden, beside the target (a rename only replaces within one file system) and Brindle's own.
std::string temporaryPath(std::string const& target)
{
    g_autofree gchar* folder = g_path_get_dirname(target.c_str());
    g_autofree gchar* name = g_path_get_basename(target.c_str());
    g_autofree gchar* hidden = g_strconcat(".", name, ".brindle-tmp", nullptr);
    g_autofree gchar* path = g_build_filename(folder, hidden, nullptr);
    return path;
}

enum class WriteOutcome {
    written,
    failed,
    // The file system or the system has no unnamed files: write under the temporary name instead.
    unsupported,
};

// Writes and flushes the bytes into a file with no name in the folder, names it and at once
// renames it over the target. A kill before the name is given leaves nothing behind, and only
// a kill between the two back-to-back system calls that name and rename it leaves the temporary
// file; a failure leaves nothing, since the kernel drops an unnamed file when it is closed.
WriteOutcome writeUnnamed(std::string const& folder, std::string const& temporary, std::string const& target,
    std::string_view bytes, std::optional<mode_t> mode)
{
    FileDescriptor file(open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644));
    if (!file) {
        bool unsupported = errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL;
        return unsupported ? WriteOutcome::unsupported : WriteOutcome::failed;
    }
    if ((mode && fchmod(file.get(), *mode) != 0) || !writeAll(file.get(), bytes) || fsync(file.get()) != 0)
        return WriteOutcome::failed;
    // Naming an open unnamed file needs its /proc entry; without /proc the named way is taken.
    g_autofree gchar* self = g_strdup_printf("/proc/self/fd/%d", file.get());
    if (linkat(AT_FDCWD, self, AT_FDCWD, temporary.c_str(), AT_SYMLINK_FOLLOW) != 0)
        return errno == ENOENT ? WriteOutcome::unsupported : WriteOutcome::failed;
    if (rename(temporary.c_str(), target.c_str()) != 0) {
        g_unlink(temporary.c_str());
        return WriteOutcome::failed;
    }
    // The content was flushed before it was named; closing can report nothing that matters.
    return WriteOutcome::written;
}

bool writeNamed(std::string const& temporary, std::string_view bytes, std::optional<mode_t> mode)
{
    FileDescriptor file(open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!file)
        return false;
    bool written
        = (!mode || fchmod(file.get(), *mode) == 0) && writeAll(file.get(), bytes) && fsync(file.get()) == 0;
    if (!file.reset() || !written) {
        g_unlink(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace

std::optional<std::string> userFolder(char const* folder)
{
    if (!folder || !*folder)
        return std::nullopt;
    return std::string(folder);
}

bool createDirectories(std::string const& path)
{
    if (path.empty())
        return false;
    g_mkdir_with_parents(path.c_str(), 0755);
    return g_file_test(path.c_str(), G_FILE_TEST_IS_DIR);
}

// Only a regular file is read. Opening a named pipe for reading would wait for a writer for
// good, and a device such as /dev/zero gives bytes without end; the descriptor is opened
// without waiting and looked at before anything is read.
std::optional<std::string> readFile(std::string const& path)
{
    FileDescriptor file(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat status { };
    if (!file || fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode))
        return std::nullopt;
    std::string contents;
    contents.reserve(static_cast<std::size_t>(status.st_size));
    char buffer[65536];
    for (;;) {
        ssize_t count = read(file.get(), buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        if (count == 0)
            return contents;
        contents.append(buffer, static_cast<std::size_t>(count));
    }
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

// A fresh file renamed over the path would replace a symbolic link with a regular file and leave
// the link's target behind unchanged; the target is written instead. The new content is written
// and flushed before it takes the target's name, so a reader, or Brindle after a crash or a
// kill, finds the old content or the new one whole, never a mix. Its folder is flushed too, so
// the rename itself outlasts a power cut.
bool writeFileAtomically(std::string const& path, std::string_view bytes)
{
    std::string const target = resolveSymbolicLinks(path);
    // Only a regular file is ever replaced (or a link whose chain loops, which points nowhere).
    // A store linked to a device, a pipe or a folder is left alone: renaming over /dev/null
    // would replace the device itself for everyone on the system.
    struct stat found { };
    if (lstat(target.c_str(), &found) == 0 && !S_ISREG(found.st_mode) && !S_ISLNK(found.st_mode))
        return false;
    std::string const temporary = temporaryPath(target);
    g_autofree gchar* folder = g_path_get_dirname(target.c_str());

    // Only a kill between naming the new content and renaming it leaves the temporary file;
    // every write clears what an earlier one left, which also gives its room back on a full disk.
    g_unlink(temporary.c_str());

    // The new file keeps the permissions the user gave the old one.
    std::optional<mode_t> mode;
    struct stat existing { };
    if (stat(target.c_str(), &existing) == 0 && S_ISREG(existing.st_mode))
        mode = existing.st_mode & 07777;

    auto outcome = writeUnnamed(folder, temporary, target, bytes, mode);
    if (outcome == WriteOutcome::unsupported) {
        if (!writeNamed(temporary, bytes, mode))
            return false;
        if (rename(temporary.c_str(), target.c_str()) != 0) {
            g_unlink(temporary.c_str());
            return false;
        }
    } else if (outcome != WriteOutcome::written) {
        return false;
    }
    FileDescriptor directory(open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory)
        fsync(directory.get());
    return true;
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
    // A file that is there but cannot be read is still the sound: loading it fails, which
    // silences whatever played before, where a missing file would leave it playing.
    if (!g_file_test(path, G_FILE_TEST_IS_REGULAR))
        return std::nullopt;
    return std::string(path);
}

} // namespace brindle::native
