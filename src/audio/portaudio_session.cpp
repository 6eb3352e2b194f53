#include "audio/portaudio_session.h"

#include <alsa/asoundlib.h>
#include <dlfcn.h>
#include <portaudio.h>

#include <cstdlib>

namespace skarnel {

namespace {

void IgnoreAlsaMessage(const char*, int, const char*, int, const char*, ...) {}

void IgnoreJackMessage(const char*) {}

// ALSA reports every absent card and plug-in it probes, and a PortAudio built
// with JACK makes libjack report the missing JACK server; both write straight
// to standard error unless given handlers. libjack's handlers are looked up at
// run time so that a PortAudio without JACK needs no libjack.
void QuietenSoundLibraries() {
    static std::once_flag once;
    std::call_once(once, [] {
        setenv("JACK_NO_START_SERVER", "1", 0);
        setenv("JACK_NO_AUDIO_RESERVATION", "1", 0);
        snd_lib_error_set_handler(&IgnoreAlsaMessage);
        using JackMessageHandler = void (*)(const char*);
        using JackSetHandler = void (*)(JackMessageHandler);
        for (const char* name : {"jack_set_error_function", "jack_set_info_function"}) {
            if (void* symbol = dlsym(RTLD_DEFAULT, name)) {
                reinterpret_cast<JackSetHandler>(symbol)(&IgnoreJackMessage);
            }
        }
    });
}

}  // namespace

PortAudioSession::PortAudioSession() {
    QuietenSoundLibraries();
    initError_ = Pa_Initialize();
}

PortAudioSession::~PortAudioSession() {
    if (initError_ == paNoError) {
        Pa_Terminate();
    }
}

void PortAudioSession::RememberHostError() {
    const PaHostErrorInfo* info = Pa_GetLastHostErrorInfo();
    std::lock_guard<std::mutex> lock(hostErrorMutex_);
    hostErrorText_ = info != nullptr && info->errorText != nullptr ? info->errorText : "";
}

std::string PortAudioSession::HostErrorText() const {
    std::lock_guard<std::mutex> lock(hostErrorMutex_);
    return hostErrorText_;
}

}  // namespace skarnel
