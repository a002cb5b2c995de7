#pragma once

class QCoreApplication;

// Parlivo without a window (parlivo --headless): the same shop, driven
// from phones, the till and other systems through the remote interface.
// Returns the process's exit code.
int RunHeadless(QCoreApplication &app);
