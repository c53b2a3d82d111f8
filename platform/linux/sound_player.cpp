#include "platform/linux/sound_player.h"

#include "build_config.h"
#include "platform/linux/gobject_ptr.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <gst/gst.h>
#include <memory>
#include <mutex>
#include <utility>

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

std::uint32_t littleEndian(unsigned char const* bytes, int count)
{
    std::uint32_t value = 0;
    for (int at = count - 1; at >= 0; --at)
        value = value << 8 | bytes[at];
    return value;
}

// Walks the RIFF chunks as far as the samples: a file decodes when a "fmt " chunk of integer or
// float samples that playbin's WAV reader takes comes before the "data" chunk. Only the header is
// read, since a preview may be asked for many times a second and must not hold up the main loop.
bool isDecodableWave(std::string const& path)
{
    std::ifstream file(path, std::ios::binary);
    std::array<unsigned char, 12> riff {};
    if (!file.read(reinterpret_cast<char*>(riff.data()), riff.size())
        || std::memcmp(riff.data(), "RIFF", 4) != 0 || std::memcmp(riff.data() + 8, "WAVE", 4) != 0)
        return false;
    bool format = false;
    std::array<unsigned char, 8> chunk {};
    while (file.read(reinterpret_cast<char*>(chunk.data()), chunk.size())) {
        std::uint32_t size = littleEndian(chunk.data() + 4, 4);
        std::streamoff skip = static_cast<std::streamoff>(size) + (size & 1);
        if (std::memcmp(chunk.data(), "data", 4) == 0)
            return format;
        if (std::memcmp(chunk.data(), "fmt ", 4) == 0) {
            std::array<unsigned char, 16> fmt {};
            if (size < fmt.size() || !file.read(reinterpret_cast<char*>(fmt.data()), fmt.size()))
                return false;
            auto tag = littleEndian(fmt.data(), 2);
            auto bits = littleEndian(fmt.data() + 14, 2);
            format = (tag == 1 || tag == 3 || tag == 0xFFFE) && littleEndian(fmt.data() + 2, 2) > 0
                && littleEndian(fmt.data() + 4, 4) > 0
                && (bits == 8 || bits == 16 || bits == 24 || bits == 32);
            if (!format)
                return false;
            skip -= static_cast<std::streamoff>(fmt.size());
        }
        file.seekg(skip, std::ios::cur);
    }
    return false;
}

// What the sound server is told of the stream. The alarm role is the one that desktops let
// through Do Not Disturb (Plasma mutes the event role) and key saved volumes on; the id and icon
// let its mixer show Brindle's own name and icon beside the stream.
GstStructure* streamProperties(std::string const& mediaName)
{
    g_autofree gchar* name = g_utf8_make_valid(mediaName.c_str(), static_cast<gssize>(mediaName.size()));
    return gst_structure_new("props", "media.role", G_TYPE_STRING, "alarm", "media.name", G_TYPE_STRING, name,
        "application.name", G_TYPE_STRING, "Brindle", "application.id", G_TYPE_STRING, build::applicationId,
        "application.icon_name", G_TYPE_STRING, build::applicationId, nullptr);
}

class GstSoundPlayer final : public SoundPlayer {
public:
    GstSoundPlayer(GObjectPtr<GstElement> playbin, std::string uri, std::string const& mediaName)
        : playbin_(std::move(playbin))
        , uri_(std::move(uri))
        , streamProperties_(streamProperties(mediaName), gst_structure_free)
    {
        g_object_set(
            playbin_.get(), "uri", uri_.c_str(), "flags", playFlagAudio | playFlagSoftVolume, nullptr);
        g_signal_connect(playbin_.get(), "about-to-finish", G_CALLBACK(onAboutToFinish), this);
        g_signal_connect(playbin_.get(), "element-setup", G_CALLBACK(onElementSetup), this);
        auto bus = adopt(gst_element_get_bus(playbin_.get()));
        gst_bus_add_watch(bus.get(), onBusMessage, this);
    }

    // Every source the player added to the main loop goes with it.
    ~GstSoundPlayer() override
    {
        // Going to NULL joins the streaming threads, so no about-to-finish can reach this
        // object once it returns.
        stop();
        g_signal_handlers_disconnect_by_data(playbin_.get(), this);
        auto bus = adopt(gst_element_get_bus(playbin_.get()));
        gst_bus_remove_watch(bus.get());
        if (failureSource_)
            g_source_remove(failureSource_);
    }

