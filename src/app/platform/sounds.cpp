#include "platform/sounds.h"

#include <canberra.h>

namespace lumatra {
namespace {

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
    if (!eventId) return;
    ca_context* context = soundContext();
    if (!context) return;
    ca_context_play(context, 0, CA_PROP_EVENT_ID, eventId, nullptr);
}

} // namespace lumatra
