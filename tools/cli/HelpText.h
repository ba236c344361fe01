#pragma once

#include "CliEnvironment.h"

#include <QString>

namespace tilu::cli {

QString HelpText(Language language);

} // namespace tilu::cli
