#pragma once

#include "speech/TtsSession.h"

// The voices of the cloud speech program, one per voice number: its own
// eSpeak NG variant (male variants for the male voices), pitch and pace.
namespace CloudVoices {
// The voice for a number, at speed -1..1 and volume 0..10; *found tells
// whether the number is known.
TtsVoice VoiceFor(int number, double speed, int volume, bool *found);
}
