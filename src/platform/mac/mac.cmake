# The macOS backend and Dorvane.app, included from src/CMakeLists.txt on Apple only.

set(CMAKE_OBJCXX_STANDARD 20)
set(CMAKE_OBJCXX_STANDARD_REQUIRED ON)
set(CMAKE_OBJCXX_EXTENSIONS OFF)

add_library(dorvane_mac STATIC
  platform/mac/cf_defaults.cpp
  platform/mac/cf_property_lists.cpp
  platform/mac/iokit_power_management.cpp
  platform/mac/mac_alerts.mm
  platform/mac/mac_application.mm
  platform/mac/mac_bundle.mm
  platform/mac/mac_descriptor_watch.mm
  platform/mac/mac_main_queue.mm
  platform/mac/mac_url_session.mm
  platform/mac/mac_workspace.mm
  platform/mac/menu_builder.mm
)
target_link_libraries(dorvane_mac PUBLIC dorvane_base
  "-framework AppKit" "-framework Foundation" "-framework CoreFoundation" "-framework CoreGraphics"
  "-framework IOKit")
# ARC for the Objective-C++ sources only.
target_compile_options(dorvane_mac PRIVATE $<$<COMPILE_LANGUAGE:OBJCXX>:-fobjc-arc>)
dorvane_warnings(dorvane_mac)

# Dorvane.app: our Info.plist, both string tables under Contents/Resources/<language>.lproj,
# signed ad hoc as the very last step.
set(DORVANE_STRING_TABLES)
foreach(language en zh-Hans)
  set(table ${DORVANE_RESOURCES_DIR}/${language}.lproj/Localizable.strings)
  set_source_files_properties(${table} PROPERTIES MACOSX_PACKAGE_LOCATION Resources/${language}.lproj)
  list(APPEND DORVANE_STRING_TABLES ${table})
endforeach()

add_executable(Dorvane MACOSX_BUNDLE main/main_mac.mm ${DORVANE_STRING_TABLES})
target_link_libraries(Dorvane PRIVATE dorvane_core dorvane_mac)
target_compile_options(Dorvane PRIVATE -fobjc-arc)
set_target_properties(Dorvane PROPERTIES
  MACOSX_BUNDLE_INFO_PLIST ${CMAKE_BINARY_DIR}/Info.plist
  BUILD_WITH_INSTALL_RPATH ON)
dorvane_warnings(Dorvane)
# Nothing may edit the bundle after this: a changed bundle's signature no longer holds, and an
# arm64 Mac kills such an app at launch.
# A cross-build has no codesign; its linker signs the arm64 executable ad hoc.
if(NOT CMAKE_CROSSCOMPILING)
  add_custom_command(TARGET Dorvane POST_BUILD
    COMMAND codesign --force --sign - $<TARGET_BUNDLE_DIR:Dorvane>
    VERBATIM)
endif()

install(TARGETS Dorvane BUNDLE DESTINATION .)
set(CPACK_GENERATOR DragNDrop)
set(CPACK_PACKAGE_NAME Dorvane)
set(CPACK_PACKAGE_FILE_NAME Dorvane-${PROJECT_VERSION})
set(CPACK_DMG_VOLUME_NAME Dorvane)
include(CPack)
