#include "settings/Prefs.h"

#include <cstring>

Prefs& Prefs::Global()
{
    static Prefs prefs(kPrefsVersion);
    return prefs;
}

Prefs::Prefs(const char*) {}
Prefs::Prefs(PrefsLocation, PrefsLocation) {}
Prefs::~Prefs() = default;

int32_t Prefs::GetFramesPerSecond() const { return -1; }
void Prefs::SetFramesPerSecond(int32_t) {}
int32_t Prefs::GetRecordMouseShape() const { return -1; }
int32_t Prefs::GetCaptureMode() const { return -1; }
void Prefs::SetCaptureMode(int32_t) {}
int32_t Prefs::GetCursorMode() const { return -1; }
void Prefs::SetCursorMode(int32_t) {}
int32_t Prefs::GetVorluxMode() const { return -1; }
void Prefs::SetVorluxMode(int32_t) {}
VRect Prefs::GetCaptureArea() const { return {}; }
void Prefs::SetCaptureArea(const VRect&) {}
int32_t Prefs::GetPanValue() const { return -1; }
void Prefs::SetPanValue(int32_t) {}
int32_t Prefs::GetKeyFrame() const { return -1; }
void Prefs::SetKeyFrame(int32_t) {}
int32_t Prefs::GetStartKey() const { return 0; }
void Prefs::SetStartKey(int32_t) {}
int32_t Prefs::GetStopKey() const { return 0; }
void Prefs::SetStopKey(int32_t) {}
int32_t Prefs::GetPauseKey() const { return 0; }
void Prefs::SetPauseKey(int32_t) {}
int32_t Prefs::GetCaptureKey() const { return 0; }
void Prefs::SetCaptureKey(int32_t) {}
bool Prefs::GetAutoIncrement() const { return false; }
void Prefs::SetAutoIncrement(bool) {}
void Prefs::GetDirectory(char* buffer, std::size_t size) const { if (size) buffer[0] = '\0'; }
void Prefs::SetDirectory(const char*) {}
void Prefs::GetFilename(char* buffer, std::size_t size) const { if (size) buffer[0] = '\0'; }
void Prefs::SetFilename(const char*) {}
void Prefs::GetMovieDirectory(char* buffer, std::size_t size) const { if (size) buffer[0] = '\0'; }
void Prefs::GetNextMovieName(char* buffer, std::size_t size) const { if (size) buffer[0] = '\0'; }
void Prefs::GetNextSnapshotName(char* buffer, std::size_t size) const { if (size) buffer[0] = '\0'; }
bool Prefs::GetEnableSoundCapture() const { return false; }
void Prefs::SetEnableSoundCapture(bool) {}
int32_t Prefs::GetBufferCount() const { return -1; }
void Prefs::SetBufferCount(int32_t) {}
int32_t Prefs::GetFrequency() const { return -1; }
void Prefs::SetFrequency(int32_t) {}
int32_t Prefs::GetDataSize() const { return -1; }
void Prefs::SetDataSize(int32_t) {}
int32_t Prefs::GetChannels() const { return -1; }
void Prefs::SetChannels(int32_t) {}
void Prefs::GetLastMovieRecorded(char* buffer, std::size_t size) const { if (size) buffer[0] = '\0'; }
void Prefs::SetLastMovieRecorded(const char*) {}
void Prefs::SetProgramDirectory(const char*) {}
