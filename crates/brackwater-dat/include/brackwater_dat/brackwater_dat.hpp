#pragma once

// Everything the reader library offers, in one include.

#include "brackwater_dat/version.hpp"
