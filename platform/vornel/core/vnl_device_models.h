#pragma once
// The names people know devices by, looked up from the product types that devices report ("iPhone13,1" is
// an "iPhone 12 mini"). One table for every deliverable that shows a device or a backup of one. Pure
// function, no state.

#include <string>

namespace vnl {

// The model's name for an iPhone, iPad or iPod touch product type; a type the table does not know is given
// back as it is, so that a newer device still shows something exact.
std::wstring ModelName(const std::string& productType);

}  // namespace vnl