    void play(bool looping) override
    {
        looping_ = looping;
        // A player that was stopped starts again from the beginning of its file.
        g_object_set(playbin_.get(), "uri", uri_.c_str(), nullptr);
        if (gst_element_set_state(playbin_.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
            gst_element_set_state(playbin_.get(), GST_STATE_NULL);
            // Told from the main loop, never from inside play().
            if (!failureSource_) {
                failureSource_ = g_idle_add(
                    [](gpointer data) -> gboolean {
                        auto* self = static_cast<GstSoundPlayer*>(data);
                        self->failureSource_ = 0;
                        self->outputFailed();
                        return G_SOURCE_REMOVE;
                    },
                    this);
            }
        }
    }

    void onOutputFailure(std::function<void()> handler) override { onOutputFailure_ = std::move(handler); }

    void stop() override
    {
        looping_ = false;
        gst_element_set_state(playbin_.get(), GST_STATE_NULL);
    }

private:
    // Called for every element playbin makes, down to the sink autoaudiosink picks (pulsesink, or
    // pipewiresink), before it opens its stream. Any sink that takes stream properties gets them.
    static void onElementSetup(GstElement*, GstElement* element, gpointer data)
    {
        auto* self = static_cast<GstSoundPlayer*>(data);
        GObjectClass* type = G_OBJECT_GET_CLASS(element);
        if (g_object_class_find_property(type, "stream-properties"))
            g_object_set(element, "stream-properties", self->streamProperties_.get(), nullptr);
        if (g_object_class_find_property(type, "client-name"))
            g_object_set(element, "client-name", "Brindle", nullptr);
    }

    // Called on a streaming thread shortly before the file runs out. Queuing the same file
    // again is playbin's gapless path: the next pass follows the last sample of this one with
    // no silence and no restart of the audio output.
    static void onAboutToFinish(GstElement* playbin, gpointer data)
    {
        auto* self = static_cast<GstSoundPlayer*>(data);
        if (self->looping_)
            g_object_set(playbin, "uri", self->uri_.c_str(), nullptr);
    }

    // Platform-specific: with no sound server to reach, autoaudiosink quietly plays into a
    // fakesink instead of failing. That is no output at all for an alarm, so it counts as a
    // failure, found once playbin has settled on its sinks.
    bool playsIntoNothing() const
    {
        auto factoryName = [](GstElement* element) {
            GstElementFactory* factory = element ? gst_element_get_factory(element) : nullptr;
            return factory ? gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory)) : "";
        };
        bool nothing = false;
        g_autoptr(GstIterator) elements = gst_bin_iterate_recurse(GST_BIN(playbin_.get()));
        g_auto(GValue) item = G_VALUE_INIT;
        while (!nothing && gst_iterator_next(elements, &item) == GST_ITERATOR_OK) {
            auto* element = GST_ELEMENT(g_value_get_object(&item));
            if (g_strcmp0(factoryName(element), "fakesink") == 0) {
                auto parent = adopt(gst_object_get_parent(GST_OBJECT(element)));
                nothing = parent && g_strcmp0(factoryName(GST_ELEMENT(parent.get())), "autoaudiosink") == 0;
            }
            g_value_reset(&item);
        }
        return nothing;
    }

    // Called once per failure; the owner may start over with a new player.
    void outputFailed()
    {
        looping_ = false;
        gst_element_set_state(playbin_.get(), GST_STATE_NULL);
        if (auto handler = std::exchange(onOutputFailure_, nullptr))
            handler();
    }

    static gboolean onBusMessage(GstBus*, GstMessage* message, gpointer data)
    {
        auto* self = static_cast<GstSoundPlayer*>(data);
        switch (GST_MESSAGE_TYPE(message)) {
        case GST_MESSAGE_ASYNC_DONE:
            if (GST_MESSAGE_SRC(message) == GST_OBJECT(self->playbin_.get()) && self->playsIntoNothing())
                self->outputFailed();
            break;
        case GST_MESSAGE_EOS:
            // A looping sound only ends when the gapless re-queue came too late; starting over
            // with a short gap is better than falling silent while an alarm rings.
            if (self->looping_
                && gst_element_seek_simple(self->playbin_.get(), GST_FORMAT_TIME, GST_SEEK_FLAG_FLUSH, 0))
                break;
            gst_element_set_state(self->playbin_.get(), GST_STATE_NULL);
            break;
        case GST_MESSAGE_ERROR:
            // Errors are not reported anywhere: the sound falls silent, the alarm goes on, and
            // whoever asked is told so that it may open the output again.
            self->outputFailed();
            break;
        default:
            break;
        }
        return G_SOURCE_CONTINUE;
    }

    GObjectPtr<GstElement> playbin_;
    std::string const uri_;
    std::unique_ptr<GstStructure, decltype(&gst_structure_free)> const streamProperties_;
    std::atomic<bool> looping_ { false };
    std::function<void()> onOutputFailure_;
    // The idle source that tells of a failure to start, while one is pending.
    guint failureSource_ = 0;
};

} // namespace

std::unique_ptr<SoundPlayer> createGstSoundPlayer(
    std::string const& path, std::string const& mediaName, AudioSinkFactory const& makeSink)
{
    if (!isDecodableWave(path) || !initGStreamer())
        return nullptr;

    g_autofree gchar* uri = gst_filename_to_uri(path.c_str(), nullptr);
    if (!uri)
        return nullptr;

    auto playbin = retain(gst_element_factory_make("playbin", nullptr));
    if (!playbin)
        return nullptr;

    // Platform-specific: pulsesink names its stream "Playback Stream" over the media name among
    // its properties, having been opened by autoaudiosink before playbin hands it over; it renames
    // the stream to the title of the tags that reach it, so the media name goes along as a title.
    if (GstElement* title = gst_element_factory_make("taginject", nullptr)) {
        g_auto(GValue) name = G_VALUE_INIT;
        g_value_init(&name, G_TYPE_STRING);
        g_value_take_string(
            &name, g_utf8_make_valid(mediaName.c_str(), static_cast<gssize>(mediaName.size())));
        g_autofree gchar* quoted = gst_value_serialize(&name);
        g_autofree gchar* tags = g_strconcat("title=", quoted, nullptr);
        g_object_set(title, "tags", tags, nullptr);
        g_object_set(playbin.get(), "audio-filter", title, nullptr);
    }
    if (makeSink) {
        if (GstElement* sink = makeSink())
            g_object_set(playbin.get(), "audio-sink", sink, nullptr);
    }
    return std::make_unique<GstSoundPlayer>(std::move(playbin), uri, mediaName);
}

} // namespace brindle::native
