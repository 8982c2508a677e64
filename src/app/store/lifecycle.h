#pragma once
// Quitting the window: at once when the queue is idle; after the user's confirmation
// while it converts, and then only once the running conversion has stopped.

#include <QObject>
#include <QTimer>
#include <QtQml/qqmlregistration.h>

#include <chrono>
#include <functional>

class QJSEngine;
class QQmlEngine;

namespace lumatra {

class Store;

/// QML singleton `Lifecycle` of module Lumatra; main thread only.
///
/// The window's close button and Ctrl+Q call requestQuit(); while a batch runs that
/// asks the view to show the dialog "Идёт конвертация", whose "Выйти" calls
/// quitAfterStopping() and whose "Остаться" changes nothing. SIGINT, SIGTERM and SIGHUP
/// call quitAfterStopping() directly.
class Lifecycle : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

    Q_PROPERTY(bool quitting READ isQuitting NOTIFY quittingChanged)

public:
    /// Ends the program; by default QCoreApplication::quit().
    using QuitAction = std::function<void()>;

    /// `store` must outlive the lifecycle.
    explicit Lifecycle(Store& store, QObject* parent = nullptr);

    /// The application's one lifecycle, over the shared store.
    static Lifecycle* shared();
    /// QML's singleton factory: the shared lifecycle.
    static Lifecycle* create(QQmlEngine*, QJSEngine*);

    void setQuitAction(QuitAction action) { m_quit = std::move(action); }
    /// The longest wait for a stopping conversion before the program ends anyway.
    void setStopLimit(std::chrono::milliseconds limit) { m_limit = limit; }

    bool isQuitting() const { return m_quitting; }

    /// The user asks to quit, or the window is asked to close. An idle queue quits at
    /// once (true); a running one emits confirmationNeeded() and stays (false). While
    /// quitting, the answer is true and nothing more happens.
    Q_INVOKABLE bool requestQuit();
    /// Quits after the walk of the quit path: queued jobs become ready, the running
    /// conversion is cancelled, and the program ends once its worker is over (its
    /// external program reaped, its unfinished output removed) or the limit passed.
    Q_INVOKABLE void quitAfterStopping();

signals:
    /// A batch is running: the user must choose between "Выйти" and "Остаться".
    void confirmationNeeded();
    void quittingChanged();

private:
    void poll();
    void quitNow();

    Store& m_store;
    QuitAction m_quit;
    std::chrono::milliseconds m_limit{10000};
    std::chrono::steady_clock::time_point m_deadline;
    QTimer m_poll;
    bool m_quitting = false;
};

} // namespace lumatra
