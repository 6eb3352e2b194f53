#include "settings/stream_title.h"

#include <gtest/gtest.h>

namespace skarnel {
namespace {

// The title tells windows apart in a mixer: by number and by what they play,
// with the right channel only where it plays something of its own.
TEST(StreamTitle, NamesTheWindowAndWhatEachOwnChannelPlays) {
    GeneratorSettings s;
    EXPECT_EQ(StreamTitle(s, 1), "Generator 1 - Pink 6:1");

    s.channels[kLeft].noiseFunction = kWhiteNoise;
    s.channels[kLeft].crestFactor = 0;
    s.channels[kRight].crestFactor = 3;
    EXPECT_EQ(StreamTitle(s, 2), "Generator 2 - White 1.42:1");  // mono

    s.channelMode = kStereo;
    EXPECT_EQ(StreamTitle(s, 2), "Generator 2 - White 1.42:1 | Pink 4:1");
    s.channels[kRight].on = false;
    EXPECT_EQ(StreamTitle(s, 12), "Generator 12 - White 1.42:1 | Off");
    s.asLeft = true;  // the right channel copies the left
    EXPECT_EQ(StreamTitle(s, 12), "Generator 12 - White 1.42:1");

    s.channels[kLeft].crestFactor = 99;  // an item the list lacks names nothing
    EXPECT_EQ(StreamTitle(s, 3), "Generator 3 - White");
}

}  // namespace
}  // namespace skarnel
