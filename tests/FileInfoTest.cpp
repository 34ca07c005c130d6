#include <gtest/gtest.h>

#include "ombrix/Ombrix_FileInfo.h"

TEST(FileInfo, FrameCountsAndDataRate)
{
    Ombrix_FileInfo info;
    EXPECT_EQ(info.GetNoFrames(25, 1), 0u);
    info.HasVideo = info.HasAudio = true;
    info.VideoDuration = 10000000;
    info.AudioDuration = 30000000;
    EXPECT_EQ(info.GetNoFrames(30000, 1001), 29u);
    // Without video the audio's length counts; long ones need the full 64-bit product and divisor.
    info.HasVideo = false;
    EXPECT_EQ(info.GetNoFrames(25, 1), 75u);
    info.AudioDuration = 36000000000000ll;  // 1000 hours
    EXPECT_EQ(info.GetNoFrames(30000, 1001), 107892107u);
    info.DataRate = 3000000;
    EXPECT_TRUE(info.ComputeDataRate(0.5, 2, 4) == 3000000u && info.ComputeDataRate(1.0, 3, 1) == 1000000u);
}
