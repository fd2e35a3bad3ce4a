// Update texts and the installer run; see update_flow.h.
#include "update_flow.h"

#include <algorithm>

#include "host_ui.h"
#include "product_identity.h"
#include "vnl_utf8.h"
#include "vnl_version.h"

namespace trv {

const wchar_t kUpdateCheckFailedText[] = L"Update failed! Please check if the network is available.";

std::wstring UpdateCheckFailedText(const std::string& address) {
    return address.empty() ? L"No update address is set: \"url:update\" of Option.json is empty, so no update "
                             L"could be looked for."
                           : kUpdateCheckFailedText;
}

std::wstring DriverFailureText(bool installing, int64_t code) {
    // The device service's reply codes of its driver requests (16, 17).
    struct Reason {
        int64_t code;
        const wchar_t* words;
    };
    static const Reason kReasons[] = {
        {-1, L"the device service did not answer"},
        {6, L"it was cancelled"},
        {8, L"no download address is set (\"url:ios-driver\" of Option.json)"},
        {50, L"a driver package could not be downloaded or did not match its checksum. Check the network "
             L"connection and try again"},
        {51, L"the driver's installer failed"},
        {52, L"the installer could not be started with the rights it needs"},
        {53, L"the installer could not be started with the rights it needs"},
        {54, L"the store edition of iTunes is installed; it must be removed first"},
    };
    std::wstring reason = L"the device service reported error " + std::to_wstring(code);
    for (const Reason& known : kReasons) {
        if (known.code == code) reason = known.words;
    }
    return (installing ? L"The driver installation failed: " : L"The driver download failed: ") + reason + L".";
}

UpdateCheckResult ReadUpdateCheck(int64_t status, int64_t count, const UpdateVersionList* versions) {
    UpdateCheckResult result;
    if (status == 0) {
        return result;
    }
    result.kind = UpdateCheckResult::Kind::Latest;
    if (count <= 0 || versions == nullptr) {
        return result;
    }
    const size_t listed = std::min(static_cast<size_t>(count), versions->size());
    for (size_t i = 0; i < listed; ++i) {
        const UpdateVersion& version = (*versions)[i];
        result.listText += L"Version: " + version.version + L"\r\n";
        for (const std::wstring& line : version.notes) {
            result.listText += line + L"\r\n";
        }
    }
    if (listed == 0 || (*versions)[0].version.empty()) {
        // A count without version texts names nothing to update to.
        result.listText.clear();
        return result;
    }
    result.kind = UpdateCheckResult::Kind::NewVersions;
    result.firstVersion = (*versions)[0].version;
    return result;
}

std::wstring NewVersionNotice(const std::wstring& version) {
    return L"A new version of (" + version + L") is available.";
}

std::wstring LatestVersionNotice() { return L"This version of (" + VersionW() + L") is the latest version."; }

std::wstring StoreEditionNotice(const std::wstring& downloadAddress) {
    return L"iTunes from the Microsoft Store must be removed before continuing. Please uninstall it and restart "
           L"the program.\n\n(If iTunes is needed, please reinstall the <A HREF=\"" +
           downloadAddress + L"\">iTunes</A> from Apple after the uninstallation.)";
}

std::wstring VersionFromFolderName(const std::wstring& name) {
    // The leftmost digits "." digits "." digits, each run as long as it goes.
    const auto digitsEnd = [&name](size_t at) {
        while (at < name.size() && name[at] >= L'0' && name[at] <= L'9') ++at;
        return at;
    };
    for (size_t start = 0; start < name.size(); ++start) {
        size_t end = start;
        int runs = 0;
        for (; runs < 3; ++runs) {
            const size_t next = digitsEnd(end);
            if (next == end) break;
            end = next;
            if (runs < 2) {
                if (end >= name.size() || name[end] != L'.') break;
                ++end;
            }
        }
        if (runs == 3) return name.substr(start, end - start);
    }
    return name;
}

std::wstring NewestVersionFolder(const std::vector<std::wstring>& entries,
                                 const std::function<bool(const std::wstring&)>& hasProgram) {
    std::wstring best;
    for (const std::wstring& entry : entries) {
        if (entry == L"." || entry == L".." || VersionFromFolderName(entry) != entry || !hasProgram(entry)) {
            continue;
        }
        if (best.empty() ||
            vnl::CompareDottedVersions(vnl::Utf8FromWide(best).c_str(), vnl::Utf8FromWide(entry).c_str()) < 0) {
            best = entry;
        }
    }
    return best;
}

std::wstring CommandLine(const std::wstring& program, const std::wstring& arguments) {
    return L"\"" + program + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
}

std::wstring ProductAlias(const std::wstring& preferencesPath) {
    const size_t last = preferencesPath.rfind(L'\\');
    if (last == std::wstring::npos || last == 0) {
        return std::wstring();
    }
    const size_t before = preferencesPath.rfind(L'\\', last - 1);
    const size_t start = before == std::wstring::npos ? 0 : before + 1;
    return preferencesPath.substr(start, last - start);
}

bool RunDownloadedInstaller(const std::wstring& installer, int64_t productType, const std::wstring& preferencesPath,
                            const std::wstring& addinName) {
    HostUi& ui = CurrentHostUi();
    if (productType != 1 || preferencesPath.empty()) {
        // The installer replaces this program; a start that failed has been reported by the run itself.
        ui.RunElevated(installer, L"", true);
        ui.CloseMainFrame();
        return true;
    }
    const std::wstring arguments = L"/S /PRODUCT_ALIAS=\"" + ProductAlias(preferencesPath) + L"\"";
    if (ui.RunHiddenAndWait(CommandLine(installer, arguments)) == 0) {
        return false;  // nothing was installed: the installer stays for another try
    }
    ui.DeleteFile(installer);
    const std::wstring root = preferencesPath.substr(0, preferencesPath.rfind(L'\\'));
    const std::wstring base = root + L"\\Addins\\" + addinName + L"\\";
    const auto program = [&](const std::wstring& version) { return base + version + L"\\Bin\\" + addinName + L".exe"; };
    const std::wstring newest =
        NewestVersionFolder(ui.SubFolders(base), [&](const std::wstring& v) { return ui.FileExists(program(v)); });
    if (newest.empty()) {
        return true;  // no add-in took over: this program goes on
    }
    // The add-in's newest version takes over from this program.
    ui.RunElevated(program(newest), L"", false);
    ui.CloseMainFrame();
    return true;
}

}  // namespace trv
