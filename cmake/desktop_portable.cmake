# The desktop's portable logic, listed once: one static library per folder, built by both trees from this
# file. The native tree (cmake/desktop.cmake) links them into the native unit tests; the Windows tree
# (gui/CMakeLists.txt) links them into the deliverables. The caller names the logging, JSON and zlib
# targets of its toolchain and the warning flags.
#
#   trv_add_desktop_portable_libraries(ROOT <source root> LOG <target> JSON <target or empty>
#                                      ZLIB <target> WARNINGS <flags...>)
function(trv_add_desktop_portable_libraries)
  cmake_parse_arguments(ARG "" "ROOT;LOG;JSON;ZLIB" "WARNINGS" ${ARGN})
  set(root ${ARG_ROOT})

  # The records every deliverable compiles against (headers only).
  add_library(trv_sdk INTERFACE)
  target_include_directories(trv_sdk INTERFACE ${root}/gui/sdk)

  add_library(vnl_core STATIC
    ${root}/platform/vornel/core/vnl_defaults_store.cpp
    ${root}/platform/vornel/core/vnl_device_models.cpp
    ${root}/platform/vornel/core/vnl_size_text.cpp
    ${root}/platform/vornel/core/vnl_stored_zip.cpp
    ${root}/platform/vornel/core/vnl_utf8.cpp
    ${root}/platform/vornel/core/vnl_version.cpp)
  target_include_directories(vnl_core PUBLIC ${root}/platform/vornel/core)
  target_link_libraries(vnl_core PRIVATE ${ARG_JSON})

  add_library(trv_controls_core STATIC
    ${root}/gui/controls/control_geometry.cpp
    ${root}/gui/controls/list_rules.cpp
    ${root}/gui/controls/VNLObserver.cpp
    ${root}/gui/controls/VNLSubject.cpp)
  target_include_directories(trv_controls_core PUBLIC ${root}/gui/controls)
  target_link_libraries(trv_controls_core PUBLIC trv_sdk)

  # The list pages' portable rules: the batch sequence rule, the host-reply routing table, the drop's paths,
  # the voice-memo and ringtone pages' search and sort and the text of a new identifier.
  add_library(trv_pages_core STATIC
    ${root}/gui/pages/dropped_paths.cpp
    ${root}/gui/pages/guid_text.cpp
    ${root}/gui/pages/list_sort.cpp
    ${root}/gui/pages/media_rules.cpp
    ${root}/gui/pages/page_replies.cpp
    ${root}/gui/pages/page_sequence.cpp)
  target_include_directories(trv_pages_core PUBLIC ${root}/gui/pages)
  target_link_libraries(trv_pages_core PUBLIC trv_sdk)

  add_library(trevane_host_core STATIC
    ${root}/gui/src/backup_feature.cpp
    ${root}/gui/src/backup_listeners.cpp
    ${root}/gui/src/command_bus.cpp
    ${root}/gui/src/contacts_feature.cpp
    ${root}/gui/src/crash_description.cpp
    ${root}/gui/src/dialog_commands.cpp
    ${root}/gui/src/dialog_layout.cpp
    ${root}/gui/src/device_handlers.cpp
    ${root}/gui/src/feature_relay.cpp
    ${root}/gui/src/feature_table.cpp
    ${root}/gui/src/frame_geometry.cpp
    ${root}/gui/src/host_commands.cpp
    ${root}/gui/src/host_paths.cpp
    ${root}/gui/src/host_platform.cpp
    ${root}/gui/src/host_ui.cpp
    ${root}/gui/src/info_features.cpp
    ${root}/gui/src/link_runs.cpp
    ${root}/gui/src/media_features.cpp
    ${root}/gui/src/notes_feature.cpp
    ${root}/gui/src/plugin_loader.cpp
    ${root}/gui/src/product_identity.cpp
    ${root}/gui/src/progress_state.cpp
    ${root}/gui/src/section_routing.cpp
    ${root}/gui/src/update_flow.cpp
    ${root}/gui/src/window_layout.cpp)
  target_include_directories(trevane_host_core PUBLIC ${root}/gui/src)
  target_link_libraries(trevane_host_core PUBLIC trv_sdk trv_controls_core vnl_core ${ARG_LOG} PRIVATE ${ARG_JSON})

  add_library(ardena_core STATIC
    ${root}/plugins/Ardena/contact_editor_rules.cpp
    ${root}/plugins/Ardena/contact_page_model.cpp
    ${root}/plugins/Ardena/contact_rules.cpp)
  target_include_directories(ardena_core PUBLIC ${root}/plugins/Ardena)
  target_link_libraries(ardena_core PUBLIC trv_sdk trv_controls_core trv_pages_core)

  # The notes, voice-memo and ringtone pages' search and sort rules.
  add_library(cortal_core STATIC ${root}/plugins/Cortal/note_rules.cpp)
  target_include_directories(cortal_core PUBLIC ${root}/plugins/Cortal)
  target_link_libraries(cortal_core PUBLIC trv_pages_core)
  add_library(dunmar_core STATIC ${root}/plugins/Dunmar/bookmark_model.cpp)
  target_include_directories(dunmar_core PUBLIC ${root}/plugins/Dunmar)
  target_link_libraries(dunmar_core PUBLIC trv_pages_core)
  add_library(brisel_core STATIC ${root}/plugins/Brisel/backup_list.cpp ${root}/plugins/Brisel/backup_runs.cpp
    ${root}/plugins/Brisel/device_choice.cpp)
  target_include_directories(brisel_core PUBLIC ${root}/plugins/Brisel)
  target_link_libraries(brisel_core PUBLIC vnl_core trv_sdk)

  # The outside pages' stand-ins: the device page's texts and the section list's per-device counters.
  add_library(standin_pages_core STATIC ${root}/platform/pages/device_summary.cpp ${root}/platform/pages/section_counts.cpp)
  target_include_directories(standin_pages_core PUBLIC ${root}/platform/pages)
  target_link_libraries(standin_pages_core PUBLIC vnl_core)

  add_library(relay_core STATIC
    ${root}/platform/relay/relay_contacts.cpp
    ${root}/platform/relay/relay_contacts_codec.cpp
    ${root}/platform/relay/relay_contacts_files.cpp
    ${root}/platform/relay/relay_devices.cpp
    ${root}/platform/relay/relay_exports.cpp
    ${root}/platform/relay/relay_feature.cpp
    ${root}/platform/relay/relay_features.cpp
    ${root}/platform/relay/relay_rename.cpp
    ${root}/platform/relay/relay_update.cpp
    ${root}/platform/relay/relay_drivers.cpp
    ${root}/platform/relay/relay_apps.cpp
    ${root}/platform/relay/relay_backups.cpp
    ${root}/platform/relay/relay_bookmarks.cpp
    ${root}/platform/relay/relay_books.cpp
    ${root}/platform/relay/relay_calendars.cpp
    ${root}/platform/relay/relay_cells.cpp
    ${root}/platform/relay/relay_lists.cpp
    ${root}/platform/relay/relay_message_exports.cpp
    ${root}/platform/relay/relay_messages.cpp
    ${root}/platform/relay/relay_music.cpp
    ${root}/platform/relay/relay_notes.cpp
    ${root}/platform/relay/relay_photos.cpp
    ${root}/platform/relay/relay_recordings.cpp
    ${root}/platform/relay/relay_ringtones.cpp
    ${root}/platform/relay/relay_videos.cpp
    ${root}/platform/relay/relay_paths.cpp
    ${root}/platform/relay/relay_wire.cpp
    ${root}/platform/relay/relay_xml.cpp
    ${root}/platform/relay/relay_actions.cpp)
  target_include_directories(relay_core PUBLIC ${root}/platform/relay)
  target_link_libraries(relay_core PUBLIC trv_sdk vnl_core ${ARG_ZLIB} PRIVATE ${ARG_JSON})

  foreach(target vnl_core trv_controls_core trv_pages_core trevane_host_core ardena_core brisel_core cortal_core dunmar_core
                 relay_core)
    target_compile_options(${target} PRIVATE ${ARG_WARNINGS})
  endforeach()
endfunction()
