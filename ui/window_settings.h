#pragma once
// The main window's part of the settings file: where the window goes when it opens,
// and how many worker threads a run from the window uses.
#include <QPoint>
#include <QRect>
#include <QSize>

#include "engine/ini_file.h"

// The window's top-left corner on opening, from "pos_main": the stored form_left and
// form_top, unless form_top is missing or less than 10 pixels of a window of `size`
// would show below the desktop's top or right of its left edge; then the window is
// centred on `desktop`. A stored value that is not a number counts as `current`.
QPoint MainWindowPlacement(const pictorix::IniFile& settings, QSize size, QPoint current, const QRect& desktop);

// The worker threads of a run from the window: "main" "jobs" when it is 1 or more
// (1 converts on one thread), otherwise one per processor core.
int WindowRunJobs(const pictorix::IniFile& settings);
