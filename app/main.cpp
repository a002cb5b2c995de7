#include "speech/AudioOutput.h"
#include "app/Parlivo.h"
#include "settings/Settings.h"
#include "app/Startup.h"

#include <QApplication>
#include <QProcess>
#include <QScreen>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    PrepareApplication(app);
    int code = 0;
    {
        Parlivo window;
        window.setGeometry(Parlivo::StartGeometry(app.primaryScreen()->availableGeometry(), window.width()));
        window.show();
        code = app.exec();
    }
    // After a restore the program starts anew, once this instance has let
    // go of its lists and the sound device.
    if (Settings::RestartRequested()) {
        AudioOutput::Shutdown();
        QProcess::startDetached(QCoreApplication::applicationFilePath(), {});
    }
    return code;
}
