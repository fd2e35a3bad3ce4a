// The exported AFC calls live in md_afc.cpp; this header gives the rest of the library what it may
// know of them. Threads: any.
#pragma once

#include <cstddef>

// AFC connections opened and not yet closed (leak checks of the test-control header).
size_t MDAfcConnectionCount();
