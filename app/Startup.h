#pragma once

#include <QString>

class QCoreApplication;

// Prepares the application (with a window or without one) before the shop
// is built: plug-in path, application name (which names the data
// location), the compiled-in files, Qt's Chinese texts, and an orderly
// end on SIGTERM, SIGINT and SIGHUP.
void PrepareApplication(QCoreApplication &app);
// A backup or restore a crash cut short is finished or rolled back before
// any list is read; what was done, for staff ("" when nothing was).
QString FinishInterruptedBackup();
