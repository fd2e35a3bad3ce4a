#pragma once
// The control ids of the contacts page and its group panel (WM_COMMAND and WM_NOTIFY).

namespace ardena::page_ids {
constexpr int kNew = 5000;
constexpr int kUnfold = 5001;
constexpr int kFold = 5002;
constexpr int kRefresh = 5003;
constexpr int kDelete = 5004;
constexpr int kSearchButton = 5005;
constexpr int kSearchEdit = 5006;
constexpr int kEdit = 5007;
constexpr int kExport = 5008;
constexpr int kImport = 5009;
constexpr int kList = 5011;
constexpr int kContinue = 5014;
constexpr int kAllTree = 5015;
constexpr int kGroupTree = 5016;
constexpr int kAddGroup = 5017;
constexpr int kRemoveGroup = 5018;
constexpr int kOk = 5019;
}  // namespace ardena::page_ids
