#pragma once

#include <chrono>
#include <mutex>

namespace quillet {

// Where a paste chord sent while the user still holds the shortcut's
// modifiers is that shortcut again (GNOME has one modifier state for every
// keyboard), the press it causes is no press of the user's, and the chord
// pasted nothing. While a chord of ours is out and its line not fetched, each
// chord may cause one such echo: a press arriving then is taken as that echo,
// and the paste learns to send its chord again. Presses beyond the chords
// sent are the user's, unless they come faster than fingers press: the
// desktop repeating a shortcut held down (GNOME, every 30 ms after half a
// second), whose V our chord cannot even press. Any thread.
class EchoGate {
public:
    explicit EchoGate(std::chrono::milliseconds repeatGap) : repeatGap_(repeatGap) {}

    // Paste worker, before posting a chord.
    void chordOut();
    // Paste worker: the line was fetched, or the paste gave up; every press
    // from now on is the user's.
    void close();
    // Press path, before the press is queued: true when it is taken as an
    // echo or a repeat and must be dropped.
    bool takeEcho();
    // Paste worker: whether an echo came since the last ask.
    bool echoed();

private:
    const std::chrono::milliseconds repeatGap_;
    std::mutex mutex_;
    bool out_ = false;  // a chord went out, its line not fetched yet
    std::chrono::steady_clock::time_point lastPress_;
    int unechoed_ = 0;  // chords out that have not echoed
    int echoes_ = 0;    // echoes the paste has not heard of
};

}  // namespace quillet
