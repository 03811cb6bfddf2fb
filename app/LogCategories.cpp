#include "LogCategories.h"

Q_LOGGING_CATEGORY(LogApp, "vellox.app")
Q_LOGGING_CATEGORY(LogModel, "vellox.model")
Q_LOGGING_CATEGORY(LogNet, "vellox.net")
Q_LOGGING_CATEGORY(LogPlayer, "vellox.player")
Q_LOGGING_CATEGORY(LogRemote, "vellox.remote")
Q_LOGGING_CATEGORY(LogUi, "vellox.ui")
