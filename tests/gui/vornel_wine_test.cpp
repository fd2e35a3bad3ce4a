// The base library under Wine: conversions, formatting, folders, images, fonts, window geometry, files
// and the user-defaults stores, through the DLL's exports as every deliverable calls them.
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include <vornel/VNLUserDefaults.h>
#include <vornel/VNLUtilityApp.h>
#include <vornel/VNLUtilityFile.h>
#include <vornel/VNLUtilityImage.h>
#include <vornel/VNLUtilityString.h>
#include <vornel/VNLUtilitySys.h>
#include <vornel/VNLUtilityWindow.h>

namespace {

template <typename T>
using Owned = std::unique_ptr<T, decltype(&VNLUtilityString::Free)>;

template <typename T>
Owned<T> Own(T* text) {
    return Owned<T>(text, &VNLUtilityString::Free);
}

std::wstring TempFile(const wchar_t* name) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + name;
}

void WriteText(const std::wstring& path, const std::string& text) {
    FILE* file = _wfopen(path.c_str(), L"wb");
    ASSERT_NE(file, nullptr);
    fwrite(text.data(), 1, text.size(), file);
    fclose(file);
}

class GdiplusSession : public ::testing::Environment {
public:
    void SetUp() override {
        Gdiplus::GdiplusStartupInput input;
        ASSERT_EQ(Gdiplus::GdiplusStartup(&m_token, &input, nullptr), Gdiplus::Ok);
    }
    void TearDown() override { Gdiplus::GdiplusShutdown(m_token); }

private:
    ULONG_PTR m_token = 0;
};

const ::testing::Environment* const kGdiplus = ::testing::AddGlobalTestEnvironment(new GdiplusSession());

}  // namespace

TEST(VornelString, Utf8AndUtf16RoundTrip) {
    struct Case {
        const char* utf8;
        const wchar_t* wide;
    };
    const Case cases[] = {
        {"", L""},
        {"Solvak Trevane", L"Solvak Trevane"},
        {"K\xC3\xB6ln \xE2\x82\xAC", L"K\u00F6ln \u20AC"},
        {"\xF0\x9F\x93\xB1", L"\xD83D\xDCF1"},  // outside the BMP: a surrogate pair
    };
    for (const Case& c : cases) {
        auto wide = Own(VNLUtilityString::ConvertUtf8ToUnicode(c.utf8));
        ASSERT_NE(wide, nullptr);
        EXPECT_STREQ(wide.get(), c.wide);
        auto back = Own(VNLUtilityString::ConvertUnicodeToUtf8(wide.get()));
        ASSERT_NE(back, nullptr);
        EXPECT_STREQ(back.get(), c.utf8);
    }
}

TEST(VornelString, BadInputNeverFails) {
    auto fromNull = Own(VNLUtilityString::ConvertUtf8ToUnicode(nullptr));
    ASSERT_NE(fromNull, nullptr);
    EXPECT_STREQ(fromNull.get(), L"");
    auto toNull = Own(VNLUtilityString::ConvertUnicodeToUtf8(nullptr));
    ASSERT_NE(toNull, nullptr);
    EXPECT_STREQ(toNull.get(), "");
    auto invalid =
        Own(VNLUtilityString::ConvertUtf8ToUnicode("a\xFF"
                                                   "b"));
    ASSERT_NE(invalid, nullptr);
    EXPECT_STREQ(invalid.get(),
                 L"a\xFFFD"
                 L"b");
    auto ansi = Own(VNLUtilityString::ConvertUtf8ToAnsi("plain"));
    ASSERT_NE(ansi, nullptr);
    EXPECT_STREQ(ansi.get(), "plain");
}

TEST(VornelString, FormatTakesWideStringsForPercentS) {
    auto text = Own(VNLUtilityString::Format(L"A new version of (%s) is available. %d", L"2.7.0", 3));
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text.get(), L"A new version of (2.7.0) is available. 3");
    const std::wstring longArg(5000, L'x');
    auto large = Own(VNLUtilityString::Format(L"<%s>", longArg.c_str()));
    ASSERT_NE(large, nullptr);
    EXPECT_EQ(std::wstring(large.get()), L"<" + longArg + L">");
    auto empty = Own(VNLUtilityString::Format(nullptr));
    ASSERT_NE(empty, nullptr);
    EXPECT_STREQ(empty.get(), L"");
    EXPECT_EQ(VNLUtilityString::CompareVersion("2.6.21", "2.10"), -1);
}

