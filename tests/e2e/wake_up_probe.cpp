// Brindle's Linux wake-up alone, for the test against real systemd user managers: each line on
// standard input "set MS" sets it for MS milliseconds since 1970, "clear" removes it, "quit" ends.

#include "platform/linux/wake_up.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <glib-unix.h>
#include <unistd.h>

int main()
{
    std::setvbuf(stdin, nullptr, _IONBF, 0); // One line a call; the rest stays readable.
    struct Probe {
        GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
        brindle::native::WakeUp wakeUp;
    } probe;
    g_unix_fd_add(
        STDIN_FILENO, G_IO_IN,
        [](int, GIOCondition, gpointer data) -> gboolean {
            auto& probe = *static_cast<Probe*>(data);
            char line[64];
            if (!std::fgets(line, sizeof line, stdin) || std::strncmp(line, "quit", 4) == 0) {
                g_main_loop_quit(probe.loop);
                return G_SOURCE_REMOVE;
            }
            if (std::strncmp(line, "set ", 4) == 0)
                probe.wakeUp.set(std::strtod(line + 4, nullptr), [] {});
            else
                probe.wakeUp.set(std::nullopt, {});
            return G_SOURCE_CONTINUE;
        },
        &probe);
    g_main_loop_run(probe.loop);
}
