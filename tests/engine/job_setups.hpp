// Job settings of the engine tests: see test_support.hpp.
#pragma once
#include "test_support.hpp"