TEST(VornelApp, FoldersEndWithASeparatorBesideTheProgram) {
    auto module = Own(VNLUtilityApp::GetAppModule());
    auto install = Own(VNLUtilityApp::GetProductInstallDir());
    auto plugins = Own(VNLUtilityApp::GetProductPluginsDir());
    auto themes = Own(VNLUtilityApp::GetProductThemesDir());
    const std::wstring installDir = install.get();
    ASSERT_FALSE(installDir.empty());
    EXPECT_EQ(installDir.back(), L'\\');
    EXPECT_EQ(std::wstring(module.get()).rfind(installDir, 0), 0u);
    EXPECT_EQ(std::wstring(plugins.get()), installDir + L"plugins\\");
    EXPECT_EQ(std::wstring(themes.get()), installDir + L"themes\\");
    auto appData = Own(VNLUtilitySys::GetAppDataDir());
    ASSERT_NE(appData, nullptr);
    EXPECT_EQ(std::wstring(appData.get()).back(), L'\\');
}

TEST(VornelSys, NowDateTimeHonoursTheFormatAndTheBuffer) {
    wchar_t buffer[32];
    VNLUtilitySys::GetNowDateTime(buffer, 32, L"%Y%m%d");
    EXPECT_EQ(wcslen(buffer), 8u);
    for (const wchar_t* p = buffer; *p; ++p) EXPECT_TRUE(*p >= L'0' && *p <= L'9');
    wchar_t tiny[4];
    VNLUtilitySys::GetNowDateTime(tiny, 4, L"%Y%m%d%H%M%S");
    EXPECT_STREQ(tiny, L"");  // too small: empty, never unterminated
}

TEST(VornelImage, LoadsThemeImagesAndMakesGrayCopies) {
    const std::wstring path = std::wstring(TRV_APP_DIR) + L"\\themes\\common\\alert.png";
    std::unique_ptr<Gdiplus::Bitmap> bitmap(VNLUtilityImage::GetBitmap(path.c_str(), 96, 96));
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(bitmap->GetWidth(), 48u);
    EXPECT_EQ(bitmap->GetHeight(), 48u);
    EXPECT_FLOAT_EQ(bitmap->GetHorizontalResolution(), 96.0f);
    std::unique_ptr<Gdiplus::Bitmap> gray(VNLUtilityImage::ConvertToGray(bitmap.get()));
    ASSERT_NE(gray, nullptr);
    Gdiplus::Color colour, corner;
    gray->GetPixel(2, 24, &colour);  // inside the coloured body
    EXPECT_EQ(colour.GetR(), colour.GetG());
    EXPECT_EQ(colour.GetG(), colour.GetB());
    EXPECT_EQ(colour.GetA(), 255);
    gray->GetPixel(0, 0, &corner);  // outside the rounded corner: transparency is kept
    EXPECT_EQ(corner.GetA(), 0);
    EXPECT_EQ(VNLUtilityImage::GetBitmap((path + L".missing").c_str(), 96, 96), nullptr);
    EXPECT_EQ(VNLUtilityImage::ConvertToGray(nullptr), nullptr);
}

TEST(VornelApp, FontHasTheAskedPixelSizeWeightAndFace) {
    HFONT font = VNLUtilityApp::GetFont(16, true, L"Arial");
    ASSERT_NE(font, nullptr);
    LOGFONTW info = {};
    ASSERT_NE(GetObjectW(font, sizeof(info), &info), 0);
    EXPECT_EQ(info.lfHeight, -16);
    EXPECT_EQ(info.lfWeight, FW_BOLD);
    EXPECT_STREQ(info.lfFaceName, L"Arial");
    DeleteObject(font);
}

TEST(VornelWindow, RelativeRectOfAChildIsInItsParentsClientCoordinates) {
    HWND parent = CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 100, 80, 300, 200, nullptr, nullptr,
                                  nullptr, nullptr);
    ASSERT_NE(parent, nullptr);
    HWND child =
        CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 12, 34, 50, 20, parent, nullptr, nullptr, nullptr);
    ASSERT_NE(child, nullptr);
    const RECT rect = VNLUtilityWindow::GetWindowRelativeRect(child);
    EXPECT_EQ(rect.left, 12);
    EXPECT_EQ(rect.top, 34);
    EXPECT_EQ(rect.right, 62);
    EXPECT_EQ(rect.bottom, 54);
    DestroyWindow(parent);
    const RECT none = VNLUtilityWindow::GetWindowRelativeRect(nullptr);
    EXPECT_EQ(none.right - none.left, 0);
}

