#pragma once
// Named user-defaults stores read from JSON files ("url" is the host's Option.json) and the standard store
// of the user's settings, kept in the application-data folder and written back by WriteAll. Keys are
// written group, colon, name. Stores live until the process ends; each guards itself, so any thread may
// read.

#include <windows.h>

#include <cstdint>

#include "vornel_export.h"

class VNL_API VNLUserDefaults {
public:
    // Opens the standard store of AppData\<brand>\<product>\UserDefaults.json (empty when the file is
    // absent); false only when an existing file cannot be read or parsed.
    static bool InitStandardUserDefaults(const wchar_t* brand, const wchar_t* product);
    // Reads a JSON file as the store `name` (replacing an earlier one); false when the file cannot be read
    // or is not a JSON object, in which case the store exists but is not loaded.
    static bool InitUserDefaults(const char* name, const wchar_t* jsonPath);
    // The store, or null when it was never opened.
    static VNLUserDefaults* GetUserDefaults(const char* name);
    static VNLUserDefaults* StandardUserDefaults();

    int64_t GetInt(const char* key, int64_t fallback = 0) const;
    // A heap UTF-8 copy, or null when the key is missing or not a string.
    char* GetString(const char* key) const;
    // A "#RRGGBB" value as a COLORREF; `fallback` when missing or malformed.
    COLORREF GetRGB(const char* key, COLORREF fallback = 0) const;
    // True when the store's file was read.
    bool IsOk() const;
    // Saves the standard store to its file; false when it cannot be written.
    static bool WriteAll();

    VNLUserDefaults(const VNLUserDefaults&) = delete;
    VNLUserDefaults& operator=(const VNLUserDefaults&) = delete;

private:
    struct Impl;
    explicit VNLUserDefaults(Impl* impl);
    ~VNLUserDefaults();
    Impl* m_impl;
};
