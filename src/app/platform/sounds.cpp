#include "platform/sounds.h"

#include <canberra.h>

#include <QDir>
#include <QFileInfo>

namespace lumatra {
namespace {

// Whether anything could play a sound: a sound server of the session or a sound card.
// Without one, the sound libraries would only print their failures on standard error.
bool soundOutputExists() {
    static const bool exists = [] {
        const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
        if (!qEnvironmentVariableIsEmpty("PULSE_SERVER")) return true;
        for (const char* socket : {"/pulse/native", "/pipewire-0"})
            if (!runtime.isEmpty() && QFileInfo::exists(runtime + QLatin1String(socket)))
                return true;
        return !QDir(QStringLiteral("/dev/snd"))
                    .entryList({QStringLiteral("pcmC*p")}, QDir::System)
                    .isEmpty();
    }();
    return exists;
}

// One context for the life of the program, made on first use (main thread only).
ca_context* soundContext() {
    static ca_context* context = [] {
        ca_context* made = nullptr;
        if (ca_context_create(&made) != CA_SUCCESS) return static_cast<ca_context*>(nullptr);
        ca_context_change_props(made, CA_PROP_APPLICATION_NAME, "Lumatra", nullptr);
        return made;
    }();
    return context;
}

} // namespace

void playSystemSound(const QString& name) {
    const char* eventId = nullptr;
    if (name == QLatin1String("Glass")) eventId = "complete";
    if (name == QLatin1String("Basso")) eventId = "dialog-error";
    if (!eventId || !soundOutputExists()) return;
    ca_context* context = soundContext();
    if (!context) return;
    ca_context_play(context, 0, CA_PROP_EVENT_ID, eventId, nullptr);
}

void prepareSystemSounds() {
    if (!soundOutputExists()) return;
    if (ca_context* context = soundContext()) ca_context_open(context);
}

} // namespace lumatra
