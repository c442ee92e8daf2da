#pragma once
// Pending window messages during long work, processed often enough to keep the window
// responsive and its abort button working, but not once per file: each pass may lay out and
// paint the whole window, which can cost more than the file itself. Widgets are set as the
// work goes; what they show is painted at the next pass, so the last state always appears.
#include <QElapsedTimer>

class EventPacer {
public:
    // At most this many passes a second.
    static constexpr int PassesPerSecond = 40;

    // Processes pending messages when the last pass is at least 1/PassesPerSecond ago.
    void Pace();
    // Whether Pace would process them now.
    bool Due() const;
    // Processes them now.
    void Now();

private:
    QElapsedTimer last_;
};
