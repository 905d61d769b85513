# The application bundle in the build tree:
#   OrvaneVPN.app/Contents/Info.json
#   OrvaneVPN.app/Contents/bin/                       the executable
#   OrvaneVPN.app/Contents/Resources/                 images, translations, scripts
#   OrvaneVPN.app/Contents/Library/SystemExtensions/  the tunnel provider

set(ORVANE_BUILD_NUMBER "1" CACHE STRING "Build number written to the bundle as CFBundleVersion")
set(ORVANE_BUNDLE_IDENTIFIER "com.qaromac.wv")
set(ORVANE_EXECUTABLE_NAME "OrvaneVPN")

set(ORVANE_BUNDLE_DIR "${CMAKE_BINARY_DIR}/OrvaneVPN.app")
set(ORVANE_BUNDLE_CONTENTS "${ORVANE_BUNDLE_DIR}/Contents")
set(ORVANE_BUNDLE_BIN_DIR "${ORVANE_BUNDLE_CONTENTS}/bin")
set(ORVANE_BUNDLE_RESOURCES_DIR "${ORVANE_BUNDLE_CONTENTS}/Resources")
set(ORVANE_BUNDLE_EXTENSIONS_DIR "${ORVANE_BUNDLE_CONTENTS}/Library/SystemExtensions")

file(MAKE_DIRECTORY "${ORVANE_BUNDLE_BIN_DIR}" "${ORVANE_BUNDLE_RESOURCES_DIR}"
                    "${ORVANE_BUNDLE_EXTENSIONS_DIR}")

configure_file("${CMAKE_SOURCE_DIR}/resources/Info.json.in"
               "${ORVANE_BUNDLE_CONTENTS}/Info.json" @ONLY)
