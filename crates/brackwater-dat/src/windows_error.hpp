#pragma once

#include <windows.h>

// Codes newer than MinGW-w64's headers.
#ifndef ERROR_DIRECTORY_NOT_SUPPORTED
#define ERROR_DIRECTORY_NOT_SUPPORTED 336L
#endif
