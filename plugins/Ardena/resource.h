#pragma once
// Resource ids of libArdena.dll.
#define ARDENA_VERSION_INFO 1
// The contact editor's dialog templates: no controls, the real size and controls are set when it starts.
#define IDD_CONTACT_EDIT 101
#define IDD_CONTACT_EDIT_SECOND 102
