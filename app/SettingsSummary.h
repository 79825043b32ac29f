#pragma once

#include <QString>

namespace vantro {

class AppSettings;

// The one-line summary of the settings in force.
QString settingsSummary(const AppSettings& settings);

} // namespace vantro
