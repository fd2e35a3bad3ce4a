# The desktop side in the native build: the native unit tests of the host's portable logic, and the
# 32-bit Windows tree (gui/CMakeLists.txt) as an external project whose Wine tests are registered here, so
# that one `ctest` in the native build folder runs everything. The sanitizer build skips the Windows tree
# (it is not affected by the sanitizer flags and would only be built twice).

# --- Native unit tests of the portable host logic --------------------------------------------------
set(TRV_SOURCE_ROOT ${CMAKE_CURRENT_LIST_DIR}/..)
# The same portable libraries the Windows tree links into its deliverables (cmake/desktop_portable.cmake),
# with the same warnings as there (gui/CMakeLists.txt): the service's, -Wshadow included.
include(${CMAKE_CURRENT_LIST_DIR}/desktop_portable.cmake)
trv_add_desktop_portable_libraries(ROOT ${TRV_SOURCE_ROOT} LOG PkgConfig::GLOG JSON "" ZLIB ZLIB::ZLIB
                                   WARNINGS ${HLX_SERVICE_WARNINGS})
add_executable(trevane_desktop_tests
  ${TRV_SOURCE_ROOT}/tests/desktop/backup_dialogs_test.cpp
  ${TRV_SOURCE_ROOT}/tests/desktop/backup_list_test.cpp
  ${TRV_SOURCE_ROOT}/tests/desktop/backup_listeners_test.cpp
  ${TRV_SOURCE_ROOT}/tests/desktop/bookmark_model_test.cpp
  ${TRV_SOURCE_ROOT}/tests/desktop/bus_test_support.cpp
  ${TRV_SOURCE_ROOT}/tests/desktop/command_bus_test.cpp
  ${TRV_SOURCE_ROOT}/tests/desktop/contact_editor_rules_test.cpp
  ${TRV_SOURCE_ROOT}/tests/desktop/contact_page_model_test.cpp
  ${TRV_SOURCE_ROOT}/tests/desktop/contact_rules_test.cpp
  ${TRV_SOURCE_ROOT}/tests/desktop/contacts_relay_test.cpp
  ${TRV_SOURCE_ROOT}/tests/desktop/control_rules_test.cpp
  ${TRV_SOURCE_ROOT}/tests/desktop/crash_description_test.cpp
  ${TRV_SOURCE_ROOT}/tests/desktop/dialog_commands_test.cpp
  ${TRV_SOURCE_ROOT}/tests/desktop/dialog_layout_test.cpp
  ${TRV_SOURCE_ROOT}/tests/desktop/feature_relays_test.cpp
  ${TRV_SOURCE_ROOT}/tests/desktop/host_routing_test.cpp
  ${TRV_SOURCE_ROOT}/tests/desktop/host_rules_test.cpp
  ${TRV_SOURCE_ROOT}/tests/desktop/list_page_rules_test.cpp
  ${TRV_SOURCE_ROOT}/tests/desktop/page_replies_test.cpp
  ${TRV_SOURCE_ROOT}/tests/desktop/page_replies_test.cpp
  ${TRV_SOURCE_ROOT}/tests/desktop/page_support_test.cpp
  ${TRV_SOURCE_ROOT}/tests/desktop/plugin_loader_test.cpp
  ${TRV_SOURCE_ROOT}/tests/desktop/python_check.cpp
  ${TRV_SOURCE_ROOT}/tests/desktop/relay_actions_test.cpp
  ${TRV_SOURCE_ROOT}/tests/desktop/relay_page_actions_test.cpp
  ${TRV_SOURCE_ROOT}/tests/desktop/relay_cells_test.cpp
  ${TRV_SOURCE_ROOT}/tests/desktop/relay_contacts_codec_test.cpp
  ${TRV_SOURCE_ROOT}/tests/desktop/relay_contacts_files_test.cpp
  ${TRV_SOURCE_ROOT}/tests/desktop/relay_contacts_test.cpp
  ${TRV_SOURCE_ROOT}/tests/desktop/relay_devices_test.cpp
  ${TRV_SOURCE_ROOT}/tests/desktop/relay_exports_test.cpp
  ${TRV_SOURCE_ROOT}/tests/desktop/relay_features_test.cpp
  ${TRV_SOURCE_ROOT}/tests/desktop/relay_drivers_test.cpp
  ${TRV_SOURCE_ROOT}/tests/desktop/relay_lists_test.cpp
  ${TRV_SOURCE_ROOT}/tests/desktop/relay_paths_test.cpp
  ${TRV_SOURCE_ROOT}/tests/desktop/relay_rename_test.cpp
  ${TRV_SOURCE_ROOT}/tests/desktop/relay_update_test.cpp
  ${TRV_SOURCE_ROOT}/tests/desktop/relay_wire_test.cpp
  ${TRV_SOURCE_ROOT}/tests/desktop/standin_pages_test.cpp
  ${TRV_SOURCE_ROOT}/tests/desktop/update_flow_test.cpp
  ${TRV_SOURCE_ROOT}/tests/desktop/vornel_core_test.cpp)
