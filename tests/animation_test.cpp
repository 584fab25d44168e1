// The scene's motion rules, without any drawing.
#include <gtest/gtest.h>

#include <string.h>

#include "animation.h"
#include "texts.h"

namespace {

struct Animation : ::testing::Test {
    void SetUp() override {
        ResetAnimation();
        StartAnimationClock(1000);
    }
};

TEST_F(Animation, ClockMeasuresFromStartAndAcrossTheCounterWrap) {
    EXPECT_EQ(AdvanceClock(1016), 16.0f);  // the first frame counts from the start
    EXPECT_EQ(AdvanceClock(301016), 300000.0f);  // after a modal loop: one large step
    StartAnimationClock(0xFFFFFFF6u);
    EXPECT_EQ(AdvanceClock(5), 15.0f);
    EXPECT_EQ(ElapsedMs, 15.0);
}

TEST_F(Animation, BackgroundMovesOnlyDuringAJobAndKeepsItsPlaceAfter) {
    StepBackground(1000, 0);
    EXPECT_EQ(BackgroundDepth, 0.0f);
    StepBackground(1000, 1);
    EXPECT_FLOAT_EQ(BackgroundDepth, 0.1f);
    EXPECT_FLOAT_EQ(BackgroundLift, 0.05f);

    // Job ended on the way back: the next job resumes backwards from there.
    BackgroundDepth = 1.5f;
    BackgroundLift = 0.75f;
    BackgroundDirection = 0;
    StepBackground(5000, 0);
    EXPECT_EQ(BackgroundDepth, 1.5f);
    StepBackground(1000, 1);
    EXPECT_FLOAT_EQ(BackgroundDepth, 1.4f);
    EXPECT_FLOAT_EQ(BackgroundLift, 0.7f);
    EXPECT_EQ(BackgroundDirection, 0);
}

TEST_F(Animation, BackgroundTurnsAtBothEnds) {
    // A long gap carries it past 2.9 in one step.
    BackgroundDepth = 2.85f;
    StepBackground(3000, 1);
    EXPECT_FLOAT_EQ(BackgroundDepth, 3.15f);
    EXPECT_EQ(BackgroundDirection, 1);
    // The frame that finds it past the top turns and already moves back.
    StepBackground(100, 1);
    EXPECT_EQ(BackgroundDirection, 0);
    EXPECT_FLOAT_EQ(BackgroundDepth, 3.14f);

    // Down past 0, then a frame that only turns, then forward again.
    BackgroundDepth = 0.005f;
    BackgroundLift = 0.0025f;
    StepBackground(100, 1);
    EXPECT_FLOAT_EQ(BackgroundDepth, -0.005f);
    EXPECT_EQ(BackgroundDirection, 0);
    StepBackground(100, 1);
    EXPECT_FLOAT_EQ(BackgroundDepth, -0.005f);
    EXPECT_FLOAT_EQ(BackgroundLift, -0.0025f);
    EXPECT_EQ(BackgroundDirection, 1);
    StepBackground(100, 1);
    EXPECT_FLOAT_EQ(BackgroundDepth, 0.005f);
}

TEST_F(Animation, ArrowAngleComesDownBy360Once) {
    StepArrow(1000);
    EXPECT_FLOAT_EQ(ArrowAngle, 100.0f);
    ArrowAngle = 350;
    StepArrow(200);
    EXPECT_FLOAT_EQ(ArrowAngle, 10.0f);
    ArrowAngle = 350;
    StepArrow(5000);  // one large step: reduced once, not below 360
    EXPECT_FLOAT_EQ(ArrowAngle, 490.0f);
}

TEST_F(Animation, ScrollRestartsAtZeroAndBounceLosesOnly360) {
    StepScroller(700);
    EXPECT_FLOAT_EQ(ScrollOffset, 0.7f);
    EXPECT_FLOAT_EQ(WavePhase, 1.0f);

    ScrollOffset = 88.9f;
    StepScroller(2500);
    EXPECT_EQ(ScrollOffset, 0.0f);

    WavePhase = 359.9f;
    StepScroller(140);
    EXPECT_NEAR(WavePhase, 0.1f, 1e-4);
    EXPECT_GT(WavePhase, 0.0f);
}

TEST(CreditLine, IsWindows1252) {
    EXPECT_EQ(strlen(CreditText), (size_t)CREDIT_LENGTH);
    EXPECT_EQ(strncmp(CreditText + 52, "programme d\xE9" "di\xE9 \xE0 la", 20), 0);
    EXPECT_NE(strstr(CreditText, "j'espere qu'il servira...."), nullptr);
}

}  // namespace
