#pragma once

#include <QString>

// Export of ten cached word-mode rows (texts and waits) to MP3.
namespace ExportFigures {
struct Export
{
    double ms = -1;   // from ExportToFile() to the result shown
    double ratio = -1; // ms / the exported audio's length
};
Export TenRows(const QString &workDir, bool withMusic);
}
