#pragma once

// Registers the pictures compiled into the main window library (the window icon). A static
// library's resources are only linked in when something asks for them.
void initMainWindowResources();
