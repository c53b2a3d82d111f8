#include "ringing/alarm_sound.h"

#include "text/unicode.h"

#include <algorithm>

namespace brindle {

namespace {

// Often enough that an alarm is heard again within a few seconds of the sound server coming
// back, seldom enough that trying costs nothing while it stays away.
constexpr double outputRetrySeconds = 1.5;

} // namespace

std::string_view soundResourceName(std::string_view requested)
{
    auto known = std::find_if(knownSounds.begin(), knownSounds.end(),
        [&](std::string_view name) { return sameText(name, requested); });
    return known != knownSounds.end() ? *known : defaultSound;
}

AlarmSound::AlarmSound(Clock& clock, Sound& sound)
    : clock_(clock)
    , sound_(sound)
{
}

// The file is loaded afresh each time; three small WAV files are not worth a cache.
void AlarmSound::play(std::string const& name, bool looping, std::string const& mediaName)
{
    // Without the resource there is nothing to switch to, so whatever plays goes on playing.
    auto path = sound_.resourcePath(std::string(soundResourceName(name)), "wav");
    if (!path)
        return;
    start(*path, looping, mediaName);
}

void AlarmSound::start(std::string const& path, bool looping, std::string const& mediaName)
{
    retryTimer_.reset();
    if (player_)
        player_->stop();
    // A file that cannot be decoded leaves no player: the alarm still rings, silently.
    player_ = sound_.createPlayer(path, mediaName);
    if (!player_)
        return;
    if (looping) {
        // The new player is a new stream to the sound server, named as the lost one was.
        player_->onOutputFailure([this, path, mediaName] {
            retryTimer_ = clock_.startTimer(
                outputRetrySeconds, false, [this, path, mediaName] { start(path, true, mediaName); });
        });
    }
    player_->play(looping);
}

void AlarmSound::stop()
{
    if (player_)
        player_->stop();
    player_.reset();
    retryTimer_.reset();
}

} // namespace brindle
