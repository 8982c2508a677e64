import QtQuick.Controls.Basic

// A menu action that also names its shortcut the way the menu shows it.
Action {
    /// The shortcut as written in the menu ("Ctrl+Enter").
    property string hint
}
