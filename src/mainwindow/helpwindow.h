#pragma once

#include <QWidget>

// The help window: how to switch off the browser's warning about changing between secure and
// insecure modes. Three red instruction lines and three pictures; no behaviour of its own. A
// top-level window without an owner, discarded when closed.
class HelpWindow : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kClientWidth = 8790 / 15;   // 586
    static constexpr int kClientHeight = 10350 / 15; // 690

    explicit HelpWindow(QWidget *parent = nullptr);
};
