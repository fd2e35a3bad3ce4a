// The model-name table; see vnl_device_models.h.
#include "vnl_device_models.h"

#include "vnl_utf8.h"

namespace vnl {
namespace {

struct Model {
    const char* productType;
    const wchar_t* name;
};

// Several product types share a name: the same model sold with other radios or storage.
// clang-format off
constexpr Model kModels[] = {
    {"iPhone1,1", L"iPhone"}, {"iPhone1,2", L"iPhone 3G"}, {"iPhone2,1", L"iPhone 3GS"},
    {"iPhone3,1", L"iPhone 4"}, {"iPhone3,2", L"iPhone 4"}, {"iPhone3,3", L"iPhone 4"},
    {"iPhone4,1", L"iPhone 4S"}, {"iPhone5,1", L"iPhone 5"}, {"iPhone5,2", L"iPhone 5"},
    {"iPhone5,3", L"iPhone 5c"}, {"iPhone5,4", L"iPhone 5c"}, {"iPhone6,1", L"iPhone 5s"},
    {"iPhone6,2", L"iPhone 5s"}, {"iPhone7,2", L"iPhone 6"}, {"iPhone7,1", L"iPhone 6 Plus"},
    {"iPhone8,1", L"iPhone 6s"}, {"iPhone8,2", L"iPhone 6s Plus"}, {"iPhone8,4", L"iPhone SE"},
    {"iPhone9,1", L"iPhone 7"}, {"iPhone9,3", L"iPhone 7"}, {"iPhone9,2", L"iPhone 7 Plus"},
    {"iPhone9,4", L"iPhone 7 Plus"}, {"iPhone10,1", L"iPhone 8"}, {"iPhone10,4", L"iPhone 8"},
    {"iPhone10,2", L"iPhone 8 Plus"}, {"iPhone10,5", L"iPhone 8 Plus"}, {"iPhone10,3", L"iPhone X"},
    {"iPhone10,6", L"iPhone X"}, {"iPhone11,2", L"iPhone XS"}, {"iPhone11,4", L"iPhone XS Max"},
    {"iPhone11,6", L"iPhone XS Max"}, {"iPhone11,8", L"iPhone XR"}, {"iPhone12,1", L"iPhone 11"},
    {"iPhone12,3", L"iPhone 11 Pro"}, {"iPhone12,5", L"iPhone 11 Pro Max"},
    {"iPhone12,8", L"iPhone SE (2nd generation)"}, {"iPhone13,1", L"iPhone 12 mini"},
    {"iPhone13,2", L"iPhone 12"}, {"iPhone13,3", L"iPhone 12 Pro"}, {"iPhone13,4", L"iPhone 12 Pro Max"},
    {"iPhone14,4", L"iPhone 13 mini"}, {"iPhone14,5", L"iPhone 13"}, {"iPhone14,2", L"iPhone 13 Pro"},
    {"iPhone14,3", L"iPhone 13 Pro Max"}, {"iPhone14,6", L"iPhone SE (3rd generation)"},
    {"iPhone14,7", L"iPhone 14"}, {"iPhone14,8", L"iPhone 14 Plus"}, {"iPhone15,2", L"iPhone 14 Pro"},
    {"iPhone15,3", L"iPhone 14 Pro Max"}, {"iPhone15,4", L"iPhone 15"}, {"iPhone15,5", L"iPhone 15 Plus"},
    {"iPhone16,1", L"iPhone 15 Pro"}, {"iPhone16,2", L"iPhone 15 Pro Max"},

    {"iPad1,1", L"iPad"}, {"iPad2,1", L"iPad 2"}, {"iPad2,2", L"iPad 2"}, {"iPad2,3", L"iPad 2"},
    {"iPad2,4", L"iPad 2"}, {"iPad2,5", L"iPad mini"}, {"iPad2,6", L"iPad mini"}, {"iPad2,7", L"iPad mini"},
    {"iPad3,1", L"iPad (3rd generation)"}, {"iPad3,2", L"iPad (3rd generation)"},
    {"iPad3,3", L"iPad (3rd generation)"}, {"iPad3,4", L"iPad (4th generation)"},
    {"iPad3,5", L"iPad (4th generation)"}, {"iPad3,6", L"iPad (4th generation)"}, {"iPad4,1", L"iPad Air"},
    {"iPad4,2", L"iPad Air"}, {"iPad4,3", L"iPad Air"}, {"iPad4,4", L"iPad mini 2"}, {"iPad4,5", L"iPad mini 2"},
    {"iPad4,6", L"iPad mini 2"}, {"iPad4,7", L"iPad mini 3"}, {"iPad4,8", L"iPad mini 3"},
    {"iPad4,9", L"iPad mini 3"}, {"iPad5,1", L"iPad mini 4"}, {"iPad5,2", L"iPad mini 4"},
    {"iPad5,3", L"iPad Air 2"}, {"iPad5,4", L"iPad Air 2"}, {"iPad6,3", L"iPad Pro (9.7-inch)"},
    {"iPad6,4", L"iPad Pro (9.7-inch)"}, {"iPad6,7", L"iPad Pro (12.9-inch)"}, {"iPad6,8", L"iPad Pro (12.9-inch)"},
    {"iPad6,11", L"iPad (5th generation)"}, {"iPad6,12", L"iPad (5th generation)"},
    {"iPad7,1", L"iPad Pro (12.9-inch, 2nd generation)"}, {"iPad7,2", L"iPad Pro (12.9-inch, 2nd generation)"},
    {"iPad7,3", L"iPad Pro (10.5-inch)"}, {"iPad7,4", L"iPad Pro (10.5-inch)"},
    {"iPad7,5", L"iPad (6th generation)"}, {"iPad7,6", L"iPad (6th generation)"},
    {"iPad7,11", L"iPad (7th generation)"}, {"iPad7,12", L"iPad (7th generation)"},
    {"iPad8,1", L"iPad Pro (11-inch)"}, {"iPad8,2", L"iPad Pro (11-inch)"}, {"iPad8,3", L"iPad Pro (11-inch)"},
    {"iPad8,4", L"iPad Pro (11-inch)"}, {"iPad8,5", L"iPad Pro (12.9-inch, 3rd generation)"},
    {"iPad8,6", L"iPad Pro (12.9-inch, 3rd generation)"}, {"iPad8,7", L"iPad Pro (12.9-inch, 3rd generation)"},
    {"iPad8,8", L"iPad Pro (12.9-inch, 3rd generation)"}, {"iPad8,9", L"iPad Pro (11-inch, 2nd generation)"},
    {"iPad8,10", L"iPad Pro (11-inch, 2nd generation)"}, {"iPad8,11", L"iPad Pro (12.9-inch, 4th generation)"},
    {"iPad8,12", L"iPad Pro (12.9-inch, 4th generation)"}, {"iPad11,1", L"iPad mini (5th generation)"},
    {"iPad11,2", L"iPad mini (5th generation)"}, {"iPad11,3", L"iPad Air (3rd generation)"},
    {"iPad11,4", L"iPad Air (3rd generation)"}, {"iPad11,6", L"iPad (8th generation)"},
    {"iPad11,7", L"iPad (8th generation)"}, {"iPad12,1", L"iPad (9th generation)"},
    {"iPad12,2", L"iPad (9th generation)"}, {"iPad13,1", L"iPad Air (4th generation)"},
    {"iPad13,2", L"iPad Air (4th generation)"}, {"iPad14,1", L"iPad mini (6th generation)"},
    {"iPad14,2", L"iPad mini (6th generation)"},

    {"iPod1,1", L"iPod touch"}, {"iPod2,1", L"iPod touch (2nd generation)"},
    {"iPod3,1", L"iPod touch (3rd generation)"}, {"iPod4,1", L"iPod touch (4th generation)"},
    {"iPod5,1", L"iPod touch (5th generation)"}, {"iPod7,1", L"iPod touch (6th generation)"},
    {"iPod9,1", L"iPod touch (7th generation)"},
};
// clang-format on

}  // namespace

std::wstring ModelName(const std::string& productType) {
    for (const Model& model : kModels) {
        if (productType == model.productType) return model.name;
    }
    return WideFromUtf8(productType);
}

}  // namespace vnl
