#pragma once

#include <glib.h>
#include <glib/gstdio.h>
#include <string>

namespace brindle::native::testing {

// A fresh folder under the system's temporary folder, removed with everything in it at the end.
class TemporaryFolder {
public:
    TemporaryFolder()
    {
        g_autofree gchar* made = g_dir_make_tmp("brindle-test-XXXXXX", nullptr);
        path_ = made ? made : "";
    }
    ~TemporaryFolder()
    {
        if (!path_.empty()) {
            std::string command = "rm -rf '" + path_ + "'";
            g_spawn_command_line_sync(command.c_str(), nullptr, nullptr, nullptr, nullptr);
        }
    }
    TemporaryFolder(TemporaryFolder const&) = delete;
    TemporaryFolder& operator=(TemporaryFolder const&) = delete;

    std::string const& path() const { return path_; }
    std::string operator/(std::string const& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

} // namespace brindle::native::testing
