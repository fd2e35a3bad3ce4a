#pragma once
// Export macro of the base library. Every GUI deliverable links the same libVornel.dll.
#ifdef VORNEL_BUILD
#define VNL_API __declspec(dllexport)
#else
#define VNL_API __declspec(dllimport)
#endif
