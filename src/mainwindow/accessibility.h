#pragma once

class QWidget;

// What screen readers see of the window. The window keeps controls it never shows (the batch's
// result fields, the link slots, the area table): marked with markInternal they stay objects the
// window and its tools use, but leave the accessibility tree. A ClickLabel that takes the focus
// is a link there, named by its text, with a press action; the risk verdict is a label.
void installAccessibility();
void markInternal(QWidget *widget);
