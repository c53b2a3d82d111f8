#pragma once

#include "platform/sound.h"

#include <functional>
#include <memory>
#include <string>

typedef struct _GstElement GstElement;

namespace brindle::native {

// Makes the element that receives the sound in place of the desktop's audio output, as a
// floating reference that the player takes over. Tests use it to listen without a sound card.
using AudioSinkFactory = std::function<GstElement*()>;

// A player on GStreamer's playbin for one WAV file, or none when the file cannot be read, is
// not a RIFF/WAVE file or does not decode. Playback errors after that are swallowed.
// The player's bus is watched on the main context, which must be running for a one-shot sound
// to release the audio device when it ends. The sound server's stream is Brindle's, in the alarm
// role, and named by mediaName.
std::unique_ptr<SoundPlayer> createGstSoundPlayer(
    std::string const& path, std::string const& mediaName, AudioSinkFactory const& makeSink = {});

} // namespace brindle::native
