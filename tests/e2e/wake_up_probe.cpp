// Drives Brindle's Linux wake-up from standard input, for the test against a real systemd user
// manager: "set MS" sets it for MS milliseconds since 1970, "clear" removes it, "quit" ends.

#include "platform/linux/wake_up.h"

#include <cstdio>
#include <cstdlib>
#include <glib-unix.h>
#include <string>
#include <unistd.h>

int main()
{
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    struct Probe {
        GMainLoop* loop;
        brindle::native::WakeUp wakeUp;
        std::string pending;
    } probe { loop, {}, {} };
    g_unix_fd_add(
        STDIN_FILENO, G_IO_IN,
        [](int fd, GIOCondition, gpointer data) -> gboolean {
            auto& probe = *static_cast<Probe*>(data);
            char buffer[256];
            ssize_t const count = read(fd, buffer, sizeof buffer);
            if (count <= 0) {
                g_main_loop_quit(probe.loop);
                return G_SOURCE_REMOVE;
            }
            probe.pending.append(buffer, static_cast<std::size_t>(count));
            for (auto end = probe.pending.find('\n'); end != std::string::npos;
                 end = probe.pending.find('\n')) {
                std::string const line = probe.pending.substr(0, end);
                probe.pending.erase(0, end + 1);
                if (line.rfind("set ", 0) == 0)
                    probe.wakeUp.set(std::strtod(line.c_str() + 4, nullptr), [] {
                        std::puts("fired");
                        std::fflush(stdout);
                    });
                else if (line == "clear")
                    probe.wakeUp.set(std::nullopt, {});
                else if (line == "quit")
                    g_main_loop_quit(probe.loop);
            }
            return G_SOURCE_CONTINUE;
        },
        &probe);
    g_main_loop_run(loop);
    g_main_loop_unref(loop);
}
