// The scene tick behind UpdateScene.
#pragma once

// Counts the tick and re-draws the pattern on every 1501st, steps every
// particle in list order and hands it the current pattern, then advances the
// camera clocks, angles and field-of-view wobble. Allocates nothing.
void TickScene();

// Draws a new pattern scale and offsets into the scene state: the draw times
// 150 / 32767 (or 10 / 32767) rounded to single, then 50 added (or 5 taken).
void DrawPatternValues();
