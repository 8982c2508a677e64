# Documents: the Markdown renderer classifies numbers with GLib's Unicode tables (GLib
# comes with GIO, linked by the engine).
