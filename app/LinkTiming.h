#pragma once

#include "link/LinkTiming.h"
