// libFuzzer target: any bytes as a request to the remote interface, with
// or without the token, through its screen, routing and JSON (the lists,
// the volume, the texts), on a real shop in a folder of its own. Every
// answer must be a known status with a JSON object or a page's file.
#include "app/RemoteControl.h"
#include "core/Log.h"
#include "shop/Shop.h"
#include "shop/ShopSettings.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>
#include <memory>

namespace {

QCoreApplication *g_app = nullptr;
Shop *g_shop = nullptr;
RemoteControl *g_remote = nullptr;
QByteArray g_token;
quint32 g_peer = 0x0a000001; // a fresh address per input: the rate limits stay out of the way

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("SDL_AUDIODRIVER", "dummy");
    static QTemporaryDir root;
    for (const char *name : {"XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_CONFIG_HOME"})
        qputenv(name, root.path().toLocal8Bit());
    g_app = new QCoreApplication(*argc, *argv);
    QCoreApplication::setApplicationName(QStringLiteral("Parlivo"));
    LogFile::SetPath((root.path() + "/parlivo.log").toLocal8Bit());
    ShopSettings::UseFilePath(root.path() + "/settings.xml");
    QDir::setCurrent(root.path());
    g_shop = new Shop;
    g_remote = new RemoteControl(g_shop);
    g_token = RemoteControl::Token();
    if (!g_remote->Start(0, false, g_token))
        abort();
    return 0;
}

// The first byte picks the method and whether the token is sent; the bytes
// up to the first newline are the path, the rest the body.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    static const char *const kMethods[] = {"GET", "POST", "PUT", "HEAD", "DELETE", "get", "PATCH", "OPTIONS"};
    const QByteArray input(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    const qsizetype newline = input.indexOf('\n');
    HttpRequest request;
    request.method = kMethods[data[0] & 7];
    request.path = newline < 0 ? input : input.left(newline);
    request.body = newline < 0 ? QByteArray() : input.mid(newline + 1);
    request.peer = QHostAddress(g_peer++);
    request.headers.insert("host", (data[0] & 0x40) ? "shop.example" : "127.0.0.1");
    if (data[0] & 0x80)
        request.headers.insert("authorization", "Bearer " + g_token);
    const HttpReply reply = g_remote->Respond(request);
    if (reply.status < 200 || reply.status > 599)
        abort();
    if (reply.contentType == "application/json" && !reply.body.isEmpty() && !QJsonDocument::fromJson(reply.body).isObject())
        abort();
    QCoreApplication::processEvents(); // saves, reports and the interface's timers run as they would
    return 0;
}
