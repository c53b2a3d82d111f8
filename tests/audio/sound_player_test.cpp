#include "platform/linux/sound_player.h"
#include "ringing/sound.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <gst/gst.h>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace brindle::native {

namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;

std::string soundPath(std::string_view name)
{
    return std::string(BRINDLE_SOUNDS_DIR) + "/" + std::string(name) + ".wav";
}

// Runs the main context, which carries the players' bus watches, until the condition holds or a
// generous deadline passes. The deadline only keeps a broken build from hanging the suite.
template <typename Condition> bool runUntil(Condition condition, std::chrono::seconds deadline = 30s)
{
    auto giveUp = std::chrono::steady_clock::now() + deadline;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > giveUp)
            return false;
        while (g_main_context_iteration(nullptr, FALSE)) { }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// Stands in for the sound card: a clocked fakesink that plays in real time and notes what
// reaches it, including every jump in running time, which is what a listener hears as a gap.
class Listener {
public:
    Listener()
    {
        sink_ = gst_element_factory_make("fakesink", nullptr);
        g_object_set(sink_, "sync", TRUE, nullptr);
        // The player adopts the floating reference; this one keeps the sink for inspection.
        gst_object_ref(sink_);
        GstPad* pad = gst_element_get_static_pad(sink_, "sink");
        gst_pad_add_probe(pad,
            static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
            probe, this, nullptr);
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

    double heardSeconds() const { return locked(heard_) / GST_SECOND; }
    double largestGapSeconds() const { return locked(largestGap_) / GST_SECOND; }
    bool ended() const { return locked(ended_); }
    GstState state() const
    {
        GstState state = GST_STATE_VOID_PENDING;
        gst_element_get_state(sink_, &state, nullptr, 0);
        return state;
    }

private:
    template <typename T> double locked(T const& value) const
    {
        std::lock_guard lock(mutex_);
        return static_cast<double>(value);
    }

    static GstPadProbeReturn probe(GstPad*, GstPadProbeInfo* info, gpointer data)
    {
        auto* self = static_cast<Listener*>(data);
        std::lock_guard lock(self->mutex_);
        if (GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
            event && (info->type & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM)) {
            if (GST_EVENT_TYPE(event) == GST_EVENT_SEGMENT)
                gst_event_copy_segment(event, &self->segment_);
            else if (GST_EVENT_TYPE(event) == GST_EVENT_EOS)
                self->ended_ = true;
            return GST_PAD_PROBE_OK;
        }
        GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
        if (!buffer || !GST_BUFFER_PTS_IS_VALID(buffer) || !GST_BUFFER_DURATION_IS_VALID(buffer))
            return GST_PAD_PROBE_OK;
        guint64 start = gst_segment_to_running_time(&self->segment_, GST_FORMAT_TIME, GST_BUFFER_PTS(buffer));
        if (GST_CLOCK_TIME_IS_VALID(start)) {
            if (GST_CLOCK_TIME_IS_VALID(self->lastEnd_)) {
                auto gap = static_cast<std::int64_t>(start) - static_cast<std::int64_t>(self->lastEnd_);
                self->largestGap_ = std::max<std::int64_t>(self->largestGap_, std::abs(gap));
            }
            self->lastEnd_ = start + GST_BUFFER_DURATION(buffer);
        }
        self->heard_ += GST_BUFFER_DURATION(buffer);
        return GST_PAD_PROBE_OK;
    }

    GstElement* sink_ = nullptr;
    mutable std::mutex mutex_;
    GstSegment segment_ {};
    guint64 lastEnd_ = GST_CLOCK_TIME_NONE;
    guint64 heard_ = 0;
    std::int64_t largestGap_ = 0;
    bool ended_ = false;
};

struct WaveInfo {
    std::uint16_t format = 0, channels = 0;
    std::uint32_t rate = 0;
    std::uint16_t bitsPerSample = 0;
    std::vector<std::int16_t> samples;
    double seconds() const { return rate ? static_cast<double>(samples.size()) / rate : 0; }
};

// Just enough of a RIFF reader for Brindle's own 16-bit PCM files.
WaveInfo readWave(std::string const& path)
{
    std::ifstream file(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(file)), {});
    WaveInfo info;
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) || std::memcmp(bytes.data() + 8, "WAVE", 4))
        return info;
    for (std::size_t at = 12; at + 8 <= bytes.size();) {
        std::uint32_t size = 0;
        std::memcpy(&size, bytes.data() + at + 4, 4);
        if (at + 8 + size > bytes.size())
            break;
        if (!std::memcmp(bytes.data() + at, "fmt ", 4) && size >= 16) {
            std::memcpy(&info.format, bytes.data() + at + 8, 2);
            std::memcpy(&info.channels, bytes.data() + at + 10, 2);
            std::memcpy(&info.rate, bytes.data() + at + 12, 4);
            std::memcpy(&info.bitsPerSample, bytes.data() + at + 22, 2);
        } else if (!std::memcmp(bytes.data() + at, "data", 4)) {
            info.samples.resize(size / 2);
            std::memcpy(info.samples.data(), bytes.data() + at + 8, info.samples.size() * 2);
        }
        at += 8 + size + (size & 1);
    }
    return info;
}

