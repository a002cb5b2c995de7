// libFuzzer target: any bytes as the text of an announcement, through the
// normaliser and the real synthesis, in the default Mandarin voice.
#include "speech/TtsSession.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    if (TtsSession::Login(QByteArray()) != TtsSession::Ok)
        abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    TtsSession session;
    if (session.Begin(QByteArrayLiteral("vcn = xiaoyan, spd = 5, vol = 5")) != TtsSession::Ok)
        abort();
    session.TextPut(QByteArray(reinterpret_cast<const char *>(data), int(size)));
    int length = 0, status = 0, error = 0;
    while (session.AudioGet(&length, &status, &error)) {
    }
    session.End();
    return 0;
}
