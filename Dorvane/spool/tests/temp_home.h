// Transitional: the helper moved to the shared test support.
#pragma once

#include "tests/support/temp_home.h"
