import QtQuick

Window {
    width: 1000
    height: 680
    visible: true
    title: "Lumatra"
    color: "#0b0b0f"
}
