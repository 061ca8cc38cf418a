#pragma once

#include <mutex>

namespace quillet {

// Where a paste chord sent while the user still holds the shortcut's
// modifiers is that shortcut again (GNOME has one modifier state for every
// keyboard), the press it causes is no press of the user's, and the chord
// pasted nothing. While a chord of ours is out and its line not fetched, each
// chord may cause one such echo: a press arriving then is taken as that echo,
// and the paste learns to send its chord again. Presses beyond the chords
// sent are the user's. Any thread.
class EchoGate {
public:
    // Paste worker, before posting a chord.
    void chordOut();
    // Paste worker: the line was fetched, or the paste gave up; every press
    // from now on is the user's.
    void close();
    // Press path, before the press is queued: true when it is taken as an echo
    // and must be dropped.
    bool takeEcho();
    // Paste worker: whether an echo came since the last ask.
    bool echoed();

private:
    std::mutex mutex_;
    int unechoed_ = 0;  // chords out that have not echoed
    int echoes_ = 0;    // echoes the paste has not heard of
};

}  // namespace quillet
