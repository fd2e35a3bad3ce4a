#pragma once
// The list of new product versions that the relay module hands the host with the result of an update
// check (`extra` of ZERITH_COMMAND_CHECK_FOR_UPDATE, its length in `value2`): per version its version text,
// two further texts and the lines of its release notes. Allocated with new by the relay module and deleted
// by the host; one compiler and runtime for every GUI deliverable.

#include <string>
#include <vector>

struct UpdateVersion {
    std::wstring version;
    std::wstring reserved1;
    std::wstring reserved2;
    std::vector<std::wstring> notes;
};

using UpdateVersionList = std::vector<UpdateVersion>;
