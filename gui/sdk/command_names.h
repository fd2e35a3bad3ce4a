#pragma once
// The command-name table: every name that travels on the command bus, grouped by the module that owns it,
// each spelled once in its module's list below. The list yields both the name in the code (a constant
// array of the same letters) and its text, so the two cannot differ. Names are plain ASCII and are compared
// as exact byte strings (note the lower-case "iOS" in two of them). C-compatible; no threads.

// ARDENA: contacts page
#define TRV_ARDENA_COMMANDS(X)    \
    X(ARDENA_COMMAND_CHANGE_SIZE) \
    X(ARDENA_COMMAND_DO_CONTACT)  \
    X(ARDENA_COMMAND_HIDE_WINDOW) \
    X(ARDENA_COMMAND_SHOW_WINDOW)

// BRISEL: backup manager
#define TRV_BRISEL_COMMANDS(X)  \
    X(BRISEL_COMMAND_DO_BACKUP) \
    X(BRISEL_COMMAND_SHOW_WINDOW)

// CORTAL: notes page
#define TRV_CORTAL_COMMANDS(X)               \
    X(CORTAL_COMMAND_CHANGE_SIZE)            \
    X(CORTAL_COMMAND_DO_NOTE)                \
    X(CORTAL_COMMAND_GET_iOS_PRODUCTVERSION) \
    X(CORTAL_COMMAND_HIDE_WINDOW)            \
    X(CORTAL_COMMAND_SHOW_WINDOW)

// DUNMAR: bookmarks page
#define TRV_DUNMAR_COMMANDS(X)    \
    X(DUNMAR_COMMAND_CHANGE_SIZE) \
    X(DUNMAR_COMMAND_DO_BOOKMARK) \
    X(DUNMAR_COMMAND_HIDE_WINDOW) \
    X(DUNMAR_COMMAND_SHOW_WINDOW)

// ELVIST: voice-memo page
#define TRV_ELVIST_COMMANDS(X)     \
    X(ELVIST_COMMAND_CHANGE_SIZE)  \
    X(ELVIST_COMMAND_DO_RECORDING) \
    X(ELVIST_COMMAND_HIDE_WINDOW)  \
    X(ELVIST_COMMAND_SHOW_WINDOW)

// FAYDRA: ringtone page
#define TRV_FAYDRA_COMMANDS(X)    \
    X(FAYDRA_COMMAND_CHANGE_SIZE) \
    X(FAYDRA_COMMAND_DO_RINGTONE) \
    X(FAYDRA_COMMAND_HIDE_WINDOW) \
    X(FAYDRA_COMMAND_SHOW_WINDOW)

// GAVREL: apps page
#define TRV_GAVREL_COMMANDS(X)    \
    X(GAVREL_COMMAND_CHANGE_SIZE) \
    X(GAVREL_COMMAND_DO_APP)      \
    X(GAVREL_COMMAND_SHOW_WINDOW)

// KESTOR: toolkit page
#define TRV_KESTOR_COMMANDS(X)    \
    X(KESTOR_COMMAND_CHANGE_SIZE) \
    X(KESTOR_COMMAND_SHOW_WINDOW) \
    X(KESTOR_COMMAND_START_TOOL)

// LUNDER: title bar
#define TRV_LUNDER_COMMANDS(X)           \
    X(LUNDER_COMMAND_ADD_DEVICE)         \
    X(LUNDER_COMMAND_CHANGE_DEVICE)      \
    X(LUNDER_COMMAND_CHANGE_DEVICE_NAME) \
    X(LUNDER_COMMAND_CHANGE_SIZE)        \
    X(LUNDER_COMMAND_CHANGE_TYPE)        \
    X(LUNDER_COMMAND_CHECK_FOR_UPDATE)   \
    X(LUNDER_COMMAND_CREATE_TITLEBAR)    \
    X(LUNDER_COMMAND_GET_CURRENT_DEVICE) \
    X(LUNDER_COMMAND_OPEN_ABOUT)         \
    X(LUNDER_COMMAND_OPEN_FEEDBACK)      \
    X(LUNDER_COMMAND_PRESS_MAX_OR_RESET)