target_include_directories(trevane_desktop_tests PRIVATE ${TRV_SOURCE_ROOT}/tests/desktop)
target_compile_options(trevane_desktop_tests PRIVATE ${HLX_SERVICE_WARNINGS})
target_compile_definitions(trevane_desktop_tests PRIVATE TRV_PYTHON="${Python3_EXECUTABLE}")
target_link_libraries(trevane_desktop_tests PRIVATE trevane_host_core ardena_core brisel_core cortal_core dunmar_core
  standin_pages_core relay_core PkgConfig::GLOG
  GTest::gtest GTest::gtest_main ZLIB::ZLIB)
include(GoogleTest)
gtest_discover_tests(trevane_desktop_tests TEST_PREFIX "desktop." DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 60)

# --- The 32-bit Windows tree under Wine ---------------------------------------------------------------
if(HLX_SANITIZE)
  message(STATUS "desktop: sanitizer build, the Windows tree is built by the plain build only")
  return()
endif()

# The shipped target is 32-bit Windows; a machine whose kernel cannot execute 32-bit programs cannot start
# 32-bit Wine, so there the tests build and run the same sources for 64-bit Windows under 64-bit Wine.
execute_process(COMMAND bash ${TRV_SOURCE_ROOT}/scripts/desktop-target.sh
  OUTPUT_VARIABLE TRV_TARGET_ARCH OUTPUT_STRIP_TRAILING_WHITESPACE)
set(TRV_WINE_TEST_ENVIRONMENT "")
if(TRV_TARGET_ARCH STREQUAL "x86_64")
  # A normal condition of such a machine, not a fault: a plain status line.
  message(STATUS "desktop: this machine cannot execute 32-bit programs; the desktop tests build for 64-bit "
                 "Windows and run under 64-bit Wine")
  set(TRV_WINE_TEST_ENVIRONMENT "PATH=${TRV_SOURCE_ROOT}/scripts/wine64:$ENV{PATH}")
else()
  set(TRV_TARGET_ARCH i686)
endif()
find_program(TRV_MINGW_CXX NAMES ${TRV_TARGET_ARCH}-w64-mingw32-g++-posix ${TRV_TARGET_ARCH}-w64-mingw32-g++)
find_program(TRV_WINE wine)
find_program(TRV_XVFB Xvfb)
if(NOT TRV_MINGW_CXX OR NOT TRV_WINE OR NOT TRV_XVFB)
  message(FATAL_ERROR "desktop: the MinGW cross compiler, wine and Xvfb are required (scripts/setup.sh installs them)")
endif()

