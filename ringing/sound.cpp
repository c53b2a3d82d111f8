#include "ringing/sound.h"

#include "app/app_delegate.h"
#include "platform/unicode.h"

#include <algorithm>

namespace brindle {

std::string_view soundResourceName(std::string_view requested)
{
    auto known = std::find_if(knownSounds.begin(), knownSounds.end(),
        [&](std::string_view name) { return sameText(name, requested); });
    return known != knownSounds.end() ? *known : defaultSound;
}

// Alarms and previews share the one player, so a new sound always replaces the old one. The
// file is loaded afresh each time; three small WAV files are not worth a cache.
void AppDelegate::play(std::string const& sound, bool looping)
{
    // Without the resource there is nothing to switch to, so whatever plays goes on playing.
    auto path = platform_.resourcePath(std::string(soundResourceName(sound)), "wav");
    if (!path)
        return;

    if (player_)
        player_->stop();
    // A file that cannot be decoded leaves no player: the alarm still rings, silently.
    player_ = platform_.createSoundPlayer(*path);
    if (player_)
        player_->play(looping);
}

} // namespace brindle
