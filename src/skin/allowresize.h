#pragma once

// Whether the skinned borders may resize their host window, process-wide, False at start. The
// caption bar (JSCAPTION) is its only writer; the borders (JSBORDER) only read it.
extern bool AllowResize;
