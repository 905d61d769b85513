# What `cmake --install` puts under the prefix:
#   lib/orvanevpn/OrvaneVPN.app/      the application bundle, the same tree as the build's
#   bin/orvanevpn                     a relative symlink to the bundle's executable
#   share/applications/com.qaromac.wv.desktop
#   share/icons/hicolor/scalable/apps/com.qaromac.wv.svg
#   share/metainfo/com.qaromac.wv.metainfo.xml
#   lib/orvanevpn/orvane-tunnel-service, bin/orvane-tunnelctl
#   lib/systemd/system/orvanevpn-tunnel.{socket,service}
#   share/polkit-1/actions/com.qaromac.wv.tunnel.policy
# The development backend, the reference provider and the tests stay in the build tree; the
# WireGuard provider is installed inside the bundle, as its system extension.

include(GNUInstallDirs)

# The bundle keeps its own layout, so it lives in a private directory of its own rather than in
# the multiarch library directory.
set(ORVANE_INSTALL_BUNDLE_DIR "lib/orvanevpn/OrvaneVPN.app")
set(ORVANE_PACKAGING_SOURCE_DIR "${CMAKE_SOURCE_DIR}/resources/packaging")

# Installs a program of the bundle at the same place inside the bundle as in the build tree, so
# the two trees cannot drift apart. install(TARGETS) also drops the build tree's RPATH.
function(orvane_install_bundle_program target)
    get_target_property(output_dir ${target} RUNTIME_OUTPUT_DIRECTORY)
    file(RELATIVE_PATH relative_dir "${ORVANE_BUNDLE_DIR}" "${output_dir}")
    if(relative_dir MATCHES "^\\.\\.")
        message(FATAL_ERROR "${target} is built outside the bundle, in ${output_dir}")
    endif()
    install(TARGETS ${target} RUNTIME DESTINATION "${ORVANE_INSTALL_BUNDLE_DIR}/${relative_dir}")
endfunction()

# The client and its Info.json.
orvane_install_bundle_program(orvanevpn)
install(FILES "${ORVANE_BUNDLE_CONTENTS}/Info.json"
        DESTINATION "${ORVANE_INSTALL_BUNDLE_DIR}/Contents")

# The tunnel provider, with the Info.json of its own bundle one level above its bin/.
orvane_install_bundle_program(wireguard-provider)
get_target_property(orvane_provider_bin_dir wireguard-provider RUNTIME_OUTPUT_DIRECTORY)
cmake_path(GET orvane_provider_bin_dir PARENT_PATH orvane_provider_contents)
file(RELATIVE_PATH orvane_provider_contents "${ORVANE_BUNDLE_DIR}" "${orvane_provider_contents}")
install(FILES "${ORVANE_BUNDLE_DIR}/${orvane_provider_contents}/Info.json"
        DESTINATION "${ORVANE_INSTALL_BUNDLE_DIR}/${orvane_provider_contents}")

# Resources: the SVG artwork straight from the sources and the PNGs rendered from it at build time
# (tools/artwork; by name, so none left over from older builds), the compiled translations from
# the bundle in the build tree (one .qm per .ts), and the installer check script.
set(orvane_install_resources "${ORVANE_INSTALL_BUNDLE_DIR}/Contents/Resources")
install(DIRECTORY "${CMAKE_SOURCE_DIR}/resources/images" DESTINATION "${orvane_install_resources}")
get_property(orvane_artwork_files GLOBAL PROPERTY ORVANE_ARTWORK_FILES)
install(FILES ${orvane_artwork_files} DESTINATION "${orvane_install_resources}/images")
file(GLOB orvane_ts_files CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/resources/translations/*.ts")
set(orvane_qm_files)
foreach(ts_file IN LISTS orvane_ts_files)
    cmake_path(GET ts_file STEM stem)
    list(APPEND orvane_qm_files "${ORVANE_BUNDLE_RESOURCES_DIR}/translations/${stem}.qm")
endforeach()
install(FILES ${orvane_qm_files} DESTINATION "${orvane_install_resources}/translations")
install(PROGRAMS "${CMAKE_SOURCE_DIR}/resources/install_test.sh"
        DESTINATION "${orvane_install_resources}")

# The launcher. The client finds its bundle through /proc/self/exe, which resolves the link.
set(orvane_launcher "${CMAKE_BINARY_DIR}/packaging/orvanevpn")
cmake_path(RELATIVE_PATH ORVANE_INSTALL_BUNDLE_DIR BASE_DIRECTORY "${CMAKE_INSTALL_BINDIR}"
           OUTPUT_VARIABLE orvane_launcher_target)
file(MAKE_DIRECTORY "${CMAKE_BINARY_DIR}/packaging")
file(CREATE_LINK "${orvane_launcher_target}/Contents/bin/${ORVANE_EXECUTABLE_NAME}"
     "${orvane_launcher}" SYMBOLIC)
install(FILES "${orvane_launcher}" DESTINATION "${CMAKE_INSTALL_BINDIR}")

# Desktop integration, all under the application id.
install(FILES "${ORVANE_PACKAGING_SOURCE_DIR}/${ORVANE_BUNDLE_IDENTIFIER}.desktop"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
install(FILES "${ORVANE_PACKAGING_SOURCE_DIR}/${ORVANE_BUNDLE_IDENTIFIER}.svg"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps")
install(FILES "${ORVANE_PACKAGING_SOURCE_DIR}/${ORVANE_BUNDLE_IDENTIFIER}.metainfo.xml"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")

# The tunnel service: its program beside the bundle, where the systemd unit starts it, the
# command-line client, the units and the polkit action.
set(orvane_tunnel_service_dir "${ORVANE_PACKAGING_SOURCE_DIR}/tunnel-service")
install(TARGETS orvane-tunnel-service RUNTIME DESTINATION "lib/orvanevpn")
install(TARGETS orvane-tunnelctl RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
install(FILES "${orvane_tunnel_service_dir}/orvanevpn-tunnel.socket"
              "${orvane_tunnel_service_dir}/orvanevpn-tunnel.service"
        DESTINATION "lib/systemd/system")
install(FILES "${orvane_tunnel_service_dir}/com.qaromac.wv.tunnel.policy"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/polkit-1/actions")
