# The application bundle in the build tree:
#   OrvaneVPN.app/Contents/Info.json
#   OrvaneVPN.app/Contents/bin/                       the executable
#   OrvaneVPN.app/Contents/Resources/                 images, translations, scripts
#   OrvaneVPN.app/Contents/Library/SystemExtensions/  the tunnel provider (WireGuard)
# and, for the tests, a bundle that holds only the reference provider as its system extension:
#   fixtures/ReferenceProvider.app/Contents/Library/SystemExtensions/

set(ORVANE_BUILD_NUMBER "1" CACHE STRING "Build number written to the bundle as CFBundleVersion")
set(ORVANE_BUNDLE_IDENTIFIER "com.qaromac.wv")
set(ORVANE_EXECUTABLE_NAME "OrvaneVPN")

set(ORVANE_BUNDLE_DIR "${CMAKE_BINARY_DIR}/OrvaneVPN.app")
set(ORVANE_BUNDLE_CONTENTS "${ORVANE_BUNDLE_DIR}/Contents")
set(ORVANE_BUNDLE_BIN_DIR "${ORVANE_BUNDLE_CONTENTS}/bin")
set(ORVANE_BUNDLE_RESOURCES_DIR "${ORVANE_BUNDLE_CONTENTS}/Resources")
set(ORVANE_BUNDLE_EXTENSIONS_DIR "${ORVANE_BUNDLE_CONTENTS}/Library/SystemExtensions")

set(ORVANE_REFERENCE_BUNDLE_DIR "${CMAKE_BINARY_DIR}/fixtures/ReferenceProvider.app")
set(ORVANE_PROVIDER_IDENTIFIER "com.qaromac.wv.sysne")
set(ORVANE_PROVIDER_NAME "OrvaneVPN Tunnel")

file(MAKE_DIRECTORY "${ORVANE_BUNDLE_BIN_DIR}" "${ORVANE_BUNDLE_RESOURCES_DIR}"
                    "${ORVANE_BUNDLE_EXTENSIONS_DIR}")

configure_file("${CMAKE_SOURCE_DIR}/resources/Info.json.in"
               "${ORVANE_BUNDLE_CONTENTS}/Info.json" @ONLY)
configure_file("${CMAKE_SOURCE_DIR}/resources/Info.json.in"
               "${ORVANE_REFERENCE_BUNDLE_DIR}/Contents/Info.json" @ONLY)

# Builds a provider program as the system extension of the bundle in bundle_dir, with the
# extension's Info.json beside its bin/.
function(orvane_add_provider_bundle target bundle_dir)
    set(extension_dir
        "${bundle_dir}/Contents/Library/SystemExtensions/${ORVANE_PROVIDER_IDENTIFIER}.systemextension")
    get_target_property(ORVANE_PROVIDER_EXECUTABLE ${target} OUTPUT_NAME)
    if(NOT ORVANE_PROVIDER_EXECUTABLE)
        set(ORVANE_PROVIDER_EXECUTABLE ${target})
    endif()
    set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${extension_dir}/Contents/bin")
    configure_file("${CMAKE_SOURCE_DIR}/cmake/ProviderInfo.json.in"
                   "${extension_dir}/Contents/Info.json" @ONLY)
endfunction()
