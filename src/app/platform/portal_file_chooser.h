#pragma once
// The desktop's own file dialog through the XDG desktop portal, where one runs.

#include <QObject>
#include <QString>
#include <QUrl>
#include <QVariantMap>
#include <QWindow>
#include <QtQml/qqmlregistration.h>

namespace lumatra {

/// QML singleton `Portal` of module Lumatra; main thread. Asks the portal's FileChooser
/// (org.freedesktop.portal.Desktop) for files or a folder. Every request ends in exactly
/// one of chosen(), cancelled() or failed(); after failed() the caller shows its own
/// panel instead.
class PortalFileChooser : public QObject {
    Q_OBJECT
    QML_NAMED_ELEMENT(Portal)
    QML_SINGLETON

    /// A portal with a file chooser answers on the session bus (looked up once).
    Q_PROPERTY(bool available READ isAvailable CONSTANT)
    /// A request is waiting for the user.
    Q_PROPERTY(bool busy READ isBusy NOTIFY busyChanged)

public:
    explicit PortalFileChooser(QObject* parent = nullptr);

    bool isAvailable() const;
    bool isBusy() const { return !m_request.isEmpty(); }

    /// Several files (`folder` false) or one folder (`folder` true), over `window` when
    /// given. Ignored while a request is waiting.
    Q_INVOKABLE void choose(const QString& title, const QString& acceptLabel, bool folder,
                            QWindow* window = nullptr);

signals:
    void chosen(const QList<QUrl>& urls);
    void cancelled();
    void failed();
    void busyChanged();

private slots:
    void respond(uint response, const QVariantMap& results);

private:
    void end();

    QString m_request;
    mutable int m_available = -1;
};

} // namespace lumatra
