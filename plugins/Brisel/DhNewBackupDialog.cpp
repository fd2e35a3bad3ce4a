#include "DhNewBackupDialog.h"

#include <cstdlib>
#include <memory>
#include <vector>

#include "brisel_module.h"

namespace {

constexpr int64_t kConfirmBackup = 7;
constexpr int64_t kStartBackup = 8;
constexpr int64_t kAskDefaultFolder = 9;
constexpr int64_t kBrowseFolder = 10;
constexpr int64_t kNoDevice = 14;

}  // namespace

DhNewBackupDialog::DhNewBackupDialog()
    : DhDeviceDialog(L"Backup", 600, L"Please select a device to backup", L"Please choose a folder to save backup file",
                     {{L"", 6}, {L"Name", 30}, {L"Time", 28}, {L"Size", 16}, {L"Version", 20}}) {}

bool DhNewBackupDialog::CreateExtras() {
    const struct {
        VNLSwitchImageButton* button;
        int id;
        const wchar_t* caption;
    } kRadios[] = {{&m_defaultRadio, kDefaultLocation, L"Backup file(s) to default iTunes backup location"},
                   {&m_customRadio, kCustomize, L"Customize"}};
    for (const auto& radio : kRadios) {
        HWND window = MakeChild(L"BUTTON", radio.caption, BS_OWNERDRAW, radio.id);
        if (window == nullptr || !radio.button->SubclassWindow(window)) return false;
        radio.button->SetLayoutMode(2);
        radio.button->SetMargins(2, 2);
        radio.button->SetHoverEnabled(false);
        radio.button->SetImagesAt(RGB(0xFF, 0xFF, 0xFF), RGB(0xFF, 0xFF, 0xFF), radio.caption,
                                  brisel::Image("common\\radio-check-no.png"),
                                  brisel::Image("common\\radio-check-yes.png"), 0);
    }
    m_folderEdit = MakeChild(L"EDIT", L"", ES_AUTOHSCROLL | WS_BORDER, kFolderEdit);
    MakeTextButton(m_browse, kBrowse, L"Browse");
    if (m_folderEdit == nullptr || m_browse.m_hWnd == nullptr) return false;
    m_selectedRadio = kCustomize;  // so that selecting the default below takes effect
    SelectRadio(kDefaultLocation);
    return true;
}

int DhNewBackupDialog::LayoutExtras(int width) {
    const controls::SwitchImageLayout& first = m_defaultRadio.Layout();
    const controls::SwitchImageLayout& second = m_customRadio.Layout();
    const int firstTop = kTitleBottom + 160;
    SetWindowPos(m_defaultRadio, nullptr, 40, firstTop, first.preferredWidth, first.preferredHeight, SWP_NOZORDER);
    const int secondTop = firstTop + first.preferredHeight + 20;
    SetWindowPos(m_customRadio, nullptr, 40, secondTop, second.preferredWidth, second.preferredHeight, SWP_NOZORDER);
    const int centre = secondTop + second.preferredHeight / 2;
    const int browseWidth = m_browse.PreferredWidth();
    const int browseLeft = width - 40 - browseWidth;
    SetWindowPos(m_browse, nullptr, browseLeft, centre - m_browse.PreferredHeight() / 2, browseWidth,
                 m_browse.PreferredHeight(), SWP_NOZORDER);
    const int editLeft = 40 + second.preferredWidth + 20;
    SetWindowPos(m_folderEdit, nullptr, editLeft, centre - 11, browseLeft - 40 - editLeft, 22, SWP_NOZORDER);
    return secondTop + second.preferredHeight + 10;
}

void DhNewBackupDialog::SelectRadio(int id) {
    if (id == m_selectedRadio) return;
    m_selectedRadio = id;
    const bool custom = id == kCustomize;
    m_defaultRadio.SetState(custom ? controls::kStateNormal : controls::kStatePressed);
    m_customRadio.SetState(custom ? controls::kStatePressed : controls::kStateNormal);
    EnableWindow(m_folderEdit, custom ? TRUE : FALSE);
    EnableWindow(m_browse, custom ? TRUE : FALSE);
    InvalidateRect(m_defaultRadio, nullptr, TRUE);
    InvalidateRect(m_customRadio, nullptr, TRUE);
}

void DhNewBackupDialog::ShowFolder(const std::wstring& folder) {
    m_folder = folder;
    SetWindowTextW(m_folderEdit, m_folder.c_str());
}

void DhNewBackupDialog::BeforeDevices() {
    if (!m_folder.empty()) return;
    CommandMessage answer = Send(kAskDefaultFolder);
    std::unique_ptr<std::vector<std::wstring>> folders(static_cast<std::vector<std::wstring>*>(answer.extra));
    ShowFolder(brisel::FolderFromAnswer(folders.get()));
}

void DhNewBackupDialog::OnDeviceChosen() {
    std::vector<brisel::BackupPtr> backups;
    if (const WideStringPair* device = Devices().SelectedDevice())
        ManagerList().AppendForDevice(device->first, backups);
    ShowRows(std::move(backups));
}

void DhNewBackupDialog::OnExtraCommand(int id, UINT) {
    if (id == kDefaultLocation || id == kCustomize) {
        SelectRadio(id);
    } else if (id == kBrowse) {
        CommandMessage answer = Send(kBrowseFolder, m_folder.c_str());
        std::unique_ptr<wchar_t, void (*)(void*)> chosen(static_cast<wchar_t*>(answer.extra), &std::free);
        if (answer.status != 0 && chosen) ShowFolder(chosen.get());
    } else if (id == kFolderEdit) {
        wchar_t text[MAX_PATH * 2] = {};
        GetWindowTextW(m_folderEdit, text, static_cast<int>(std::size(text)));
        m_folder = text;
    }
}

void DhNewBackupDialog::OnOk() {
    if (Devices().SelectedDevice() == nullptr) {
        Send(kNoDevice);
        return;
    }
    // A copy: the host's question runs a message loop in which the device may leave the box.
    const WideStringPair device = *Devices().SelectedDevice();
    if (Send(kConfirmBackup).status == 0) return;
    wchar_t text[MAX_PATH * 2] = {};
    GetWindowTextW(m_folderEdit, text, static_cast<int>(std::size(text)));
    auto target =
        std::make_unique<WideStringPair>(device.first, brisel::TargetFolder(m_selectedRadio == kCustomize, text));
    CloseDialog();
    NoteRun(sdk::backups::RunKind::Backup, device);
    Send(kStartBackup, nullptr, target.release(), Owner());  // the host's from here on
}
