#pragma once

// Whether the skinned borders may resize their host window, process-wide, False at start. The
// caption bar (SkinCaptionBar) is its only writer; the borders (SkinBorder) only read it.
extern bool AllowResize;
