#pragma once
// The feature pages in the order in which the host creates and sizes them, with the view id each one is
// sent in `code` (music, videos and photos have several views; the others keep the received code or 0).
// Shared by page creation (YESTAL_COMMAND_ADDED_DEVICE) and the page size fan-out, which walk the same
// order. No state; any thread.

#include <cstdint>
#include <vector>

#include "command_names.h"

namespace trv {

enum class PageCommand { Show, ChangeSize };

struct PageTarget {
    const char* showName;
    const char* sizeName;
    int64_t code;  // kKeepCode: the received code on creation, 0 on a size change
};

constexpr int64_t kKeepCode = -1;

inline const std::vector<PageTarget>& FeaturePageOrder() {
    static const std::vector<PageTarget>* order = new std::vector<PageTarget>{
        {CORTAL_COMMAND_SHOW_WINDOW, CORTAL_COMMAND_CHANGE_SIZE, kKeepCode},
        {WENDRA_COMMAND_SHOW_WINDOW, WENDRA_COMMAND_CHANGE_SIZE, kKeepCode},
        {TELBOR_COMMAND_SHOW_WINDOW, TELBOR_COMMAND_CHANGE_SIZE, kKeepCode},
        {FAYDRA_COMMAND_SHOW_WINDOW, FAYDRA_COMMAND_CHANGE_SIZE, kKeepCode},
        {ELVIST_COMMAND_SHOW_WINDOW, ELVIST_COMMAND_CHANGE_SIZE, kKeepCode},
        {VINTOR_COMMAND_SHOW_WINDOW, VINTOR_COMMAND_CHANGE_SIZE, 13},
        {VINTOR_COMMAND_SHOW_WINDOW, VINTOR_COMMAND_CHANGE_SIZE, 15},
        {VINTOR_COMMAND_SHOW_WINDOW, VINTOR_COMMAND_CHANGE_SIZE, 14},
        {MULVAR_COMMAND_SHOW_WINDOW, MULVAR_COMMAND_CHANGE_SIZE, 9},
        {DUNMAR_COMMAND_SHOW_WINDOW, DUNMAR_COMMAND_CHANGE_SIZE, 6},
        {ARDENA_COMMAND_SHOW_WINDOW, ARDENA_COMMAND_CHANGE_SIZE, 2},
        {SORVAD_COMMAND_SHOW_WINDOW, SORVAD_COMMAND_CHANGE_SIZE, 3},
        {GAVREL_COMMAND_SHOW_WINDOW, GAVREL_COMMAND_CHANGE_SIZE, 21},
        {PIMSEL_COMMAND_SHOW_WINDOW, PIMSEL_COMMAND_CHANGE_SIZE, 0},
        {PIMSEL_COMMAND_SHOW_WINDOW, PIMSEL_COMMAND_CHANGE_SIZE, 1},
    };
    return *order;
}

inline const char* ShowOrSizeName(const PageTarget& target, PageCommand command) {
    return command == PageCommand::Show ? target.showName : target.sizeName;
}

}  // namespace trv