TEST(VornelFile, ExistenceAndSizeText) {
    const std::wstring path = TempFile(L"trv-exists.txt");
    WriteText(path, "x");
    EXPECT_TRUE(VNLUtilityFile::IsFileExist(path.c_str()));
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    EXPECT_FALSE(VNLUtilityFile::IsFileExist(temp));  // a folder is not a file
    DeleteFileW(path.c_str());
    EXPECT_FALSE(VNLUtilityFile::IsFileExist(path.c_str()));
    EXPECT_FALSE(VNLUtilityFile::IsFileExist(nullptr));
    auto size = Own(VNLUtilityFile::QVGetFormatSizeFromBytes(1536));
    EXPECT_STREQ(size.get(), L"1.50 KB");
}

TEST(VornelUserDefaults, NamedStoresFromFiles) {
    const std::wstring path = TempFile(L"trv-option.json");
    WriteText(path, R"({"product":{"type":1},"url":{"feedback":"http://127.0.0.1/f"},"color":{"1":"#102030"}})");
    ASSERT_TRUE(VNLUserDefaults::InitUserDefaults("test-url", path.c_str()));
    VNLUserDefaults* store = VNLUserDefaults::GetUserDefaults("test-url");
    ASSERT_NE(store, nullptr);
    EXPECT_TRUE(store->IsOk());
    EXPECT_EQ(store->GetInt("product:type"), 1);
    EXPECT_EQ(store->GetInt("product:missing", -5), -5);
    auto feedback = Own(store->GetString("url:feedback"));
    ASSERT_NE(feedback, nullptr);
    EXPECT_STREQ(feedback.get(), "http://127.0.0.1/f");
    EXPECT_EQ(store->GetString("url:none"), nullptr);
    EXPECT_EQ(store->GetRGB("color:1"), RGB(0x10, 0x20, 0x30));
    EXPECT_EQ(store->GetRGB("color:9", RGB(0x7F, 0x7F, 0x7F)), RGB(0x7F, 0x7F, 0x7F));

    // A later failed read leaves the store present but not loaded, with no stale values.
    DeleteFileW(path.c_str());
    EXPECT_FALSE(VNLUserDefaults::InitUserDefaults("test-url", path.c_str()));
    EXPECT_FALSE(store->IsOk());
    EXPECT_EQ(store->GetInt("product:type", -1), -1);
    EXPECT_EQ(VNLUserDefaults::GetUserDefaults("never-opened"), nullptr);
}

TEST(VornelUserDefaults, StandardStoreIsWrittenBackWhole) {
    wchar_t brand[64];
    swprintf(brand, 64, L"TrvTest%lu", GetCurrentProcessId());
    auto appData = Own(VNLUtilitySys::GetAppDataDir());
    const std::wstring folder = std::wstring(appData.get()) + brand + L"\\Product Name";
    const std::wstring file = folder + L"\\UserDefaults.json";
    CreateDirectoryW((std::wstring(appData.get()) + brand).c_str(), nullptr);
    CreateDirectoryW(folder.c_str(), nullptr);
    WriteText(file, R"({"window":{"width":900},"name":"K\u00f6ln"})");

    ASSERT_TRUE(VNLUserDefaults::InitStandardUserDefaults(brand, L"Product Name"));
    ASSERT_NE(VNLUserDefaults::StandardUserDefaults(), nullptr);
    EXPECT_EQ(VNLUserDefaults::StandardUserDefaults()->GetInt("window:width"), 900);
    DeleteFileW(file.c_str());
    ASSERT_TRUE(VNLUserDefaults::WriteAll());
    EXPECT_FALSE(VNLUtilityFile::IsFileExist((file + L".tmp").c_str()));

    // What was read comes back from the written file.
    ASSERT_TRUE(VNLUserDefaults::InitUserDefaults("test-standard", file.c_str()));
    VNLUserDefaults* written = VNLUserDefaults::GetUserDefaults("test-standard");
    EXPECT_EQ(written->GetInt("window:width"), 900);
    auto name = Own(written->GetString("name"));
    ASSERT_NE(name, nullptr);
    EXPECT_STREQ(name.get(), "K\xC3\xB6ln");
    DeleteFileW(file.c_str());
    RemoveDirectoryW(folder.c_str());
    RemoveDirectoryW((std::wstring(appData.get()) + brand).c_str());
}
