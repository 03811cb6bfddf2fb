#pragma once

#include <QLoggingCategory>

// One diagnostics category per folder; QT_LOGGING_RULES="vellox.net.debug=true" and the
// like choose what shows.
Q_DECLARE_LOGGING_CATEGORY(LogApp)
Q_DECLARE_LOGGING_CATEGORY(LogModel)
Q_DECLARE_LOGGING_CATEGORY(LogNet)
Q_DECLARE_LOGGING_CATEGORY(LogPlayer)
Q_DECLARE_LOGGING_CATEGORY(LogRemote)
Q_DECLARE_LOGGING_CATEGORY(LogUi)
