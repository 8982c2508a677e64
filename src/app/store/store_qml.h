#pragma once
// The shared store as QML's singleton `Store`.

#include "store/store.h"

#include <QQmlEngine>
#include <QtQml/qqmlregistration.h>

namespace lumatra {

/// Registers `Store::shared()` as the singleton `Store` of module Lumatra. Qt 6.4 builds
/// a singleton with its public default constructor whenever there is one, ignoring
/// `create`; registering Store directly would give QML a second, empty store. A
/// foreign registration always goes through this factory.
struct StoreForeign {
    Q_GADGET
    QML_FOREIGN(lumatra::Store)
    QML_NAMED_ELEMENT(Store)
    QML_SINGLETON

public:
    static Store* create(QQmlEngine* engine, QJSEngine* scripts) {
        return Store::create(engine, scripts);
    }
};

} // namespace lumatra