// MAIN: the host
#define TRV_MAIN_COMMANDS(X)    \
    X(MAIN_COMMAND_CHANGE_SIZE) \
    X(MAIN_COMMAND_CREATE_WINDOW)

// MULVAR: music page
#define TRV_MULVAR_COMMANDS(X)    \
    X(MULVAR_COMMAND_CHANGE_SIZE) \
    X(MULVAR_COMMAND_DO_MUSIC)    \
    X(MULVAR_COMMAND_SHOW_WINDOW)

// PIMSEL: photos page
#define TRV_PIMSEL_COMMANDS(X)    \
    X(PIMSEL_COMMAND_CHANGE_SIZE) \
    X(PIMSEL_COMMAND_DO_PHOTO)    \
    X(PIMSEL_COMMAND_SHOW_WINDOW)

// QUARNEL: section list
#define TRV_QUARNEL_COMMANDS(X)      \
    X(QUARNEL_COMMAND_CHANGE_SIZE)   \
    X(QUARNEL_COMMAND_CREATE_WINDOW) \
    X(QUARNEL_COMMAND_RESET_NUMBER)  \
    X(QUARNEL_COMMAND_SELECT_ITEM)   \
    X(QUARNEL_COMMAND_UPDATE_ITEM)

// SORVAD: messages page
#define TRV_SORVAD_COMMANDS(X)    \
    X(SORVAD_COMMAND_CHANGE_SIZE) \
    X(SORVAD_COMMAND_DO_SMS)      \
    X(SORVAD_COMMAND_SHOW_WINDOW)

// TELBOR: books page
#define TRV_TELBOR_COMMANDS(X)    \
    X(TELBOR_COMMAND_CHANGE_SIZE) \
    X(TELBOR_COMMAND_DO_BOOK)     \
    X(TELBOR_COMMAND_SHOW_WINDOW)

// VINTOR: videos page
#define TRV_VINTOR_COMMANDS(X)    \
    X(VINTOR_COMMAND_CHANGE_SIZE) \
    X(VINTOR_COMMAND_DO_VIDEO)    \
    X(VINTOR_COMMAND_SHOW_WINDOW)

// WENDRA: calendars page
#define TRV_WENDRA_COMMANDS(X)    \
    X(WENDRA_COMMAND_CHANGE_SIZE) \
    X(WENDRA_COMMAND_DO_CALENDAR) \
    X(WENDRA_COMMAND_SHOW_WINDOW)

// YESTAL: device overview page
#define TRV_YESTAL_COMMANDS(X)              \
    X(YESTAL_COMMAND_ADDED_DEVICE)          \
    X(YESTAL_COMMAND_CHANGE_DEVICE_NAME)    \
    X(YESTAL_COMMAND_CHANGE_SIZE)           \
    X(YESTAL_COMMAND_DEVICE_DETECT_SUPPORT) \
    X(YESTAL_COMMAND_EDIT_DEVICE_NAME)      \
    X(YESTAL_COMMAND_GET_CURRENT_CONNECT)   \
    X(YESTAL_COMMAND_HIDE_CONNECT_CHILD)    \
    X(YESTAL_COMMAND_SHOW_WINDOW)           \
    X(YESTAL_COMMAND_SWITCH_DEVICE)         \
    X(YESTAL_COMMAND_SWITCH_STATUS)         \
    X(YESTAL_COMMAND_UPDATE_DEVICE_INFO)

