// Shapefiles written and read back with shapelib: see test_support.hpp.
#pragma once
#include "test_support.hpp"
namespace pelmo::test { using ShapeFrontEnd = RecordingFrontEnd; }
