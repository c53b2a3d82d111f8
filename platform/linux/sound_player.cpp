#include "platform/linux/sound_player.h"

#include <array>
#include <atomic>
#include <cstring>
#include <fstream>
#include <gst/gst.h>
#include <mutex>

namespace brindle::native {

namespace {

// playbin's GstPlayFlags live in a private header. Audio alone keeps playbin from looking for
// video and subtitle outputs that a WAV file never needs; soft volume is its default.
constexpr guint playFlagAudio = 0x2;
constexpr guint playFlagSoftVolume = 0x10;

bool initGStreamer()
{
    static bool ready = false;
    static std::once_flag once;
    std::call_once(once, [] { ready = gst_init_check(nullptr, nullptr, nullptr); });
    return ready;
}

bool isWaveFile(std::string const& path)
{
    std::ifstream file(path, std::ios::binary);
    std::array<char, 12> header {};
    if (!file.read(header.data(), header.size()))
        return false;
    return std::memcmp(header.data(), "RIFF", 4) == 0 && std::memcmp(header.data() + 8, "WAVE", 4) == 0;
}

// Prerolls the file once into a sink that discards it, without touching the audio output, to
// learn whether it decodes. Only a refusal counts: a check that takes too long lets the file
// through, and an error during playback still only silences it.
bool decodes(char const* uri)
{
    GstElement* probe = gst_element_factory_make("playbin", nullptr);
    if (!probe)
        return false;
    gst_object_ref_sink(probe);
    g_object_set(probe, "uri", uri, "flags", playFlagAudio, "audio-sink",
        gst_element_factory_make("fakesink", nullptr), nullptr);
    bool decoded = false;
    if (gst_element_set_state(probe, GST_STATE_PAUSED) != GST_STATE_CHANGE_FAILURE) {
        GstBus* bus = gst_element_get_bus(probe);
        GstMessage* outcome = gst_bus_timed_pop_filtered(
            bus, 5 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_ASYNC_DONE | GST_MESSAGE_ERROR));
        decoded = !outcome || GST_MESSAGE_TYPE(outcome) == GST_MESSAGE_ASYNC_DONE;
        if (outcome)
            gst_message_unref(outcome);
        gst_object_unref(bus);
    }
    gst_element_set_state(probe, GST_STATE_NULL);
    gst_object_unref(probe);
    return decoded;
}

class GstSoundPlayer final : public SoundPlayer {
public:
    GstSoundPlayer(GstElement* playbin, std::string uri)
        : playbin_(playbin)
        , uri_(std::move(uri))
    {
        g_object_set(playbin_, "uri", uri_.c_str(), "flags", playFlagAudio | playFlagSoftVolume, nullptr);
        g_signal_connect(playbin_, "about-to-finish", G_CALLBACK(aboutToFinish), this);
        GstBus* bus = gst_element_get_bus(playbin_);
        gst_bus_add_watch(bus, busMessage, this);
        gst_object_unref(bus);
    }

    ~GstSoundPlayer() override
    {
        // Going to NULL joins the streaming threads, so no about-to-finish can reach this
        // object once it returns.
        stop();
        g_signal_handlers_disconnect_by_data(playbin_, this);
        GstBus* bus = gst_element_get_bus(playbin_);
        gst_bus_remove_watch(bus);
        gst_object_unref(bus);
        gst_object_unref(playbin_);
    }

    void play(bool looping) override
    {
        looping_ = looping;
        // A player that was stopped starts again from the beginning of its file.
        g_object_set(playbin_, "uri", uri_.c_str(), nullptr);
        if (gst_element_set_state(playbin_, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
            gst_element_set_state(playbin_, GST_STATE_NULL);
    }

    void stop() override
    {
        looping_ = false;
        gst_element_set_state(playbin_, GST_STATE_NULL);
    }

private:
    // Called on a streaming thread shortly before the file runs out. Queuing the same file
    // again is playbin's gapless path: the next pass follows the last sample of this one with
    // no silence and no restart of the audio output.
    static void aboutToFinish(GstElement* playbin, gpointer data)
    {
        auto* self = static_cast<GstSoundPlayer*>(data);
        if (self->looping_)
            g_object_set(playbin, "uri", self->uri_.c_str(), nullptr);
    }

    static gboolean busMessage(GstBus*, GstMessage* message, gpointer data)
    {
        auto* self = static_cast<GstSoundPlayer*>(data);
        switch (GST_MESSAGE_TYPE(message)) {
        case GST_MESSAGE_EOS:
            // A looping sound only ends when the gapless re-queue came too late; starting over
            // with a short gap is better than falling silent while an alarm rings.
            if (self->looping_
                && gst_element_seek_simple(self->playbin_, GST_FORMAT_TIME, GST_SEEK_FLAG_FLUSH, 0))
                break;
            gst_element_set_state(self->playbin_, GST_STATE_NULL);
            break;
        case GST_MESSAGE_ERROR:
            // Errors are not reported anywhere; the sound falls silent and the alarm goes on.
            self->looping_ = false;
            gst_element_set_state(self->playbin_, GST_STATE_NULL);
            break;
        default:
            break;
        }
        return G_SOURCE_CONTINUE;
    }

    GstElement* playbin_;
    std::string const uri_;
    std::atomic<bool> looping_ { false };
};

} // namespace

std::unique_ptr<SoundPlayer> createGstSoundPlayer(std::string const& path, AudioSinkFactory const& makeSink)
{
    if (!isWaveFile(path) || !initGStreamer())
        return nullptr;

    g_autofree gchar* uri = gst_filename_to_uri(path.c_str(), nullptr);
    if (!uri || !decodes(uri))
        return nullptr;

    GstElement* playbin = gst_element_factory_make("playbin", nullptr);
    if (!playbin)
        return nullptr;
    gst_object_ref_sink(playbin);

    if (makeSink) {
        if (GstElement* sink = makeSink())
            g_object_set(playbin, "audio-sink", sink, nullptr);
    }
    return std::make_unique<GstSoundPlayer>(playbin, uri);
}

} // namespace brindle::native
