#pragma once
// Resource ids of libArdena.dll.
#define ARDENA_VERSION_INFO 1
