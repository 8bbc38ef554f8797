#pragma once

class QWidget;

// The closing animation of a window: it shrinks in 100-twip steps to a height
// of 500 twips or less, drops to a height of 30 twips, then narrows in 100-twip
// steps to a width of 2000 twips or less, staying centred on the screen. Each
// step lets the event loop run for a few milliseconds, so the shrink is seen
// and timers keep firing. It never waits for the window manager to accept a
// size: a phase whose size is held up simply runs out of steps.
void CollapseForm(QWidget &w);

// How long each step of CollapseForm lets the event loop run, in
// milliseconds; about eighty steps make the whole collapse last a second.
inline int CollapseStepMs = 12;
