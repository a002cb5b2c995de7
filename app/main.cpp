#include "Parlivo.h"
#include "Startup.h"

#include <QApplication>
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
    return code;
}