// ZERITH: relay module
#define TRV_ZERITH_COMMANDS(X)                       \
    X(ZERITH_COMMAND_CHANGE_DEVICE)                  \
    X(ZERITH_COMMAND_CHECK_FOR_UPDATE)               \
    X(ZERITH_COMMAND_CONNECT_DEVICE_FAIL)            \
    X(ZERITH_COMMAND_DESTROY_RESOURCE)               \
    X(ZERITH_COMMAND_DEVICE_CONNECTED)               \
    X(ZERITH_COMMAND_DEVICE_DISCONNECT)              \
    X(ZERITH_COMMAND_DOWNLOAD_AND_INSTALL_DRIVER)    \
    X(ZERITH_COMMAND_DOWNLOAD_UPDATE)                \
    X(ZERITH_COMMAND_DOWNLOAD_UPDATE_CANCEL)         \
    X(ZERITH_COMMAND_DO_APP)                         \
    X(ZERITH_COMMAND_DO_BACKUP)                      \
    X(ZERITH_COMMAND_DO_BASICINFO)                   \
    X(ZERITH_COMMAND_DO_BOOK)                        \
    X(ZERITH_COMMAND_DO_BOOKMARK)                    \
    X(ZERITH_COMMAND_DO_CALENDAR)                    \
    X(ZERITH_COMMAND_DO_CANCEL)                      \
    X(ZERITH_COMMAND_DO_CONTACT)                     \
    X(ZERITH_COMMAND_DO_FILE)                        \
    X(ZERITH_COMMAND_DO_ITUNES)                      \
    X(ZERITH_COMMAND_DO_MEDIA)                       \
    X(ZERITH_COMMAND_DO_MUSIC)                       \
    X(ZERITH_COMMAND_DO_NOTE)                        \
    X(ZERITH_COMMAND_DO_PHOTO)                       \
    X(ZERITH_COMMAND_DO_RECORDING)                   \
    X(ZERITH_COMMAND_DO_RINGTONE)                    \
    X(ZERITH_COMMAND_DO_SMS)                         \
    X(ZERITH_COMMAND_DO_VIDEO)                       \
    X(ZERITH_COMMAND_EXIT_SERVER)                    \
    X(ZERITH_COMMAND_FINISH_CONNECT_DEVICE)          \
    X(ZERITH_COMMAND_GET_DEVICE_INFO)                \
    X(ZERITH_COMMAND_GET_DEVICE_LIST)                \
    X(ZERITH_COMMAND_GET_OWNER)                      \
    X(ZERITH_COMMAND_GET_PERSONAL_PRODUCT_DIR)       \
    X(ZERITH_COMMAND_GET_iOS_PRODUCTVERSION)         \
    X(ZERITH_COMMAND_IS_DEVICE_CONNECTED)            \
    X(ZERITH_COMMAND_LOAD_ITUNES_DLL_FAIL)           \
    X(ZERITH_COMMAND_MOVE_WINDOW)                    \
    X(ZERITH_COMMAND_NOTIFY_PROGRESS)                \
    X(ZERITH_COMMAND_NOTIFY_PROGRESS_FINISH)         \
    X(ZERITH_COMMAND_NOT_PAIR)                       \
    X(ZERITH_COMMAND_PRE_DOWNLOAD_DRIVER)            \
    X(ZERITH_COMMAND_PRE_INSTALL_DRIVER)             \
    X(ZERITH_COMMAND_READY_START_SERVER)             \
    X(ZERITH_COMMAND_RECORD_TYPE)                    \
    X(ZERITH_COMMAND_RECV_DOWNLOAD_DRIVER)           \
    X(ZERITH_COMMAND_RECV_INSTALL_DRIVER)            \
    X(ZERITH_COMMAND_RECV_START_ITUNES_DLL)          \
    X(ZERITH_COMMAND_RECV_STORE_ITUNES_IS_INSTALLED) \
    X(ZERITH_COMMAND_SCAN_PROGRESS)                  \
    X(ZERITH_COMMAND_SCAN_USB_DEVICE)                \
    X(ZERITH_COMMAND_SERVER_CRASH)                   \
    X(ZERITH_COMMAND_SHOW_WINDOW)                    \
    X(ZERITH_COMMAND_START_CONNECT_DEVICE)           \
    X(ZERITH_COMMAND_START_LOAD_ITUNES_DLL)          \
    X(ZERITH_COMMAND_START_SERVER)                   \
    X(ZERITH_COMMAND_UPDATE_SECTION_TYPE)