include(ExternalProject)
set(TRV_DESKTOP_BINARY_DIR ${CMAKE_BINARY_DIR}/desktop)
set(TRV_DESKTOP_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
ExternalProject_Add(trevane_desktop
  SOURCE_DIR ${TRV_SOURCE_ROOT}/gui
  BINARY_DIR ${TRV_DESKTOP_BINARY_DIR}
  CMAKE_ARGS
    -DCMAKE_TOOLCHAIN_FILE=${TRV_SOURCE_ROOT}/cmake/mingw-${TRV_TARGET_ARCH}.cmake
    -DCMAKE_BUILD_TYPE=Release
    -DTRV_WERROR=${HLX_WERROR}
    -DTRV_WINEPREFIX=${TRV_DESKTOP_WINEPREFIX}
    -DPython3_EXECUTABLE=${Python3_EXECUTABLE}
  BUILD_ALWAYS ON
  INSTALL_COMMAND ""
  USES_TERMINAL_BUILD ON)

# Where the tests run the 64-bit build, the shipped 32-bit tree is still compiled (not run), so that code
# that only the 32-bit target rejects (the Win32 calling convention of callbacks) cannot land unseen.
if(TRV_TARGET_ARCH STREQUAL "x86_64")
  find_program(TRV_MINGW32_CXX NAMES i686-w64-mingw32-g++-posix i686-w64-mingw32-g++)
  if(NOT TRV_MINGW32_CXX)
    message(FATAL_ERROR "desktop: the 32-bit MinGW cross compiler is required (scripts/setup.sh installs it)")
  endif()
  ExternalProject_Add(trevane_desktop_i686
    SOURCE_DIR ${TRV_SOURCE_ROOT}/gui
    BINARY_DIR ${CMAKE_BINARY_DIR}/desktop-i686
    CMAKE_ARGS
      -DCMAKE_TOOLCHAIN_FILE=${TRV_SOURCE_ROOT}/cmake/mingw-i686.cmake
      -DCMAKE_BUILD_TYPE=Release
      -DTRV_WERROR=${HLX_WERROR}
      -DPython3_EXECUTABLE=${Python3_EXECUTABLE}
    BUILD_ALWAYS ON
    INSTALL_COMMAND ""
    USES_TERMINAL_BUILD ON)
endif()

# The runnable desktop (the target scripts/run-desktop.sh builds) holds every module the host's tables name.
add_test(NAME desktop.plugin_folder
  COMMAND ${Python3_EXECUTABLE} ${TRV_SOURCE_ROOT}/scripts/desktop_modules.py --build ${TRV_DESKTOP_BINARY_DIR}
          --ninja ${CMAKE_MAKE_PROGRAM})

# Every Wine test shares one prefix and one wineserver, so they run one at a time (RESOURCE_LOCK); the
# prefix is made once by a fixture and the wineserver stopped by another at the end.
add_test(NAME desktop.wine.prefix
  COMMAND ${TRV_SOURCE_ROOT}/tests/gui/wine_prefix.sh ${TRV_DESKTOP_WINEPREFIX} init)
add_test(NAME desktop.wine.stop
  COMMAND ${TRV_SOURCE_ROOT}/tests/gui/wine_prefix.sh ${TRV_DESKTOP_WINEPREFIX} stop)
set_tests_properties(desktop.wine.prefix PROPERTIES FIXTURES_SETUP trv_wine RESOURCE_LOCK trv_wine TIMEOUT 300
  ENVIRONMENT "${TRV_WINE_TEST_ENVIRONMENT}")
set_tests_properties(desktop.wine.stop PROPERTIES FIXTURES_CLEANUP trv_wine RESOURCE_LOCK trv_wine TIMEOUT 60
  ENVIRONMENT "${TRV_WINE_TEST_ENVIRONMENT}")

# The tests of the Windows tree, by the names it gives them (tests/gui/CMakeLists.txt).
set(TRV_WINE_TESTS vornel_wine_tests host_wine_tests trevane_scenarios)
foreach(name ${TRV_WINE_TESTS})
  add_test(NAME desktop.wine.${name}
    COMMAND ${CMAKE_CTEST_COMMAND} --test-dir ${TRV_DESKTOP_BINARY_DIR} -R "^${name}$" --output-on-failure
            --no-tests=error)
  set_tests_properties(desktop.wine.${name} PROPERTIES
    FIXTURES_REQUIRED trv_wine RESOURCE_LOCK trv_wine TIMEOUT 600 ENVIRONMENT "${TRV_WINE_TEST_ENVIRONMENT}")
endforeach()

# The Wine scenarios against the device service Harlix and the simulated device library, which the native
# build makes: registered here rather than in the Windows tree, which knows neither. Each runs
# tests/gui/<name>_scenario.py on the desktop of the Windows tree; extra arguments follow the common ones.
function(trv_add_service_scenario name)
  add_test(NAME desktop.wine.${name}
    COMMAND ${Python3_EXECUTABLE} ${TRV_SOURCE_ROOT}/tests/gui/${name}_scenario.py
            --app ${TRV_DESKTOP_BINARY_DIR}/app --winprobe ${TRV_DESKTOP_BINARY_DIR}/tests/gui/bin/winprobe.exe
            --prefix ${TRV_DESKTOP_WINEPREFIX} --prefix-script ${TRV_SOURCE_ROOT}/tests/gui/wine_prefix.sh
            --screenshots ${TRV_DESKTOP_BINARY_DIR}/screenshots --harlix $<TARGET_FILE:Harlix>
            --devices ${HLX_APPLE_SUPPORT_DIR} --tools ${TRV_SOURCE_ROOT}/tools ${ARGN})
  set_tests_properties(desktop.wine.${name} PROPERTIES
    FIXTURES_REQUIRED trv_wine RESOURCE_LOCK trv_wine TIMEOUT 600
    ENVIRONMENT "PYTHONDONTWRITEBYTECODE=1;${TRV_WINE_TEST_ENVIRONMENT}")
endfunction()

set(TRV_CONTACTS_PROBE ${TRV_DESKTOP_BINARY_DIR}/tests/gui/bin/probes/libcontacts_probe.dll)
set(TRV_BACKUP_PROBE ${TRV_DESKTOP_BINARY_DIR}/tests/gui/bin/probes/libbackup_probe.dll)
# The relay module in service mode: devices, contacts, notes, bookmarks and backups through the real service.
trv_add_service_scenario(relay_service --contacts-probe ${TRV_CONTACTS_PROBE} --backup-probe ${TRV_BACKUP_PROBE})
# What a user reaches from the title bar and the toolkit, and the device page's connection hints.
trv_add_service_scenario(title_bar --backup-probe ${TRV_BACKUP_PROBE})
# Every feature section of a fully loaded simulated iPhone as its table stand-in shows it.
trv_add_service_scenario(sections)
# What a person does on the outside feature pages (uninstall, import, delete), checked on the device image.
trv_add_service_scenario(page_actions)
# What the desktop shows of a simulated iPhone where a person looks: notices over the pages alone, an
# export's notice naming its folder, long contact names and groups whole.
trv_add_service_scenario(screen)
