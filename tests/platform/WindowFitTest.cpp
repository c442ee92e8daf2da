#include "WindowFit.h"

#include <gtest/gtest.h>

namespace {

TEST(WindowFit, AFrameIsShrunkToTheAreaAndMovedIntoItByAsLittleAsItTakes) {
    const QRect area(0, 30, 1000, 700); // a panel at the top
    const struct {
        QRect frame, fitted;
    } cases[] = {
        {{100, 100, 400, 300}, {100, 100, 400, 300}}, // inside: stays
        {{100, 0, 400, 300}, {100, 30, 400, 300}},    // title bar under the panel
        {{-50, 10, 400, 300}, {0, 30, 400, 300}},
        {{800, 600, 400, 300}, {600, 430, 400, 300}},  // over the bottom right corner
        {{300, 200, 1700, 900}, {0, 30, 1000, 700}},   // larger than the screen
        {{-900, 500, 1700, 150}, {0, 500, 1000, 150}}, // wider only
        {{990, 729, 10, 1}, {990, 729, 10, 1}},        // the last pixel
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WindowFit::FittedFrame(c.frame, area), c.fitted) << c.frame;
        EXPECT_TRUE(area.contains(WindowFit::FittedFrame(c.frame, area)));
    }
    EXPECT_EQ(WindowFit::CentredFrame(QSize(400, 300), QPoint(500, 400)),
              QRect(300, 250, 400, 300));
}

} // namespace
