#pragma once

class QApplication;

// Prepares the application before the main window is built: plug-in path,
// application name (which names the data location) and the compiled-in images.
void PrepareApplication(QApplication &app);
