#include "platform/linux/sound_player.h"
#include "ringing/alarm_sound.h"
#include "support/main_loop.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <gst/gst.h>
#include <gtest/gtest.h>
#include <mutex>

namespace brindle::native {

using namespace std::chrono_literals;
using namespace std::string_literals;

using brindle::testing::runUntil;

// A sound card in real time that notes what reaches it and every jump in running time (a gap).
class Listener {
public:
    struct Heard {
        double seconds = 0, largestGap = 0;
        bool ended = false;
    };
    Listener()
    {
        g_object_set(sink_, "sync", TRUE, nullptr);
        gst_object_ref(sink_); // the player adopts the floating reference
        GstPad* pad = gst_element_get_static_pad(sink_, "sink");
        gst_pad_add_probe(pad,
            GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM), probe, this,
            nullptr);
        gst_object_unref(pad);
    }
    ~Listener()
    {
        gst_element_set_state(sink_, GST_STATE_NULL);
        gst_object_unref(sink_);
    }
    AudioSinkFactory factory()
    {
        return [this] { return sink_; };
    }
    Heard heard() const
    {
        std::lock_guard lock(mutex_);
        return heard_;
    }
    GstState state() const { return GST_STATE(sink_); }

private:
    static GstPadProbeReturn probe(GstPad*, GstPadProbeInfo* info, gpointer data)
    {
        auto* self = static_cast<Listener*>(data);
        std::lock_guard lock(self->mutex_);
        if (info->type & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) {
            GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
            if (GST_EVENT_TYPE(event) == GST_EVENT_SEGMENT)
                gst_event_copy_segment(event, &self->segment_);
            self->heard_.ended |= GST_EVENT_TYPE(event) == GST_EVENT_EOS;
            return GST_PAD_PROBE_OK;
        }
        GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
        if (!GST_BUFFER_PTS_IS_VALID(buffer) || !GST_BUFFER_DURATION_IS_VALID(buffer))
            return GST_PAD_PROBE_OK;
        auto start = gst_segment_to_running_time(&self->segment_, GST_FORMAT_TIME, GST_BUFFER_PTS(buffer));
        if (GST_CLOCK_TIME_IS_VALID(self->end_))
            self->heard_.largestGap = std::max(
                self->heard_.largestGap, std::abs(double(start) - double(self->end_)) / GST_SECOND);
        self->end_ = start + GST_BUFFER_DURATION(buffer);
        self->heard_.seconds += double(GST_BUFFER_DURATION(buffer)) / GST_SECOND;
        return GST_PAD_PROBE_OK;
    }

    GstElement* sink_ = gst_element_factory_make("fakesink", nullptr);
    mutable std::mutex mutex_;
    GstSegment segment_ {};
    GstClockTime end_ = GST_CLOCK_TIME_NONE;
    Heard heard_;
};

// A one-shot plays once and lets the output go; a loop runs on seamlessly until stopped at once.
TEST(GstSound, AOneShotPlaysOnceAndALoopRepeatsWithoutAGapUntilStopped)
{
    gst_init(nullptr, nullptr);
    for (auto name : knownSounds) {
        SCOPED_TRACE(std::string(name));
        std::string const file = std::string(BRINDLE_SOUNDS_DIR) + "/" + std::string(name) + ".wav";
        Listener once;
        auto player = createGstSoundPlayer(file, "Test", once.factory());
        ASSERT_TRUE(player);
        player->play(false);
        ASSERT_TRUE(runUntil([&] { return once.heard().ended && once.state() == GST_STATE_NULL; }));
        double const length = once.heard().seconds;

        Listener listener;
        player = createGstSoundPlayer(file, "Test", listener.factory());
        player->play(true);
        ASSERT_TRUE(runUntil([&] { return listener.heard().seconds > 1.6 * length; }));
        EXPECT_FALSE(listener.heard().ended);
        EXPECT_LT(listener.heard().largestGap, 0.001);
        player->stop();
        EXPECT_EQ(listener.state(), GST_STATE_NULL);
        double const atStop = listener.heard().seconds;
        runUntil([] { return false; }, 1s);
        EXPECT_EQ(listener.heard().seconds, atStop);
    }
}

// Anything but a decodable wave leaves the alarm silent rather than keeping the sound before it.
TEST(GstSound, OnlyDecodableWaveFilesGetAPlayer)
{
    gst_init(nullptr, nullptr);
    std::string const path = ::testing::TempDir() + "brindle-not-a-sound.wav";
    for (std::string bytes : { ""s, "RIFF\x24\0\0\0AVI LIST"s,
             "RIFF\xff\xff\0\0WAVEfmt \x02\0\0\0\x99\x99junkjunkjunkjunk"s + std::string(4096, '\x7f') }) {
        std::ofstream(path, std::ios::binary) << bytes;
        EXPECT_FALSE(createGstSoundPlayer(path, "Test")) << bytes;
    }
    std::remove(path.c_str());
}

} // namespace brindle::native
