// User-defaults stores; see VNLUserDefaults.h. Stores are process-wide and never freed; a registry mutex
// guards the name map, and each store's own mutex guards its content (registry, then store: never the
// other way round).
#include "vornel/VNLUserDefaults.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "vnl_defaults_store.h"
#include "vornel/VNLUtilitySys.h"

struct VNLUserDefaults::Impl {
    std::mutex mutex;
    // guards:
    vnl::DefaultsStore store;
    std::wstring path;
};

namespace {

// Option files are a few kilobytes; anything past this is not one of ours and is refused before reading.
constexpr long kMaxDefaultsFileBytes = 4 * 1024 * 1024;

struct Registry {
    std::mutex mutex;
    // guards:
    std::map<std::string, VNLUserDefaults*> stores;
    VNLUserDefaults* standard = nullptr;
};

Registry& TheRegistry() {
    static Registry* registry = new Registry();
    return *registry;
}

enum class ReadResult { kRead, kMissing, kFailed };

ReadResult ReadFile(const std::wstring& path, std::string& text) {
    FILE* raw = _wfopen(path.c_str(), L"rb");
    if (raw == nullptr)
        return GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES ? ReadResult::kMissing : ReadResult::kFailed;
    std::unique_ptr<FILE, int (*)(FILE*)> file(raw, &fclose);
    if (fseek(file.get(), 0, SEEK_END) != 0) return ReadResult::kFailed;
    const long size = ftell(file.get());
    if (size < 0 || size > kMaxDefaultsFileBytes || fseek(file.get(), 0, SEEK_SET) != 0) return ReadResult::kFailed;
    text.resize(static_cast<size_t>(size));
    if (size > 0 && fread(&text[0], 1, text.size(), file.get()) != text.size()) return ReadResult::kFailed;
    return ReadResult::kRead;
}

bool WriteFileWhole(const std::wstring& path, const std::string& text) {
    // Written beside the target and renamed over it, so a crash mid-write never leaves half a file.
    const std::wstring temporary = path + L".tmp";
    {
        FILE* raw = _wfopen(temporary.c_str(), L"wb");
        if (raw == nullptr) return false;
        std::unique_ptr<FILE, int (*)(FILE*)> file(raw, &fclose);
        if (fwrite(text.data(), 1, text.size(), file.get()) != text.size()) return false;
        if (fflush(file.get()) != 0) return false;
    }
    if (!MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileW(temporary.c_str());
        return false;
    }
    return true;
}

void CreateFolders(const std::wstring& filePath) {
    for (size_t at = filePath.find(L'\\', 3); at != std::wstring::npos; at = filePath.find(L'\\', at + 1)) {
        CreateDirectoryW(filePath.substr(0, at).c_str(), nullptr);
    }
}

}  // namespace

VNLUserDefaults::VNLUserDefaults(Impl* impl) : m_impl(impl) {}
VNLUserDefaults::~VNLUserDefaults() { delete m_impl; }

bool VNLUserDefaults::InitUserDefaults(const char* name, const wchar_t* jsonPath) {
    if (name == nullptr || jsonPath == nullptr) return false;
    std::string text;
    const bool read = ReadFile(jsonPath, text) == ReadResult::kRead;
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> registryLock(registry.mutex);
    VNLUserDefaults*& store = registry.stores[name];
    if (store == nullptr) store = new VNLUserDefaults(new Impl());
    std::lock_guard<std::mutex> storeLock(store->m_impl->mutex);
    store->m_impl->path = jsonPath;
    if (!read) {
        store->m_impl->store.Parse("");
        return false;
    }
    return store->m_impl->store.Parse(text);
}

bool VNLUserDefaults::InitStandardUserDefaults(const wchar_t* brand, const wchar_t* product) {
    if (brand == nullptr || product == nullptr) return false;
    wchar_t* appData = VNLUtilitySys::GetAppDataDir();
    if (appData == nullptr) return false;
    const std::wstring path = std::wstring(appData) + brand + L"\\" + product + L"\\UserDefaults.json";
    std::free(appData);

    std::string text;
    const ReadResult result = ReadFile(path, text);
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> registryLock(registry.mutex);
    if (registry.standard == nullptr) registry.standard = new VNLUserDefaults(new Impl());
    std::lock_guard<std::mutex> storeLock(registry.standard->m_impl->mutex);
    registry.standard->m_impl->path = path;
    switch (result) {
    case ReadResult::kRead: return registry.standard->m_impl->store.Parse(text);
    case ReadResult::kMissing: registry.standard->m_impl->store.Parse("{}"); return true;
    case ReadResult::kFailed: break;
    }
    // Unreadable settings are kept empty and not overwritten blindly: WriteAll still saves, which
    // replaces a corrupt file with a sound one.
    registry.standard->m_impl->store.Parse("{}");
    return false;
}

VNLUserDefaults* VNLUserDefaults::GetUserDefaults(const char* name) {
    if (name == nullptr) return nullptr;
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    auto it = registry.stores.find(name);
    return it == registry.stores.end() ? nullptr : it->second;
}

VNLUserDefaults* VNLUserDefaults::StandardUserDefaults() {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    return registry.standard;
}

int64_t VNLUserDefaults::GetInt(const char* key, int64_t fallback) const {
    if (key == nullptr) return fallback;
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    int64_t value = 0;
    return m_impl->store.GetInt(key, value) ? value : fallback;
}

char* VNLUserDefaults::GetString(const char* key) const {
    if (key == nullptr) return nullptr;
    std::string value;
    {
        std::lock_guard<std::mutex> lock(m_impl->mutex);
        if (!m_impl->store.GetString(key, value)) return nullptr;
    }
    auto* out = static_cast<char*>(std::malloc(value.size() + 1));
    if (out != nullptr) std::memcpy(out, value.c_str(), value.size() + 1);
    return out;
}

COLORREF VNLUserDefaults::GetRGB(const char* key, COLORREF fallback) const {
    if (key == nullptr) return fallback;
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    uint32_t color = 0;
    return m_impl->store.GetRGB(key, color) ? static_cast<COLORREF>(color) : fallback;
}

bool VNLUserDefaults::IsOk() const {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->store.IsLoaded();
}

bool VNLUserDefaults::WriteAll() {
    VNLUserDefaults* standard = StandardUserDefaults();
    if (standard == nullptr) return false;
    std::string text;
    std::wstring path;
    {
        std::lock_guard<std::mutex> lock(standard->m_impl->mutex);
        text = standard->m_impl->store.Serialize();
        path = standard->m_impl->path;
    }
    if (path.empty()) return false;
    CreateFolders(path);
    return WriteFileWhole(path, text);
}