#define TRV_EVERY_MODULE_COMMANDS(X) \
    TRV_ARDENA_COMMANDS(X)           \
    TRV_BRISEL_COMMANDS(X)           \
    TRV_CORTAL_COMMANDS(X)           \
    TRV_DUNMAR_COMMANDS(X)           \
    TRV_ELVIST_COMMANDS(X)           \
    TRV_FAYDRA_COMMANDS(X)           \
    TRV_GAVREL_COMMANDS(X)           \
    TRV_KESTOR_COMMANDS(X)           \
    TRV_LUNDER_COMMANDS(X)           \
    TRV_MAIN_COMMANDS(X)             \
    TRV_MULVAR_COMMANDS(X)           \
    TRV_PIMSEL_COMMANDS(X)           \
    TRV_QUARNEL_COMMANDS(X)          \
    TRV_SORVAD_COMMANDS(X)           \
    TRV_TELBOR_COMMANDS(X)           \
    TRV_VINTOR_COMMANDS(X)           \
    TRV_WENDRA_COMMANDS(X)           \
    TRV_YESTAL_COMMANDS(X)           \
    TRV_ZERITH_COMMANDS(X)

#ifdef __cplusplus
#define TRV_COMMAND_NAME(name) inline constexpr char name[] = #name;
#else
#define TRV_COMMAND_NAME(name) static const char name[] = #name;
#endif
TRV_EVERY_MODULE_COMMANDS(TRV_COMMAND_NAME)
#undef TRV_COMMAND_NAME

#ifdef __cplusplus
namespace sdk {
// Every name a module owns, for modules (and tests) that register or check a whole set.
#define TRV_COMMAND_ITEM(name) name,
inline constexpr const char* kArdenaCommandNames[] = {TRV_ARDENA_COMMANDS(TRV_COMMAND_ITEM)};
inline constexpr const char* kBriselCommandNames[] = {TRV_BRISEL_COMMANDS(TRV_COMMAND_ITEM)};
inline constexpr const char* kCortalCommandNames[] = {TRV_CORTAL_COMMANDS(TRV_COMMAND_ITEM)};
inline constexpr const char* kDunmarCommandNames[] = {TRV_DUNMAR_COMMANDS(TRV_COMMAND_ITEM)};
inline constexpr const char* kElvistCommandNames[] = {TRV_ELVIST_COMMANDS(TRV_COMMAND_ITEM)};
inline constexpr const char* kFaydraCommandNames[] = {TRV_FAYDRA_COMMANDS(TRV_COMMAND_ITEM)};
inline constexpr const char* kGavrelCommandNames[] = {TRV_GAVREL_COMMANDS(TRV_COMMAND_ITEM)};
inline constexpr const char* kKestorCommandNames[] = {TRV_KESTOR_COMMANDS(TRV_COMMAND_ITEM)};
inline constexpr const char* kLunderCommandNames[] = {TRV_LUNDER_COMMANDS(TRV_COMMAND_ITEM)};
inline constexpr const char* kMainCommandNames[] = {TRV_MAIN_COMMANDS(TRV_COMMAND_ITEM)};
inline constexpr const char* kMulvarCommandNames[] = {TRV_MULVAR_COMMANDS(TRV_COMMAND_ITEM)};
inline constexpr const char* kPimselCommandNames[] = {TRV_PIMSEL_COMMANDS(TRV_COMMAND_ITEM)};
inline constexpr const char* kQuarnelCommandNames[] = {TRV_QUARNEL_COMMANDS(TRV_COMMAND_ITEM)};
inline constexpr const char* kSorvadCommandNames[] = {TRV_SORVAD_COMMANDS(TRV_COMMAND_ITEM)};
inline constexpr const char* kTelborCommandNames[] = {TRV_TELBOR_COMMANDS(TRV_COMMAND_ITEM)};
inline constexpr const char* kVintorCommandNames[] = {TRV_VINTOR_COMMANDS(TRV_COMMAND_ITEM)};
inline constexpr const char* kWendraCommandNames[] = {TRV_WENDRA_COMMANDS(TRV_COMMAND_ITEM)};
inline constexpr const char* kYestalCommandNames[] = {TRV_YESTAL_COMMANDS(TRV_COMMAND_ITEM)};
inline constexpr const char* kZerithCommandNames[] = {TRV_ZERITH_COMMANDS(TRV_COMMAND_ITEM)};
#undef TRV_COMMAND_ITEM
}  // namespace sdk
#endif
