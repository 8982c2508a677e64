#include "store/lifecycle.h"

#include "store/store.h"

#include <QCoreApplication>
#include <QJSEngine>
#include <QPointer>

namespace lumatra {

Lifecycle::Lifecycle(Store& store, QObject* parent)
    : QObject(parent), m_store(store), m_quit([] { QCoreApplication::quit(); }) {
    m_poll.setInterval(20);
    connect(&m_poll, &QTimer::timeout, this, &Lifecycle::poll);
}

Lifecycle* Lifecycle::shared() {
    static QPointer<Lifecycle> instance;
    if (!instance) instance = new Lifecycle(*Store::shared(), Store::shared());
    return instance;
}

Lifecycle* Lifecycle::create(QQmlEngine*, QJSEngine*) {
    Lifecycle* lifecycle = shared();
    QJSEngine::setObjectOwnership(lifecycle, QJSEngine::CppOwnership);
    return lifecycle;
}

bool Lifecycle::requestQuit() {
    // Quitting asks the windows to close; they may.
    if (m_quitting) return true;
    if (!m_store.isBusy()) {
        quitNow();
        return true;
    }
    emit confirmationNeeded();
    return false;
}

void Lifecycle::quitAfterStopping() {
    if (m_quitting) return;
    m_quitting = true;
    emit quittingChanged();
    m_store.stopForQuit();
    m_deadline = std::chrono::steady_clock::now() + m_limit;
    // The event loop keeps running meanwhile, so the window still draws.
    poll();
    if (m_quitting) m_poll.start();
}

void Lifecycle::poll() {
    if (!m_store.conversionsStopped() && std::chrono::steady_clock::now() < m_deadline) return;
    m_poll.stop();
    quitNow();
}

void Lifecycle::quitNow() {
    m_quitting = true;
    m_quit();
}

} // namespace lumatra
