#include <gtest/gtest.h>

#include "ombrix/Ombrix_FileInfo.h"

TEST(FileInfo, FrameCountsFollowTheServedStream)
{
    Ombrix_FileInfo info;
    EXPECT_EQ(info.GetNoFrames(25, 1), 0u);
    EXPECT_EQ(info.ComputeDataRate(1.0, 1, 1), 0u);

    info.HasVideo = true;
    info.VideoDuration = 10000000;
    info.AudioDuration = 30000000;
    EXPECT_EQ(info.GetNoFrames(30000, 1001), 29u);
    EXPECT_EQ(info.GetNoFrames(25, 1), 25u);

    info.HasVideo = false;
    info.HasAudio = true;
    EXPECT_EQ(info.GetNoFrames(25, 1), 75u);

    // Long durations need the full 64-bit product and divisor.
    info.AudioDuration = 36000000000000ll;  // 1000 hours
    EXPECT_EQ(info.GetNoFrames(30000, 1001), 107892107u);
}

TEST(FileInfo, DataRateScalesAndCopiesAreWhole)
{
    Ombrix_FileInfo info;
    info.DataRate = 3000000;
    EXPECT_EQ(info.ComputeDataRate(1.0, 1, 1), 3000000u);
    EXPECT_EQ(info.ComputeDataRate(0.5, 2, 4), 3000000u);
    EXPECT_EQ(info.ComputeDataRate(1.0, 3, 1), 1000000u);

    info.HasVideo = info.BottomUp = info.Interlaced = info.HasAudio = true;
    info.Width = 1920;
    info.Height = -1080;
    info.NumFrames = 0xFFFFFFF0u;
    info.VideoDuration = 0x123456789ABCDEFll;
    info.ColorSpace = 4;
    info.AudioDuration = -0x7EDCBA9876543210ll;
    info.FileSize = 0x7FFFFFFFFFFFFFFFll;
    info.NumSamples = 123456789;
    info.IsValid = 1;
    Ombrix_FileInfo copy;
    copy = info;
    EXPECT_TRUE(copy.HasVideo && copy.BottomUp && copy.Interlaced && copy.HasAudio);
    EXPECT_EQ(copy.Height, -1080);
    EXPECT_EQ(copy.NumFrames, 0xFFFFFFF0u);
    EXPECT_EQ(copy.VideoDuration, 0x123456789ABCDEFll);
    EXPECT_EQ(copy.AudioDuration, -0x7EDCBA9876543210ll);
    EXPECT_EQ(copy.FileSize, 0x7FFFFFFFFFFFFFFFll);
    EXPECT_EQ(copy.ColorSpace, 4);
    EXPECT_EQ(copy.NumSamples, 123456789u);
    EXPECT_EQ(copy.DataRate, 3000000u);
    EXPECT_EQ(copy.IsValid, 1);
}
