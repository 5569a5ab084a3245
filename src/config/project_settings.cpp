// The project file store; see project_settings.h.
