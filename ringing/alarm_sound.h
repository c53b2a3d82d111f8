#pragma once

#include "platform/clock.h"
#include "platform/sound.h"

#include <array>
#include <memory>
#include <string>
#include <string_view>

namespace brindle {

// The sounds Brindle ships, each a WAV resource of the same name.
inline constexpr std::array<std::string_view, 3> knownSounds { "bell", "chime", "digital" };

// Played for every name Brindle does not ship, so that an alarm from a newer page still rings.
inline constexpr std::string_view defaultSound = "bell";

// The resource name to play for a requested sound name: the name itself when Brindle ships it,
// the default sound otherwise. Names match exactly and with case, so "Bell" plays the default.
std::string_view soundResourceName(std::string_view requested);

// The one player that alarms and previews share, so a new sound always replaces the old one. A
// looping sound that loses the audio output (the sound server restarts, or none runs yet) opens
// it again with a fresh player until it plays or is stopped; a preview that fails stays silent.
class AlarmSound {
public:
    AlarmSound(Clock& clock, Sound& sound);

    // The media name tells the sound server, and the user looking at its streams, what plays.
    void play(std::string const& name, bool looping, std::string const& mediaName);
    void stop();
    bool hasPlayer() const { return player_ != nullptr; }

private:
    void start(std::string const& path, bool looping, std::string const& mediaName);

    Clock& clock_;
    Sound& sound_;
    std::unique_ptr<SoundPlayer> player_;
    std::unique_ptr<Timer> retryTimer_;
};

} // namespace brindle
