#include "ringing/sound.h"

#include "app/app_delegate.h"
#include "text/unicode.h"

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

    startPlayer(*path, looping);
}

namespace {

// Often enough that an alarm is heard again within a few seconds of the sound server coming
// back, seldom enough that trying costs nothing while it stays away.
constexpr double outputRetrySeconds = 1.5;

} // namespace

// A looping sound that loses the audio output (the sound server restarts, or none runs yet)
// opens it again with a fresh player until it plays or the ringing ends. A preview that fails
// stays silent.
void AppDelegate::startPlayer(std::string const& path, bool looping)
{
    soundRetryTimer_.reset();
    if (player_)
        player_->stop();
    // A file that cannot be decoded leaves no player: the alarm still rings, silently.
    player_ = platform_.createSoundPlayer(path);
    if (!player_)
        return;
    if (looping) {
        player_->onOutputFailure([this, path] {
            soundRetryTimer_ = platform_.scheduleTimer(
                outputRetrySeconds, false, [this, path] { startPlayer(path, true); });
        });
    }
    player_->play(looping);
}

} // namespace brindle
