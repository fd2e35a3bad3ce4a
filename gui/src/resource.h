#pragma once
// Resource ids of Trevane.exe.
#define IDI_TREVANE_LOGO 128