// Writes the bytes to a fresh file that is removed again at the end of the test.
struct TemporaryFile {
    explicit TemporaryFile(std::string const& contents)
    {
        g_file_set_contents(path.c_str(), contents.data(), static_cast<gssize>(contents.size()), nullptr);
    }
    ~TemporaryFile() { unlink(path.c_str()); }
    std::string path = std::string(g_get_tmp_dir()) + "/brindle-sound-" + std::to_string(getpid());
};

class GstSound : public ::testing::Test {
protected:
    static void SetUpTestSuite() { gst_init(nullptr, nullptr); }
};

// An alarm rings until it is answered, so its sound must run on past the end of the file,
// seamlessly, and fall silent at once when stopped.
TEST_F(GstSound, ALoopingSoundRepeatsWithoutAGapUntilStopped)
{
    for (auto name : knownSounds) {
        SCOPED_TRACE(std::string(name));
        double length = readWave(soundPath(name)).seconds();
        ASSERT_GT(length, 0);

        Listener listener;
        auto player = createGstSoundPlayer(soundPath(name), listener.factory());
        ASSERT_TRUE(player);
        player->play(true);

        ASSERT_TRUE(runUntil([&] { return listener.heardSeconds() > 1.6 * length; }));
        EXPECT_FALSE(listener.ended());
        EXPECT_LT(listener.largestGapSeconds(), 0.001);

        player->stop();
        EXPECT_EQ(listener.state(), GST_STATE_NULL);
        double heardAtStop = listener.heardSeconds();
        runUntil([] { return false; }, 1s);
        EXPECT_EQ(listener.heardSeconds(), heardAtStop);
    }

    // Destroying a playing player silences it too.
    Listener listener;
    auto player = createGstSoundPlayer(soundPath("bell"), listener.factory());
    ASSERT_TRUE(player);
    player->play(true);
    ASSERT_TRUE(runUntil([&] { return listener.heardSeconds() > 0.2; }));
    player.reset();
    EXPECT_EQ(listener.state(), GST_STATE_NULL);
}

TEST_F(GstSound, AOneShotSoundPlaysOnceAndLetsGoOfTheOutput)
{
    double length = readWave(soundPath("digital")).seconds();
    Listener listener;
    auto player = createGstSoundPlayer(soundPath("digital"), listener.factory());
    ASSERT_TRUE(player);
    player->play(false);

    ASSERT_TRUE(runUntil([&] { return listener.ended(); }));
    EXPECT_NEAR(listener.heardSeconds(), length, 0.01);
    // Once the end has been heard the player shuts its pipeline down by itself.
    EXPECT_TRUE(runUntil([&] { return listener.state() == GST_STATE_NULL; }));
    EXPECT_NEAR(listener.heardSeconds(), length, 0.01);
}

// Every name resolves to a shipped file; what is not a wave file, or claims to be one but does not
// decode, gets no player.
TEST_F(GstSound, PlaysOnlyWaveFilesAndFallsBackToTheBell)
{
    for (std::string_view name : { "bell", "chime", "digital", "Bell", "", "gong" })
        EXPECT_TRUE(createGstSoundPlayer(soundPath(soundResourceName(name)))) << name;
    EXPECT_EQ(soundResourceName("gong"), "bell");

    EXPECT_FALSE(createGstSoundPlayer(soundPath("no-such-sound")));
    EXPECT_FALSE(createGstSoundPlayer(BRINDLE_SOUNDS_DIR));
    for (std::string bytes : { ""s, "RIFF"s, "OggS\0\2\0\0\0\0\0\0\0\0\0\0"s, "RIFF\x24\0\0\0AVI LIST"s,
             "RIFF\xff\xff\0\0WAVEfmt \x02\0\0\0\x99\x99junkjunkjunkjunk"s + std::string(4096, '\x7f') })
        EXPECT_FALSE(createGstSoundPlayer(TemporaryFile(bytes).path)) << bytes;
}

// The sounds loop: each must start and end at silence so the seam does not click, and stay
// small enough to load afresh at every ring.
TEST(ShippedSounds, AreShortMonoPcmThatStartsAndEndsSilent)
{
    for (auto name : knownSounds) {
        SCOPED_TRACE(std::string(name));
        WaveInfo wave = readWave(soundPath(name));
        EXPECT_EQ(wave.format, 1);
        EXPECT_EQ(wave.channels, 1);
        EXPECT_EQ(wave.bitsPerSample, 16);
        EXPECT_TRUE(wave.rate == 22050 || wave.rate == 44100) << wave.rate;
        EXPECT_GE(wave.seconds(), 1.0);
        EXPECT_LE(wave.seconds(), 3.0);
        ASSERT_GT(wave.samples.size(), 2u);
        EXPECT_LT(std::abs(wave.samples.front()), 328); // under 1% of full scale
        EXPECT_LT(std::abs(wave.samples.back()), 328);
        auto loudest = *std::max_element(wave.samples.begin(), wave.samples.end(),
            [](auto a, auto b) { return std::abs(a) < std::abs(b); });
        EXPECT_GT(std::abs(loudest), 8000) << "too quiet to wake anyone";
    }
}

} // namespace

} // namespace brindle::native
