#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace brindle {

// One sound file loaded for playback. The player is single-use: play() starts it, stop() ends it
// at once; a looping player starts again at the end of the file until stopped.
class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;
    virtual void play(bool looping) = 0;
    virtual void stop() = 0;
    // Called from the main loop, at most once, when the sound cannot reach the audio output: none
    // could be opened, or the one playing went away (the sound server stopped or restarted). The
    // player is silent from then on; the handler must not destroy it from inside the call.
    virtual void onOutputFailure(std::function<void()> handler) = 0;
};

// The sound server, and the sounds shipped with Brindle.
class Sound {
public:
    virtual ~Sound() = default;
    // The path of the shipped resource name.extension, or none.
    virtual std::optional<std::string> resourcePath(std::string const& name, std::string const& extension)
        = 0;
    // A player for the whole file, or none when it cannot be read or decoded. The media name says
    // what plays, in the words the sound server shows the user beside Brindle's name.
    virtual std::unique_ptr<SoundPlayer> createPlayer(std::string const& path, std::string const& mediaName)
        = 0;
};

} // namespace brindle
